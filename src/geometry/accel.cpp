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

inline bool sphereHit(const Shape& s, const double o[3], const double d[3], double& t) {
    const double l[3] = {s.a[0] - o[0], s.a[1] - o[1], s.a[2] - o[2]};
    const double tca = dot3(d, l);
    const double perp[3] = {l[0] - tca * d[0], l[1] - tca * d[1], l[2] - tca * d[2]};
    const double len = length3(perp);
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

inline bool triangleHit(const Shape& s, const double o[3], const double d[3], double& t) {
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

inline bool discHit(const Shape& s, const double o[3], const double d[3], double& t) {
    const double den = dot3(d, s.n);
    if (den == 0.0) return false;
    const double toCentre[3] = {s.a[0] - o[0], s.a[1] - o[1], s.a[2] - o[2]};
    const double candidate = dot3(toCentre, s.n) / den;
    const double p[3] = {o[0] + candidate * d[0], o[1] + candidate * d[1], o[2] + candidate * d[2]};
    const double q[3] = {p[0] - s.a[0], p[1] - s.a[1], p[2] - s.a[2]};
    if (length3(q) < s.r && candidate > 0.001) {
        t = candidate;
        return true;
    }
    return false;
}

inline bool shapeHit(const Shape& s, const double o[3], const double d[3], double& t) {
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

int buildNode(std::vector<Item>& items, int begin, int end) {
    const int index = static_cast<int>(accel.nodes.size());
    accel.nodes.push_back(Node{});
    Node node{};
    for (int k = 0; k < 3; ++k) {
        node.lo[k] = items[begin].lo[k];
        node.hi[k] = items[begin].hi[k];
    }
    double clo[3], chi[3];
    for (int k = 0; k < 3; ++k) clo[k] = chi[k] = items[begin].centre[k];
    for (int i = begin + 1; i < end; ++i)
        for (int k = 0; k < 3; ++k) {
            node.lo[k] = std::min(node.lo[k], items[i].lo[k]);
            node.hi[k] = std::max(node.hi[k], items[i].hi[k]);
            clo[k] = std::min(clo[k], items[i].centre[k]);
            chi[k] = std::max(chi[k], items[i].centre[k]);
        }
    const int count = end - begin;
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (chi[k] - clo[k] > chi[axis] - clo[axis]) axis = k;
    if (count <= 2 || chi[axis] == clo[axis]) {
        node.first = static_cast<int>(accel.order.size());
        node.count = count;
        for (int i = begin; i < end; ++i) accel.order.push_back(items[i].row);
        accel.nodes[index] = node;
        return index;
    }
    const int middle = begin + count / 2;
    std::nth_element(items.begin() + begin, items.begin() + middle, items.begin() + end,
                     [axis](const Item& x, const Item& y) {
                         return x.centre[axis] < y.centre[axis] ||
                                (x.centre[axis] == y.centre[axis] && x.row < y.row);
                     });
    node.axis = axis;
    node.count = 0;
    buildNode(items, begin, middle);
    node.first = buildNode(items, middle, end);
    accel.nodes[index] = node;
    return index;
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
            for (int k = 0; k < 3; ++k) {
                item.lo[k] = s.a[k] - r;
                item.hi[k] = s.a[k] + r;
            }
            if (s.type == ObjectType::Disc) {
                for (int k = 0; k < 3; ++k) s.unit[k] = s.n[k];
                normalized(s.unit);
            }
            break;
        }
        case ObjectType::Triangle: {
            const double* p[3] = {s.a, nullptr, nullptr};
            double b[3], c[3];
            for (int k = 0; k < 3; ++k) {
                b[k] = objectPointB[i][k];
                c[k] = objectPointC[i][k];
            }
            p[1] = b;
            p[2] = c;
            bounded = finite3(s.a) && finite3(b) && finite3(c);
            for (int k = 0; k < 3; ++k) {
                item.lo[k] = std::min({p[0][k], p[1][k], p[2][k]});
                item.hi[k] = std::max({p[0][k], p[1][k], p[2][k]});
            }
            s.unit[0] = s.e1[1] * s.e2[2] - s.e1[2] * s.e2[1];
            s.unit[1] = s.e1[2] * s.e2[0] - s.e1[0] * s.e2[2];
            s.unit[2] = s.e1[0] * s.e2[1] - s.e1[1] * s.e2[0];
            normalized(s.unit);
            break;
        }
        }
        for (int k = 0; k < 3 && bounded; ++k)
            bounded =
                std::fabs(item.lo[k]) < HUGE_COORDINATE && std::fabs(item.hi[k]) < HUGE_COORDINATE;
        if (!bounded) {
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
    for (Item& item : items)
        for (int k = 0; k < 3; ++k) {
            item.lo[k] -= margin;
            item.hi[k] += margin;
        }
    accel.originLimit = 1e3 * extent;
    if (!items.empty()) buildNode(items, 0, static_cast<int>(items.size()));
    accel.ready = true;
}

// --- searching -----------------------------------------------------------

// Entry distance of the ray into the box, or false when the box is missed
// or lies wholly behind the origin.
inline bool enterBox(const Node& node, const double o[3], const double d[3], const double inv[3],
                     double& entry) {
    double near = -INFINITY;
    double far = INFINITY;
    for (int k = 0; k < 3; ++k) {
        if (d[k] == 0.0) {
            if (o[k] < node.lo[k] || o[k] > node.hi[k]) return false;
            continue;
        }
        double t1 = (node.lo[k] - o[k]) * inv[k];
        double t2 = (node.hi[k] - o[k]) * inv[k];
        if (t1 > t2) std::swap(t1, t2);
        near = std::max(near, t1);
        far = std::min(far, t2);
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
        int stack[64];
        int top = 0;
        stack[top++] = 0;
        while (top > 0) {
            const Node& node = accel.nodes[stack[--top]];
            double entry;
            if (!enterBox(node, o, d, inv, entry)) continue;
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
