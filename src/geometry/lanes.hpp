// The search's SIMD side: the spheres and discs tested for every ray,
// several at a time in the lanes of registers (two with SSE2, which every
// x86-64 processor has, four with AVX where the processor and system run
// it), and the four child boxes of a hierarchy node, tested together with
// AVX. Each lane makes exactly the IEEE operations of the one-at-a-time
// test, in its order (the products of a sum formed as written, square roots
// and quotients correctly rounded): an object's lane gives the distance of
// the Vetor test in intersect.cpp to the last bit, and a box's lane the
// entry of enterOne in lanes.cpp. What the scalar object tests of
// shape_tests.hpp skip with early rejections is computed here and then
// masked: a negative discriminant gives a NaN root, which no distance test
// accepts. Internal to the geometry folder.
#pragma once

#include <vector>

#if defined(__SSE2__) && !defined(FOTOLUME_SCALAR)
#define FOTOLUME_SSE2 1
#else
#define FOTOLUME_SSE2 0  // other processors, or a build asking for one at a time
#endif

namespace fotolume::detail {

// Objects of one kind, component by component, padded to a whole number of
// registers with lanes that can never hit (radius 0, normal 0).
struct Lanes {
    std::vector<double> a[3];  // centre
    std::vector<double> n[3];  // disc: the normal as given
    std::vector<double> r;     // radius
    std::vector<int> row;      // object row (the padding repeats the last)

    int size() const { return static_cast<int>(r.size()); }
    void push(const double centre[3], const double normal[3], double radius, int object);
    void pad(int width);
};

// An inner node of the hierarchy: up to four children, their boxes side by
// side, so that one AVX register holds one bound of all four.
struct Node {
    double lo[3][4];  // lo[k][c]: child c's lower bound along axis k
    double hi[3][4];
    int first[4];  // child c: a leaf's first entry of `order`, or an inner node's index
    int count[4];  // child c: a leaf's number of objects, 0 for an inner node, -1 for none
};

// Which children of the node the ray (origin o, inverse direction inv)
// enters: bit c for child c, with entry[c] the distance where it enters.
// A box is missed when the ray's intervals between its three pairs of
// planes do not overlap, or when it lies wholly behind the origin. A zero
// direction component makes its slab distances infinite (origin outside:
// the box is missed) or NaN (origin exactly on a face), and the
// comparisons then ignore that axis: never a wrong cull. A child
// that is none has a box at +infinity; a ray heading up every axis enters
// it (at infinity), so the search skips such a child by its count.
int enterChildren(int width, const Node& node, const double o[3], const double inv[3],
                  double entry[4]);

// The widest lanes this processor runs: 4 (AVX), 2 (SSE2) or 1 (none).
int widestLanes();

// Every lane of the spheres and discs against the ray, each hit folded
// into the best so far with consider(); the lanes are padded to `width`,
// 2 or 4 (4 only where widestLanes() says so).
void searchLanes(int width, const Lanes& spheres, const Lanes& discs, const double o[3],
                 const double d[3], double& best, int& bestRow);

// The scan's result: the least distance, and of equal ones the lowest row.
inline void consider(double t, int row, double& best, int& bestRow) {
    if (bestRow < 0 || t < best || (t == best && row < bestRow)) {
        best = t;
        bestRow = row;
    }
}

}  // namespace fotolume::detail
