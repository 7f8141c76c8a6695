// The object tests of the fast search on plain doubles: each is the same
// sequence of IEEE operations as its Vetor form in intersect.cpp, with
// cheaper rejections only where the full test must reject. Inline, so the
// search loop holds no call. Internal to the geometry folder.
#pragma once

#include <cfloat>

#include "geometry/accel.hpp"

namespace fotolume::detail {

// --- the object tests: candidate distance above MIN_HIT_DISTANCE, or false

[[gnu::always_inline]] inline bool sphereHit(const Shape& s, const double o[3], const double d[3],
                                             double& t) {
    const double l[3] = {s.a[0] - o[0], s.a[1] - o[1], s.a[2] - o[2]};
    const double tca = dot3(d, l);
    const double rr = s.r * s.r;
    // tca + s, the far root, is at most tca + |r| (s <= sqrt(r * r)): a sphere
    // wholly behind the origin yields nothing, as the full test would find.
    // Not when r * r overflows: s is then infinite and so is the far root.
    if (rr <= DBL_MAX && tca < MIN_HIT_DISTANCE - std::fabs(s.r) * 1.000001) return false;
    const double perp[3] = {l[0] - tca * d[0], l[1] - tca * d[1], l[2] - tca * d[2]};
    const double pp = dot3(perp, perp);
    // len * len below is pp within a few ulps, so h2 would be negative: the
    // same miss without the square root.
    if (pp > rr * 1.000001) return false;
    const double len = std::sqrt(pp);
    const double h2 = rr - len * len;
    if (h2 < MIN_DISCRIMINANT) return false;
    const double root = std::sqrt(h2);
    const double t0 = tca - root;
    const double t1 = tca + root;
    if (t0 > MIN_HIT_DISTANCE) {
        t = t0;
        return true;
    }
    if (t1 > MIN_HIT_DISTANCE) {
        t = t1;
        return true;
    }
    return false;
}

// True when the ray certainly gives the solver no acceptable hit: it meets
// the plane steeply enough for the meeting point to be accurate, and that
// point lies outside an edge, or behind or too near the origin, by more
// than the accel.slack.
inline bool triangleMissed(const Shape& s, const double o[3], const double d[3]) {
    if (!s.filter) return false;
    const double toOrigin[3] = {o[0] - s.a[0], o[1] - s.a[1], o[2] - s.a[2]};
    const double height = dot3(s.unit, toOrigin);
    const double along = dot3(s.unit, d);
    if (height > accel.slack && along >= 0) return true;  // above the plane, moving away
    if (height < -accel.slack && along <= 0) return true;
    if (std::fabs(along) < 0.01) return false;
    const double t = -height / along;
    // The solver's distance differs from t by far less than the slack.
    if (t < MIN_HIT_DISTANCE - accel.slack) return true;
    const double p[3] = {toOrigin[0] + t * d[0], toOrigin[1] + t * d[1], toOrigin[2] + t * d[2]};
    if (dot3(s.edge[0], p) > accel.slack) return true;
    const double fromB[3] = {p[0] - s.e1[0], p[1] - s.e1[1], p[2] - s.e1[2]};
    if (dot3(s.edge[1], fromB) > accel.slack) return true;
    return dot3(s.edge[2], p) > accel.slack;
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
    if (x[1] + x[2] <= 1 && x[1] >= TRIANGLE_EDGE_MARGIN && x[2] >= TRIANGLE_EDGE_MARGIN &&
        candidate > MIN_HIT_DISTANCE) {
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
    if (!(candidate > MIN_HIT_DISTANCE)) return false;
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
    case ObjectType::Mesh:
    case ObjectType::Smooth:
    case ObjectType::Unknown:
        break;
    }
    return false;
}

}  // namespace fotolume::detail
