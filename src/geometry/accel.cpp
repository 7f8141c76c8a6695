// Searching: the nearest hit of a ray through the hierarchy, the same result
// as the table-order scan (see accel.hpp for why).
#include "geometry/accel.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/shape_tests.hpp"
#include "geometry/simd.hpp"

namespace fotolume {

using namespace detail;

namespace {

// The scan's result: the least distance, and of equal ones the lowest row.
inline void consider(double t, int row, double& best, int& bestRow) {
    if (bestRow < 0 || t < best || (t == best && row < bestRow)) {
        best = t;
        bestRow = row;
    }
}

bool usable(const double o[3], const double d[3]) {
    if (!finite3(o) || !finite3(d)) return false;
    const double dd = dot3(d, d);
    if (!(dd > 0.5 && dd < 2.0)) return false;
    for (int k = 0; k < 3; ++k)
        if (std::fabs(o[k]) > accel.originLimit) return false;
    return true;
}

// Entry distance of the ray into the box, or false when the box is missed
// or lies wholly behind the origin. A zero direction component makes its
// slab distances infinite (origin outside: the box is missed) or NaN (origin
// exactly on a face), and min/max then ignore that axis: never a wrong cull.
inline bool enterBox(const double lo[3], const double hi[3], const double o[3], const double inv[3],
                     double& entry) {
    double near = -INFINITY;
    double far = INFINITY;
    for (int k = 0; k < 3; ++k) {
        const double t1 = (lo[k] - o[k]) * inv[k];
        const double t2 = (hi[k] - o[k]) * inv[k];
        near = std::max(near, std::min(t1, t2));
        far = std::min(far, std::max(t1, t2));
    }
    if (far < near || far < 0.0) return false;
    entry = near;
    return true;
}

// enterBox for both children of a node: bit c of the result is set when
// child c is entered, entry[c] its entry distance. The two-lane form makes
// the same comparisons in the same operand order, so NaN and infinite slab
// distances are ignored exactly as enterBox ignores them.
inline int enterBoxes(const Node& node, const double o[3], const double inv[3], double entry[2]) {
#if FOTOLUME_SSE2
    __m128d near = _mm_set1_pd(-INFINITY);
    __m128d far = _mm_set1_pd(INFINITY);
    for (int k = 0; k < 3; ++k) {
        const __m128d origin = _mm_set1_pd(o[k]);
        const __m128d scale = _mm_set1_pd(inv[k]);
        const __m128d t1 = _mm_mul_pd(_mm_sub_pd(_mm_load_pd(node.lo[k]), origin), scale);
        const __m128d t2 = _mm_mul_pd(_mm_sub_pd(_mm_load_pd(node.hi[k]), origin), scale);
        // std::min(t1, t2) is (t2 < t1 ? t2 : t1), which is minpd(t2, t1);
        // std::max(near, m) is (near < m ? m : near), which is maxpd(m, near).
        near = _mm_max_pd(_mm_min_pd(t2, t1), near);
        far = _mm_min_pd(_mm_max_pd(t2, t1), far);
    }
    _mm_storeu_pd(entry, near);
    const __m128d entered =
        _mm_and_pd(_mm_cmpnlt_pd(far, near), _mm_cmpnlt_pd(far, _mm_setzero_pd()));
    return _mm_movemask_pd(entered);
#else
    int entered = 0;
    for (int c = 0; c < 2; ++c) {
        const double lo[3] = {node.lo[0][c], node.lo[1][c], node.lo[2][c]};
        const double hi[3] = {node.hi[0][c], node.hi[1][c], node.hi[2][c]};
        if (enterBox(lo, hi, o, inv, entry[c])) entered |= 1 << c;
    }
    return entered;
#endif
}

// A child waiting on the search stack, with the distance where the ray
// enters its box.
struct Pending {
    int first;
    int count;
    double entry;
};

// The hierarchy, nearer boxes first; a box whose entry lies beyond the best
// hit so far holds no nearer one and is skipped.
void searchHierarchy(const double o[3], const double d[3], double& best, int& bestRow) {
    const double inv[3] = {1.0 / d[0], 1.0 / d[1], 1.0 / d[2]};
    // A tree over n objects has fewer than n inner nodes, each pushing at
    // most two children and popping one.
    Pending stack[MAX_OBJECTS + 2];
    int top = 0;
    double t;
    int boxes = 1;    // counted here and added once: the thread-local sum
    int objects = 0;  // is a memory access, a local a register
    double rootEntry;
    if (enterBox(accel.rootLo, accel.rootHi, o, inv, rootEntry))
        stack[top++] = Pending{accel.rootFirst, accel.rootCount, rootEntry};
    while (top > 0) {
        const Pending next = stack[--top];
        if (bestRow >= 0 && next.entry > best) continue;
        if (next.count > 0) {
            objects += next.count;
            for (int i = next.first; i < next.first + next.count; ++i) {
                const int row = accel.order[i];
                if (shapeHit(accel.shapes[row], o, d, t)) consider(t, row, best, bestRow);
            }
            continue;
        }
        const Node& node = accel.nodes[next.first];
        boxes += 2;
        double entry[2];
        const int entered = enterBoxes(node, o, inv, entry);
        // The nearer child goes on top, so `best` shrinks early.
        const int nearer = entry[1] < entry[0] ? 1 : 0;
        const int farther = 1 - nearer;
        if (entered & (1 << farther))
            stack[top++] = Pending{node.first[farther], node.count[farther], entry[farther]};
        if (entered & (1 << nearer))
            stack[top++] = Pending{node.first[nearer], node.count[nearer], entry[nearer]};
    }
    traceCounts.boxes += boxes;
    traceCounts.objects += objects;
}

void winnerNormal(int row, double t, const double o[3], const double d[3], Vetor& hitNormal) {
    const Shape& s = accel.shapes[row];
    double n[3];
    switch (s.type) {
    case ObjectType::Sphere: {
        const double l[3] = {s.a[0] - o[0], s.a[1] - o[1], s.a[2] - o[2]};
        for (int k = 0; k < 3; ++k) n[k] = t * d[k] - l[k];
        normalized(n);
        break;
    }
    case ObjectType::Disc:
        set(hitNormal, s.unit[0], s.unit[1], s.unit[2]);
        return;
    default:
        for (int k = 0; k < 3; ++k) n[k] = s.unit[k];
        break;
    }
    // Spheres and triangles face the side the ray comes from.
    if (dot3(n, d) > NORMAL_FLIP_COSINE)
        for (int k = 0; k < 3; ++k) n[k] = -1 * n[k];
    set(hitNormal, n[0], n[1], n[2]);
}

}  // namespace

void TraceCounts::add(const TraceCounts& other) {
    primary += other.primary;
    samples += other.samples;
    shadow += other.shadow;
    reflected += other.reflected;
    refracted += other.refracted;
    boxes += other.boxes;
    objects += other.objects;
}

void prepareSearch() {
    if (accel.version != sceneVersion) buildAcceleration();
}

namespace {

// The search itself: the nearest hit's distance and row (NO_HIT and -1 on
// a miss), for a ray the fast search may take.
double nearest(const double o[3], const double d[3], int& bestRow) {
    double best = NO_HIT;
    bestRow = -1;
    double t;
    traceCounts.objects += static_cast<long long>(accel.always.size());
    for (int row : accel.always)
        if (shapeHit(accel.shapes[row], o, d, t)) consider(t, row, best, bestRow);
    if (accel.tree) searchHierarchy(o, d, best, bestRow);
    return best;
}

}  // namespace

double intersectScene(const Vetor& origin, const Vetor& direction, int& hitIndex,
                      Vetor& hitNormal) {
    prepareSearch();
    const double o[3] = {origin[0], origin[1], origin[2]};
    const double d[3] = {direction[0], direction[1], direction[2]};
    if (!usable(o, d)) return intersectSceneLinear(origin, direction, hitIndex, hitNormal);
    const double best = nearest(o, d, hitIndex);
    if (hitIndex < 0) {
        set(hitNormal, 0.0, 0.0, 0.0);
        return NO_HIT;
    }
    winnerNormal(hitIndex, best, o, d, hitNormal);
    return best;
}

int nearestObject(const Vetor& origin, const Vetor& direction) {
    prepareSearch();
    const double o[3] = {origin[0], origin[1], origin[2]};
    const double d[3] = {direction[0], direction[1], direction[2]};
    int row = -1;
    if (usable(o, d)) {
        nearest(o, d, row);
    } else {
        Vetor normal;
        intersectSceneLinear(origin, direction, row, normal);
    }
    return row;
}

}  // namespace fotolume
