// The face test of mesh and smooth rows, on plain doubles, shared by the
// table-order scan and the hierarchy so both make the same operations.
// Internal to the geometry folder.
//
// The ray is sheared so that it runs along +z through the origin; each
// face's corners are moved with it, and the signs of the three 2D edge
// functions say whether the ray passes inside. Two faces that share an
// edge compute that edge's function from the same two projected corners
// with the operands swapped, so they get exactly opposite values: a ray
// meets one of them, or both (exactly on the edge), never neither.
#pragma once

#include <cmath>
#include <utility>

#include "geometry/geometry.hpp"
#include "scene/scene.hpp"

namespace fotolume::detail {

// What a ray's shear is, worked out once a ray.
struct Shear {
    int kx, ky, kz;
    double sx, sy, sz;
    bool usable;  // false: the dominant component is 0 or NaN, no face is hit
};

inline Shear shearOf(const double d[3]) {
    Shear s{};
    s.kz = 0;
    if (std::fabs(d[1]) > std::fabs(d[s.kz])) s.kz = 1;
    if (std::fabs(d[2]) > std::fabs(d[s.kz])) s.kz = 2;
    s.kx = (s.kz + 1) % 3;
    s.ky = (s.kx + 1) % 3;
    if (d[s.kz] < 0) std::swap(s.kx, s.ky);
    s.usable = d[s.kz] != 0.0 && !std::isnan(d[s.kz]);
    s.sx = d[s.kx] / d[s.kz];
    s.sy = d[s.ky] / d[s.kz];
    s.sz = 1 / d[s.kz];
    return s;
}

// The weights of the corners A, B, C and the distance of a hit.
struct FaceHit {
    double t;
    double u, v, w, det;
};

// Face `f` of `mesh` against the ray: true with the hit when the ray
// passes inside (or on its edge) farther than MIN_HIT_DISTANCE.
inline bool faceHit(const MeshRow& mesh, int f, const Shear& s, const double o[3], FaceHit& hit) {
    const int* corner = mesh.faces.data() + 3 * static_cast<std::size_t>(f);
    double p[3][3];  // x, y, z of A, B, C in the sheared frame
    for (int c = 0; c < 3; ++c) {
        const double* point = mesh.point(corner[c]);
        const double q[3] = {point[0] - o[0], point[1] - o[1], point[2] - o[2]};
        p[c][0] = q[s.kx] - s.sx * q[s.kz];
        p[c][1] = q[s.ky] - s.sy * q[s.kz];
        p[c][2] = s.sz * q[s.kz];
    }
    const double u = p[2][0] * p[1][1] - p[2][1] * p[1][0];
    const double v = p[0][0] * p[2][1] - p[0][1] * p[2][0];
    const double w = p[1][0] * p[0][1] - p[1][1] * p[0][0];
    if ((u < 0 || v < 0 || w < 0) && (u > 0 || v > 0 || w > 0)) return false;
    const double det = (u + v) + w;
    if (det == 0 || std::isnan(det)) return false;
    const double big = (u * p[0][2] + v * p[1][2]) + w * p[2][2];
    const double t = big / det;
    if (!(t > MIN_HIT_DISTANCE)) return false;
    hit = FaceHit{t, u, v, w, det};
    return true;
}

// The face's own normal, turned to the side the ray comes from, as a
// triangle's is.
inline void flatNormal(const MeshRow& mesh, int f, const double d[3], double n[3]) {
    const int* corner = mesh.faces.data() + 3 * static_cast<std::size_t>(f);
    const double* a = mesh.point(corner[0]);
    const double* b = mesh.point(corner[1]);
    const double* c = mesh.point(corner[2]);
    const double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    n[0] = e1[1] * e2[2] - e1[2] * e2[1];
    n[1] = e1[2] * e2[0] - e1[0] * e2[2];
    n[2] = e1[0] * e2[1] - e1[1] * e2[0];
    const double r = 1.0 / std::sqrt(((0.0 + n[0] * n[0]) + n[1] * n[1]) + n[2] * n[2]);
    for (int k = 0; k < 3; ++k) n[k] = r * n[k];
    const double facing = ((0.0 + n[0] * d[0]) + n[1] * d[1]) + n[2] * d[2];
    if (facing > NORMAL_FLIP_COSINE)
        for (int k = 0; k < 3; ++k) n[k] = -1 * n[k];
}

// The normal of a hit on face `f`: the flat one for a mesh row; for a
// smooth row the corners' normals blended by the hit's weights, turned to
// the flat normal's side (the flat one where the blend has no direction).
inline void meshNormal(const MeshRow& mesh, int f, const FaceHit& hit, const double d[3],
                       double n[3]) {
    flatNormal(mesh, f, d, n);
    if (!mesh.smooth) return;
    const int* corner = mesh.faces.data() + 3 * static_cast<std::size_t>(f);
    const double weight[3] = {hit.u / hit.det, hit.v / hit.det, hit.w / hit.det};
    const double* na = mesh.normals.data() + 3 * static_cast<std::size_t>(corner[0]);
    const double* nb = mesh.normals.data() + 3 * static_cast<std::size_t>(corner[1]);
    const double* nc = mesh.normals.data() + 3 * static_cast<std::size_t>(corner[2]);
    double sum[3];
    for (int k = 0; k < 3; ++k) sum[k] = (weight[0] * na[k] + weight[1] * nb[k]) + weight[2] * nc[k];
    const double len = std::sqrt(((0.0 + sum[0] * sum[0]) + sum[1] * sum[1]) + sum[2] * sum[2]);
    if (len == 0 || !std::isfinite(len)) return;
    const double r = 1.0 / len;
    double blended[3] = {r * sum[0], r * sum[1], r * sum[2]};
    const double side = ((0.0 + blended[0] * n[0]) + blended[1] * n[1]) + blended[2] * n[2];
    if (side < 0)
        for (int k = 0; k < 3; ++k) blended[k] = -1 * blended[k];
    for (int k = 0; k < 3; ++k) n[k] = blended[k];
}

}  // namespace fotolume::detail
