// Searching: the nearest hit of a ray through the hierarchy, the same result
// as the table-order scan (see accel.hpp for why).
#include "geometry/accel.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/shape_tests.hpp"

namespace fotolume {

using namespace detail;

namespace {

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
inline bool enterBox(const Node& node, const double o[3], const double inv[3], double& entry) {
    double near = -INFINITY;
    double far = INFINITY;
    for (int k = 0; k < 3; ++k) {
        const double t1 = (node.lo[k] - o[k]) * inv[k];
        const double t2 = (node.hi[k] - o[k]) * inv[k];
        near = std::max(near, std::min(t1, t2));
        far = std::min(far, std::max(t1, t2));
    }
    if (far < near || far < 0.0) return false;
    entry = near;
    return true;
}

// The hierarchy, the child on the ray's side first; a box whose entry lies
// beyond the best hit so far holds no nearer one and is skipped.
void searchHierarchy(const double o[3], const double d[3], double& best, int& bestRow) {
    const double inv[3] = {1.0 / d[0], 1.0 / d[1], 1.0 / d[2]};
    // A tree over n objects has fewer than 2n nodes, however unbalanced.
    int stack[2 * MAX_OBJECTS + 2];
    int top = 0;
    stack[top++] = 0;
    double t;
    int boxes = 0;    // counted here and added once: the thread-local sum
    int objects = 0;  // is a memory access, a local a register
    while (top > 0) {
        const Node& node = accel.nodes[stack[--top]];
        ++boxes;
        double entry;
        if (!enterBox(node, o, inv, entry)) continue;
        if (bestRow >= 0 && entry > best) continue;
        if (node.count > 0) {
            objects += node.count;
            for (int i = node.first; i < node.first + node.count; ++i) {
                const int row = accel.order[i];
                if (shapeHit(accel.shapes[row], o, d, t)) consider(t, row, best, bestRow);
            }
            continue;
        }
        const int firstChild = static_cast<int>(&node - accel.nodes.data()) + 1;
        const int secondChild = node.first;
        // Visit the child on the ray's side first, so `best` shrinks early.
        if (d[node.axis] >= 0) {
            stack[top++] = secondChild;
            stack[top++] = firstChild;
        } else {
            stack[top++] = firstChild;
            stack[top++] = secondChild;
        }
    }
    traceCounts.boxes += boxes;
    traceCounts.objects += objects;
}

void winnerNormal(int row, double t, const double o[3], const double d[3], Vec3& hitNormal) {
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
        hitNormal = Vec3{{s.unit[0], s.unit[1], s.unit[2]}};
        return;
    default:
        for (int k = 0; k < 3; ++k) n[k] = s.unit[k];
        break;
    }
    // Spheres and triangles face the side the ray comes from.
    if (dot3(n, d) > NORMAL_FLIP_COSINE)
        for (int k = 0; k < 3; ++k) n[k] = -1 * n[k];
    hitNormal = Vec3{{n[0], n[1], n[2]}};
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
    if (accel.laneWidth > 1)
        searchLanes(accel.laneWidth, accel.sphereLanes, accel.discLanes, o, d, best, bestRow);
    for (int row : accel.alwaysRest)
        if (shapeHit(accel.shapes[row], o, d, t)) consider(t, row, best, bestRow);
    if (!accel.nodes.empty()) searchHierarchy(o, d, best, bestRow);
    return best;
}

}  // namespace

double intersectScene(const Vec3& origin, const Vec3& direction, int& hitIndex, Vec3& hitNormal) {
    prepareSearch();
    const double* o = origin.v;
    const double* d = direction.v;
    if (!usable(o, d)) {
        Vetor normal;
        const double t =
            intersectSceneLinear(toVetor(origin), toVetor(direction), hitIndex, normal);
        hitNormal = plain(normal);
        return t;
    }
    const double best = nearest(o, d, hitIndex);
    if (hitIndex < 0) {
        hitNormal = Vec3{{0.0, 0.0, 0.0}};
        return NO_HIT;
    }
    winnerNormal(hitIndex, best, o, d, hitNormal);
    return best;
}

int nearestObject(const Vec3& origin, const Vec3& direction) {
    prepareSearch();
    int row = -1;
    if (usable(origin.v, direction.v)) {
        nearest(origin.v, direction.v, row);
    } else {
        Vetor normal;
        intersectSceneLinear(toVetor(origin), toVetor(direction), row, normal);
    }
    return row;
}

double intersectScene(const Vetor& origin, const Vetor& direction, int& hitIndex,
                      Vetor& hitNormal) {
    Vec3 normal;
    const double t = intersectScene(plain(origin), plain(direction), hitIndex, normal);
    set(hitNormal, normal[0], normal[1], normal[2]);
    return t;
}

int nearestObject(const Vetor& origin, const Vetor& direction) {
    return nearestObject(plain(origin), plain(direction));
}

}  // namespace fotolume
