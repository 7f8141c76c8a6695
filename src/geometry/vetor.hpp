// The vector type. Defined inline because a render makes and drops millions
// of vectors; geometry.hpp is the interface that includes it.
#pragma once

#include <cmath>

#if defined(__SANITIZE_ADDRESS__)
#define FOTOLUME_PLAIN_ALLOCATION 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOTOLUME_PLAIN_ALLOCATION 1
#endif
#endif

namespace fotolume {

namespace detail {
#ifdef FOTOLUME_PLAIN_ALLOCATION
// Under AddressSanitizer every block comes from the general allocator, so a
// block used after its vector died is caught instead of hidden by a pool.
inline double* allocateBlock() { return new double[3]; }
inline void releaseBlock(double* block) { delete[] block; }
#else
// Blocks of three doubles from a free list: allocation is a pointer swap.
// Each thread has its own list, so render threads never contend; a vector
// is released on the thread that made it.
union Block {
    Block* next;
    double values[3];
};
// Inline with a constant initialiser, so access is a plain thread-local load.
inline thread_local Block* freeList = nullptr;
Block* refillFreeList();  // carves a new chunk (operator new)

inline double* allocateBlock() {
    Block* block = freeList != nullptr ? freeList : refillFreeList();
    freeList = block->next;
    return block->values;
}

inline void releaseBlock(double* values) {
    Block* block = reinterpret_cast<Block*>(values);
    block->next = freeList;
    freeList = block;
}
#endif
}  // namespace detail

// Three doubles in a separately allocated block that the vector owns.
// Every operation that yields a vector yields a new one; only assignment,
// set and normalize change an existing vector. The evaluation order of each
// operation is fixed because image bytes depend on the last bit.
class Vetor {
public:
    Vetor() : block_(detail::allocateBlock()) {
        block_[0] = 0.0;
        block_[1] = 0.0;
        block_[2] = 0.0;
    }
    explicit Vetor(const double a[3]) : block_(detail::allocateBlock()) {
        block_[0] = a[0];
        block_[1] = a[1];
        block_[2] = a[2];
    }
    // The block is allocated, then filled as set(x, y, z) fills it.
    Vetor(double x, double y, double z) : block_(detail::allocateBlock()) {
        block_[0] = x;
        block_[1] = y;
        block_[2] = z;
    }
    Vetor(const Vetor& other) : block_(detail::allocateBlock()) {
        block_[0] = other.block_[0];
        block_[1] = other.block_[1];
        block_[2] = other.block_[2];
    }
    Vetor& operator=(const Vetor& other) {
        if (this != &other) {
            block_[0] = other.block_[0];
            block_[1] = other.block_[1];
            block_[2] = other.block_[2];
        }
        return *this;
    }
    ~Vetor() { detail::releaseBlock(block_); }

    double& operator[](int i) { return block_[i]; }
    const double& operator[](int i) const { return block_[i]; }
    double x() const { return block_[0]; }
    double y() const { return block_[1]; }
    double z() const { return block_[2]; }

private:
    double* block_;
};

inline void set(Vetor& v, double x, double y, double z) {
    v[0] = x;
    v[1] = y;
    v[2] = z;
}

// The sums start from 0.0 and add component 0, 1, 2 in turn; starting from
// +0.0 also fixes the sign of a zero result.
inline double dot(const Vetor& a, const Vetor& b) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) sum = a[i] * b[i] + sum;
    return sum;
}

inline double length(const Vetor& v) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) sum = v[i] * v[i] + sum;
    return std::sqrt(sum);
}

// Multiplies by the reciprocal rather than dividing each component: the two
// differ in the last bit for many inputs, and the images depend on it. The
// products are those of scale(r, v), written in place.
inline void normalize(Vetor& v) {
    const double r = 1.0 / length(v);
    v[0] = r * v[0];
    v[1] = r * v[1];
    v[2] = r * v[2];
}

inline Vetor add(const Vetor& a, const Vetor& b) {
    return Vetor(a[0] + b[0], a[1] + b[1], a[2] + b[2]);
}

inline Vetor subtract(const Vetor& a, const Vetor& b) {
    return Vetor(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

inline Vetor scale(double s, const Vetor& v) { return Vetor(s * v[0], s * v[1], s * v[2]); }

inline Vetor scale(const Vetor& v, double s) { return scale(s, v); }

inline Vetor cross(const Vetor& a, const Vetor& b) {
    return Vetor(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
}

}  // namespace fotolume
