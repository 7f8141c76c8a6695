#include <cmath>
#include <cstdlib>
#include <new>

#include "geometry/geometry.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define FOTOLUME_PLAIN_ALLOCATION 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOTOLUME_PLAIN_ALLOCATION 1
#endif
#endif

namespace fotolume {
namespace {

#ifdef FOTOLUME_PLAIN_ALLOCATION
// Under AddressSanitizer every block comes from the general allocator, so a
// block used after its vector died is caught instead of hidden by a pool.
double* allocateBlock() { return new double[3]; }
void releaseBlock(double* block) { delete[] block; }
#else
// Every vector owns a block of three doubles, and a render makes and drops
// millions of them; a free list makes that a pointer swap. Blocks are
// carved from large chunks that live until the process ends (the free list
// keeps them reachable). The program is single-threaded.
union Block {
    Block* next;
    double values[3];
};

Block* freeList = nullptr;

void refill() {
    constexpr std::size_t blocksPerChunk = 4096;
    void* chunk = std::malloc(sizeof(Block) * blocksPerChunk);
    if (chunk == nullptr) throw std::bad_alloc();
    Block* blocks = static_cast<Block*>(chunk);
    for (std::size_t i = 0; i + 1 < blocksPerChunk; ++i) blocks[i].next = &blocks[i + 1];
    blocks[blocksPerChunk - 1].next = freeList;
    freeList = blocks;
}

double* allocateBlock() {
    if (freeList == nullptr) refill();
    Block* block = freeList;
    freeList = block->next;
    return block->values;
}

void releaseBlock(double* values) {
    Block* block = reinterpret_cast<Block*>(values);
    block->next = freeList;
    freeList = block;
}
#endif

}  // namespace

Vetor::Vetor() : block_(allocateBlock()) {
    block_[0] = 0.0;
    block_[1] = 0.0;
    block_[2] = 0.0;
}

Vetor::Vetor(const double a[3]) : block_(allocateBlock()) {
    block_[0] = a[0];
    block_[1] = a[1];
    block_[2] = a[2];
}

Vetor::Vetor(double x, double y, double z) : block_(allocateBlock()) { set(*this, x, y, z); }

Vetor::Vetor(const Vetor& other) : block_(allocateBlock()) {
    block_[0] = other.block_[0];
    block_[1] = other.block_[1];
    block_[2] = other.block_[2];
}

Vetor& Vetor::operator=(const Vetor& other) {
    if (this != &other) {
        block_[0] = other.block_[0];
        block_[1] = other.block_[1];
        block_[2] = other.block_[2];
    }
    return *this;
}

Vetor::~Vetor() { releaseBlock(block_); }

void set(Vetor& v, double x, double y, double z) {
    v[0] = x;
    v[1] = y;
    v[2] = z;
}

// The sums start from 0.0 and add component 0, 1, 2 in turn; starting from
// +0.0 also fixes the sign of a zero result.
double length(const Vetor& v) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) sum = v[i] * v[i] + sum;
    return std::sqrt(sum);
}

// Multiplies by the reciprocal rather than dividing each component: the two
// differ in the last bit for many inputs, and the images depend on it.
void normalize(Vetor& v) {
    const double r = 1.0 / length(v);
    // The same products as scale(r, v), written in place.
    v[0] = r * v[0];
    v[1] = r * v[1];
    v[2] = r * v[2];
}

Vetor add(const Vetor& a, const Vetor& b) { return Vetor(a[0] + b[0], a[1] + b[1], a[2] + b[2]); }

Vetor subtract(const Vetor& a, const Vetor& b) {
    return Vetor(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

Vetor scale(double s, const Vetor& v) { return Vetor(s * v[0], s * v[1], s * v[2]); }

Vetor scale(const Vetor& v, double s) { return scale(s, v); }

double dot(const Vetor& a, const Vetor& b) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) sum = a[i] * b[i] + sum;
    return sum;
}

Vetor cross(const Vetor& a, const Vetor& b) {
    return Vetor(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
}

}  // namespace fotolume
