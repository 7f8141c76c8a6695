#include <new>

#include "geometry/geometry.hpp"

namespace fotolume::detail {

#ifndef FOTOLUME_PLAIN_ALLOCATION
namespace {
constexpr std::size_t blocksPerChunk = 4096;
// The first chunk is static storage: the global tables' vectors are built
// before main from it, so start-up itself never allocates and cannot fail.
Block firstChunk[blocksPerChunk];
// Set once, by the first refill: static initialisation, before any thread
// exists; render threads only read it.
bool firstChunkTaken = false;
}  // namespace

// Chunks live until the process ends; the free list keeps them reachable.
Block* refillFreeList() {
    Block* blocks = firstChunk;
    // operator new, so that running out of memory takes the program's one
    // way of handling it.
    if (firstChunkTaken)
        blocks = static_cast<Block*>(::operator new(sizeof(Block) * blocksPerChunk));
    else
        firstChunkTaken = true;
    for (std::size_t i = 0; i + 1 < blocksPerChunk; ++i) blocks[i].next = &blocks[i + 1];
    blocks[blocksPerChunk - 1].next = freeList;
    freeList = blocks;
    return blocks;
}
#endif

}  // namespace fotolume::detail
