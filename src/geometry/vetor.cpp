#include <cstdlib>
#include <new>

#include "geometry/geometry.hpp"

namespace fotolume::detail {

#ifndef FOTOLUME_PLAIN_ALLOCATION
Block* freeList = nullptr;

// Chunks live until the process ends; the free list keeps them reachable.
Block* refillFreeList() {
    constexpr std::size_t blocksPerChunk = 4096;
    Block* blocks = static_cast<Block*>(std::malloc(sizeof(Block) * blocksPerChunk));
    if (blocks == nullptr) throw std::bad_alloc();
    for (std::size_t i = 0; i + 1 < blocksPerChunk; ++i) blocks[i].next = &blocks[i + 1];
    blocks[blocksPerChunk - 1].next = freeList;
    freeList = blocks;
    return blocks;
}
#endif

}  // namespace fotolume::detail
