// The fast nearest-hit search. It returns exactly what the table-order scan
// of intersect.cpp returns: each object test below is the same sequence of
// IEEE operations as the Vetor form, on plain doubles, and a bounding-volume
// hierarchy only skips objects that cannot hold a nearer hit.
//
// Why the bounds are safe: every accepted hit puts the computed point within
// the object (spheres and discs test it against the radius, triangles
// against the barycentric range), so its distance is bounded by the scene's
// size and the rounding error of that distance is a few ulps of that size.
// Boxes are widened by far more than that (1e-7 of the scene's extent). Rays
// for which that argument does not hold (non-finite values, a direction far
// from unit length, an origin far outside the scene) take the scan, and so
// do objects with non-finite or enormous coordinates.
#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/geometry.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

struct Shape {
    ObjectType type = ObjectType::Unknown;
    double a[3] = {};     // centre or first vertex
    double n[3] = {};     // disc: the normal as given
    double e1[3] = {};    // triangle: B - A
    double e2[3] = {};    // triangle: C - A
    double unit[3] = {};  // triangle: normalized E1 x E2; disc: normalized normal
    double r = 0.0;       // sphere and disc radius
    // Triangle pre-filter: in-plane unit normals of the edges AB, BC and CA,
    // pointing out of the triangle, and whether the filter may be used.
    double edge[3][3] = {};
    bool filter = false;
};

struct Node {
    double lo[3];
    double hi[3];
    int first;  // leaf: first entry of `order`; inner: index of the second child
    int count;  // leaf: number of objects; inner: 0 (first child follows the node)
    int axis;   // inner: split axis, to visit the nearer child first
};

struct Acceleration {
    bool ready = false;
    std::vector<Shape> shapes;  // by object row
    std::vector<int> always;    // rows tested for every ray, in table order
    std::vector<int> order;     // rows in the hierarchy's leaves
    std::vector<Node> nodes;
    double originLimit = 0.0;  // beyond this the scan is used
};

Acceleration accel;

inline double dot3(const double a[3], const double b[3]) {
    double sum = 0.0;
    sum = a[0] * b[0] + sum;
    sum = a[1] * b[1] + sum;
    sum = a[2] * b[2] + sum;
    return sum;
}

inline double length3(const double v[3]) { return std::sqrt(dot3(v, v)); }

void normalized(double v[3]) {
    const double r = 1.0 / length3(v);
    v[0] = r * v[0];
    v[1] = r * v[1];
    v[2] = r * v[2];
}

bool finite3(const double v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// --- the object tests: candidate distance above 0.001, or false ---------

[[gnu::always_inline]] inline bool sphereHit(const Shape& s, const double o[3], const double d[3],
                                             double& t) {
    const double l[3] = {s.a[0] - o[0], s.a[1] - o[1], s.a[2] - o[2]};
    const double tca = dot3(d, l);
    // tca + s, the far root, is at most tca + |r| (s <= sqrt(r * r)): a sphere
    // wholly behind the origin yields nothing, as the full test would find.
    if (tca < 0.001 - std::fabs(s.r) * 1.000001) return false;
    const double perp[3] = {l[0] - tca * d[0], l[1] - tca * d[1], l[2] - tca * d[2]};
    const double pp = dot3(perp, perp);
    // len * len below is pp within a few ulps, so h2 would be negative: the
    // same miss without the square root.
    if (pp > s.r * s.r * 1.000001) return false;
    const double len = std::sqrt(pp);
    const double h2 = s.r * s.r - len * len;
    if (h2 < 0.001) return false;
    const double root = std::sqrt(h2);
    const double t0 = tca - root;
    const double t1 = tca + root;
    if (t0 > 0.001) {
        t = t0;
        return true;
    }
    if (t1 > 0.001) {
        t = t1;
        return true;
    }
    return false;
}

// Bound on how far the point of an accepted hit can lie from its object,
// set when the hierarchy is built.
double slack = 0.0;

// True when the ray certainly gives the solver no acceptable hit: it meets
// the plane steeply enough for the meeting point to be accurate, and that
// point lies outside an edge, or behind the origin, by more than the slack.
inline bool triangleMissed(const Shape& s, const double o[3], const double d[3]) {
    if (!s.filter) return false;
    const double toOrigin[3] = {o[0] - s.a[0], o[1] - s.a[1], o[2] - s.a[2]};
    const double height = dot3(s.unit, toOrigin);
    const double along = dot3(s.unit, d);
    if (height > slack && along >= 0) return true;  // above the plane, moving away
    if (height < -slack && along <= 0) return true;
    if (std::fabs(along) < 0.01) return false;
    const double t = -height / along;
    const double p[3] = {toOrigin[0] + t * d[0], toOrigin[1] + t * d[1], toOrigin[2] + t * d[2]};
    if (dot3(s.edge[0], p) > slack) return true;
    const double fromB[3] = {p[0] - s.e1[0], p[1] - s.e1[1], p[2] - s.e1[2]};
    if (dot3(s.edge[1], fromB) > slack) return true;
    return dot3(s.edge[2], p) > slack;
}

inline bool triangleHit(const Shape& s, const double o[3], const double d[3], double& t) {
    if (triangleMissed(s, o, d)) return false;
    LinearSystem3 system;
    for (int r = 0; r < 3; ++r) {
        system.rowOrder[r] = r;
        system.matrix[r][0] = d[r];
        system.matrix[r][1] = s.e1[r];
        system.matrix[r][2] = s.e2[r];
        system.rhs[r] = o[r] - s.a[r];
    }
    double x[3];
    if (!solveLinear3(system, x)) return false;
    const double candidate = -x[0];
    if (x[1] + x[2] <= 1 && x[1] >= 0.001 && x[2] >= 0.001 && candidate > 0.001) {
        t = candidate;
        return true;
    }
    return false;
}

[[gnu::always_inline]] inline bool discHit(const Shape& s, const double o[3], const double d[3],
                                           double& t) {
    const double den = dot3(d, s.n);
    if (den == 0.0) return false;
    const double toCentre[3] = {s.a[0] - o[0], s.a[1] - o[1], s.a[2] - o[2]};
    const double candidate = dot3(toCentre, s.n) / den;
    const double p[3] = {o[0] + candidate * d[0], o[1] + candidate * d[1], o[2] + candidate * d[2]};
    if (!(candidate > 0.001)) return false;
    const double q[3] = {p[0] - s.a[0], p[1] - s.a[1], p[2] - s.a[2]};
    // The square root of qq exceeds r whenever qq exceeds r * r by more than
    // rounding: skip it for the many points far outside the rim.
    const double qq = dot3(q, q);
    if (qq > s.r * s.r * 1.000001) return false;
    if (std::sqrt(qq) < s.r) {
        t = candidate;
        return true;
    }
    return false;
}

[[gnu::always_inline]] inline bool shapeHit(const Shape& s, const double o[3], const double d[3],
                                            double& t) {
    switch (s.type) {
    case ObjectType::Sphere:
        return sphereHit(s, o, d, t);
    case ObjectType::Triangle:
        return triangleHit(s, o, d, t);
    case ObjectType::Disc:
        return discHit(s, o, d, t);
    case ObjectType::Unknown:
        break;
    }
    return false;
}

// --- building ------------------------------------------------------------

struct Item {
    int row;
    double lo[3];
    double hi[3];
    double centre[3];
};

double halfArea(const double lo[3], const double hi[3]) {
    const double x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
    return x * y + y * z + z * x;
}

void grow(double lo[3], double hi[3], const Item& item) {
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], item.lo[k]);
        hi[k] = std::max(hi[k], item.hi[k]);
    }
}

// Centroid order along one axis, the row breaking ties so builds repeat.
void sortByCentre(std::vector<Item>& items, int begin, int end, int axis) {
    std::sort(items.begin() + begin, items.begin() + end, [axis](const Item& x, const Item& y) {
        return x.centre[axis] < y.centre[axis] ||
               (x.centre[axis] == y.centre[axis] && x.row < y.row);
    });
}

// Surface-area heuristic over at most 200 objects: every split of the
// centroid order on every axis is costed.
int buildNode(std::vector<Item>& items, int begin, int end) {
    const int index = static_cast<int>(accel.nodes.size());
    accel.nodes.push_back(Node{});
    Node node{};
    for (int k = 0; k < 3; ++k) {
        node.lo[k] = INFINITY;
        node.hi[k] = -INFINITY;
    }
    for (int i = begin; i < end; ++i) grow(node.lo, node.hi, items[i]);
    const int count = end - begin;

    double bestCost = INFINITY;
    int bestAxis = -1, bestSplit = -1;
    std::vector<double> rightArea(count + 1);
    for (int axis = 0; axis < 3 && count > 1; ++axis) {
        sortByCentre(items, begin, end, axis);
        double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        for (int i = count - 1; i >= 1; --i) {
            grow(lo, hi, items[begin + i]);
            rightArea[i] = halfArea(lo, hi);
        }
        for (int k = 0; k < 3; ++k) {
            lo[k] = INFINITY;
            hi[k] = -INFINITY;
        }
        for (int i = 1; i < count; ++i) {
            grow(lo, hi, items[begin + i - 1]);
            const double cost = halfArea(lo, hi) * i + rightArea[i] * (count - i);
            if (cost < bestCost) {
                bestCost = cost;
                bestAxis = axis;
                bestSplit = i;
            }
        }
    }
    const double leafCost = halfArea(node.lo, node.hi) * (count - 0.5);
    if (count <= 1 || bestAxis < 0 || (count <= 4 && bestCost >= leafCost)) {
        node.first = static_cast<int>(accel.order.size());
        node.count = count;
        for (int i = begin; i < end; ++i) accel.order.push_back(items[i].row);
        accel.nodes[index] = node;
        return index;
    }
    sortByCentre(items, begin, end, bestAxis);
    node.axis = bestAxis;
    node.count = 0;
    buildNode(items, begin, begin + bestSplit);
    node.first = buildNode(items, begin + bestSplit, end);
    accel.nodes[index] = node;
    return index;
}

void outwardEdge(const Shape& s, const double along[3], const double inside[3], double out[3]) {
    out[0] = along[1] * s.unit[2] - along[2] * s.unit[1];
    out[1] = along[2] * s.unit[0] - along[0] * s.unit[2];
    out[2] = along[0] * s.unit[1] - along[1] * s.unit[0];
    normalized(out);
    if (dot3(out, inside) > 0)
        for (int k = 0; k < 3; ++k) out[k] = -out[k];
}

void prepareFilter(Shape& s) {
    const double bc[3] = {s.e2[0] - s.e1[0], s.e2[1] - s.e1[1], s.e2[2] - s.e1[2]};
    const double aFromB[3] = {-s.e1[0], -s.e1[1], -s.e1[2]};
    outwardEdge(s, s.e1, s.e2, s.edge[0]);
    outwardEdge(s, bc, aFromB, s.edge[1]);
    outwardEdge(s, s.e2, s.e1, s.edge[2]);
    s.filter = finite3(s.unit) && finite3(s.edge[0]) && finite3(s.edge[1]) && finite3(s.edge[2]);
}

// Objects past this size are tested for every ray instead: their boxes and
// rounding are no longer meaningful at the widening used.
constexpr double HUGE_COORDINATE = 1e12;

void build() {
    accel = Acceleration{};
    const int count = std::max(0, std::min(objectCount, MAX_OBJECTS));
    accel.shapes.resize(count);
    std::vector<Item> items;
    double extent = 1.0;
    for (int k = 0; k < 3; ++k) extent = std::max(extent, std::fabs(eye[k]));
    extent = std::max(extent, std::fabs(planeWidth) + std::fabs(planeHeight));
    if (!std::isfinite(extent)) extent = 1.0;

    for (int i = 0; i < count; ++i) {
        Shape& s = accel.shapes[i];
        s.type = objectType[i];
        s.r = objectRadius[i];
        for (int k = 0; k < 3; ++k) {
            s.a[k] = objectPointA[i][k];
            s.n[k] = objectPointB[i][k];
            s.e1[k] = objectPointB[i][k] - objectPointA[i][k];
            s.e2[k] = objectPointC[i][k] - objectPointA[i][k];
        }
        Item item{i, {}, {}, {}};
        bool bounded = true;
        switch (s.type) {
        case ObjectType::Unknown:
            continue;  // never hit
        case ObjectType::Sphere:
        case ObjectType::Disc: {
            const double r = std::fabs(s.r);
            bounded = finite3(s.a) && std::isfinite(r) && r < HUGE_COORDINATE;
            double half[3] = {r, r, r};
            if (s.type == ObjectType::Disc) {
                for (int k = 0; k < 3; ++k) s.unit[k] = s.n[k];
                normalized(s.unit);
                // A disc spans r * sqrt(1 - u_k^2) along axis k (u its unit
                // normal): a floor is a flat box, not a cube.
                if (finite3(s.unit))
                    for (int k = 0; k < 3; ++k)
                        half[k] =
                            r * std::sqrt(std::max(0.0, 1 - s.unit[k] * s.unit[k])) + r * 1e-6;
            }
            for (int k = 0; k < 3; ++k) {
                item.lo[k] = s.a[k] - half[k];
                item.hi[k] = s.a[k] + half[k];
            }
            break;
        }
        case ObjectType::Triangle: {
            const double b[3] = {objectPointB[i][0], objectPointB[i][1], objectPointB[i][2]};
            const double c[3] = {objectPointC[i][0], objectPointC[i][1], objectPointC[i][2]};
            bounded = finite3(s.a) && finite3(b) && finite3(c);
            for (int k = 0; k < 3; ++k) {
                item.lo[k] = std::min({s.a[k], b[k], c[k]});
                item.hi[k] = std::max({s.a[k], b[k], c[k]});
            }
            s.unit[0] = s.e1[1] * s.e2[2] - s.e1[2] * s.e2[1];
            s.unit[1] = s.e1[2] * s.e2[0] - s.e1[0] * s.e2[2];
            s.unit[2] = s.e1[0] * s.e2[1] - s.e1[1] * s.e2[0];
            normalized(s.unit);
            prepareFilter(s);
            break;
        }
        }
        for (int k = 0; k < 3 && bounded; ++k)
            bounded =
                std::fabs(item.lo[k]) < HUGE_COORDINATE && std::fabs(item.hi[k]) < HUGE_COORDINATE;
        if (!bounded) {
            s.filter = false;  // the slack argument needs bounded coordinates
            accel.always.push_back(i);
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            extent = std::max({extent, std::fabs(item.lo[k]), std::fabs(item.hi[k])});
            item.centre[k] = 0.5 * (item.lo[k] + item.hi[k]);
        }
        items.push_back(item);
    }

    const double margin = 1e-7 * extent;
    slack = margin;
    for (Item& item : items)
        for (int k = 0; k < 3; ++k) {
            item.lo[k] -= margin;
            item.hi[k] += margin;
        }
    accel.originLimit = 1e3 * extent;
    if (items.size() <= 12) {
        for (const Item& item : items) accel.always.push_back(item.row);
        std::sort(accel.always.begin(), accel.always.end());
    } else if (!items.empty()) {
        buildNode(items, 0, static_cast<int>(items.size()));
    }
    accel.ready = true;
}

// --- searching -----------------------------------------------------------

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
    if (dot3(n, d) > 0.001)
        for (int k = 0; k < 3; ++k) n[k] = -1 * n[k];
    set(hitNormal, n[0], n[1], n[2]);
}

}  // namespace

void sceneChanged() { accel.ready = false; }

void prepareSearch() {
    if (!accel.ready) build();
}

double intersectScene(const Vetor& origin, const Vetor& direction, int& hitIndex,
                      Vetor& hitNormal) {
    if (!accel.ready) build();
    const double o[3] = {origin[0], origin[1], origin[2]};
    const double d[3] = {direction[0], direction[1], direction[2]};
    if (!usable(o, d)) return intersectSceneLinear(origin, direction, hitIndex, hitNormal);

    double best = NO_HIT;
    int bestRow = -1;
    double t;
    for (int row : accel.always)
        if (shapeHit(accel.shapes[row], o, d, t)) consider(t, row, best, bestRow);

    if (!accel.nodes.empty()) {
        const double inv[3] = {1.0 / d[0], 1.0 / d[1], 1.0 / d[2]};
        // A tree over n objects has fewer than 2n nodes, however unbalanced.
        int stack[2 * MAX_OBJECTS + 2];
        int top = 0;
        stack[top++] = 0;
        while (top > 0) {
            const Node& node = accel.nodes[stack[--top]];
            double entry;
            if (!enterBox(node, o, inv, entry)) continue;
            if (bestRow >= 0 && entry > best) continue;
            if (node.count > 0) {
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
    }

    hitIndex = bestRow;
    if (bestRow < 0) {
        set(hitNormal, 0.0, 0.0, 0.0);
        return NO_HIT;
    }
    winnerNormal(bestRow, best, o, d, hitNormal);
    return best;
}

}  // namespace fotolume
