// Searching: the nearest hit of a ray through the hierarchy, the same result
// as the table-order scan (see accel.hpp for why).
#include "geometry/accel.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/shape_tests.hpp"

namespace fotolume {

using namespace detail;

namespace {

// Whether the argument of accel.hpp holds for the ray. The comparisons fail
// for NaN and for infinities (originLimit is finite), and they are joined
// without branches: nearly every ray passes.
bool scanOnly = false;  // see searchByScan

bool usable(const double o[3], const double d[3]) {
    if (scanOnly) return false;
    const double dd = dot3(d, d);
    const double limit = accel.originLimit;
    return (dd > 0.5) & (dd < 2.0) & (std::fabs(o[0]) <= limit) & (std::fabs(o[1]) <= limit) &
           (std::fabs(o[2]) <= limit);
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
    // Each inner node on the way down pops one entry and pushes at most
    // four. Kept per thread, not on the stack: a search may run on a thread
    // with little of it.
    thread_local std::vector<Pending> pending;
    const std::size_t need = 3 * static_cast<std::size_t>(accel.depth) + 4;
    if (pending.size() < need) pending.resize(need);
    Pending* const stack = pending.data();
    int top = 0;
    stack[top++] = Pending{0, 0, -INFINITY};
    double t;
    int boxes = 0;    // counted here and added once: the thread-local sum
    int objects = 0;  // is a memory access, a local a register
    const int width = accel.laneWidth;
    while (top > 0) {
        const Pending next = stack[--top];
        if (bestRow >= 0 && next.entry > best) continue;
        if (next.count > 0) {
            objects += next.count;
            for (int i = next.first; i < next.first + next.count; ++i) {
                const int row = accel.order[i];
                if (shapeHit(accel.shapes[i], o, d, t)) consider(t, row, best, bestRow);
            }
            continue;
        }
        const Node& node = accel.nodes[next.first];
        boxes += 4;
        double entry[4];
        int entered = enterChildren(width, node, o, inv, entry);
        // Farther children go on the stack first, so the nearest is searched
        // first and `best` shrinks early.
        const int base = top;
        for (int c = 0; entered != 0; ++c, entered >>= 1) {
            if (!(entered & 1) || node.count[c] < 0) continue;  // no child there
            int at = top++;
            while (at > base && entry[c] > stack[at - 1].entry) {
                stack[at] = stack[at - 1];
                --at;
            }
            stack[at] = Pending{node.first[c], node.count[c], entry[c]};
        }
    }
    traceCounts.boxes += boxes;
    traceCounts.objects += objects;
}

void winnerNormal(int row, int face, double t, const double o[3], const double d[3],
                  Vec3& hitNormal) {
    if (face >= 0) {
        const MeshRow& mesh = *meshOfRow(row);
        FaceHit hit{};
        faceHit(mesh, face, shearOf(d), o, hit);  // the winner's weights, as found
        meshNormal(mesh, face, hit, d, hitNormal.v);
        return;
    }
    const Shape& s = accel.shapes[accel.slot[row]];
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

void searchByScan(bool scan) { scanOnly = scan; }

std::atomic<long long> searchPlaced{0};

void prepareSearch() {
    if (accel.version != sceneVersion) buildAcceleration();
}

namespace {

// The search itself: the nearest hit's distance and row (NO_HIT and -1 on
// a miss), for a ray the fast search may take.
double nearest(const double o[3], const double d[3], int& bestRow, int& bestFace) {
    double best = NO_HIT;
    bestRow = -1;
    bestFace = -1;
    double t;
    traceCounts.objects += static_cast<long long>(accel.always.size());
    if (accel.laneWidth > 1)
        searchLanes(accel.laneWidth, accel.sphereLanes, accel.discLanes, o, d, best, bestRow);
    for (int row : accel.alwaysRest)
        if (shapeHit(accel.shapes[accel.slot[row]], o, d, t)) consider(t, row, best, bestRow);
    if (!accel.nodes.empty()) searchHierarchy(o, d, best, bestRow);
    if (!accel.meshSearch.empty()) searchMeshes(accel.meshSearch, o, d, best, bestRow, bestFace);
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
    const double best = nearest(o, d, hitIndex, lastHitFace);
    if (hitIndex < 0) {
        hitNormal = Vec3{{0.0, 0.0, 0.0}};
        return NO_HIT;
    }
    winnerNormal(hitIndex, lastHitFace, best, o, d, hitNormal);
    return best;
}

int nearestObject(const Vec3& origin, const Vec3& direction) {
    prepareSearch();
    int row = -1;
    if (usable(origin.v, direction.v)) {
        int face;
        nearest(origin.v, direction.v, row, face);
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
