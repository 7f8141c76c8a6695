#include <cmath>

#include "geometry/geometry.hpp"
#include "geometry/mesh_tests.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

// Each test yields a candidate distance above MIN_HIT_DISTANCE, or none (false).

bool sphereCandidate(int i, const Vetor& origin, const Vetor& direction, double& t) {
    const Vetor l = subtract(objectPointA[i], origin);
    const double tca = dot(direction, l);
    const Vetor perp = subtract(l, scale(tca, direction));
    const double r = objectRadius[i];
    const double h2 = r * r - length(perp) * length(perp);
    if (h2 < MIN_DISCRIMINANT) return false;
    const double s = std::sqrt(h2);
    const double t0 = tca - s;
    const double t1 = tca + s;
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

void sphereNormal(int i, const Vetor& origin, const Vetor& direction, double t, Vetor& normal) {
    const Vetor l = subtract(objectPointA[i], origin);
    normal = subtract(scale(t, direction), l);
    normalize(normal);
    if (dot(normal, direction) > NORMAL_FLIP_COSINE) normal = scale(normal, -1);
}

// The edges AB and AC have a margin, the edge BC none.
bool triangleCandidate(int i, const Vetor& origin, const Vetor& direction, double& t) {
    const Vetor& a = objectPointA[i];
    const Vetor e1 = subtract(objectPointB[i], a);
    const Vetor e2 = subtract(objectPointC[i], a);
    const Vetor s = subtract(origin, a);
    LinearSystem3 system;
    setupLinear3(system, direction, e1, e2, s);
    Vetor x;
    if (!solveLinear3(system, x)) return false;
    const double candidate = -x[0];
    if (x[1] + x[2] <= 1 && x[1] >= TRIANGLE_EDGE_MARGIN && x[2] >= TRIANGLE_EDGE_MARGIN &&
        candidate > MIN_HIT_DISTANCE) {
        t = candidate;
        return true;
    }
    return false;
}

void triangleNormal(int i, const Vetor& direction, Vetor& normal) {
    const Vetor& a = objectPointA[i];
    normal = cross(subtract(objectPointB[i], a), subtract(objectPointC[i], a));
    normalize(normal);
    if (dot(normal, direction) > NORMAL_FLIP_COSINE) normal = scale(normal, -1);
}

// A hit exactly on the rim is a miss.
bool discCandidate(int i, const Vetor& origin, const Vetor& direction, double& t) {
    const Vetor& centre = objectPointA[i];
    const Vetor& n = objectPointB[i];
    const double den = dot(direction, n);
    if (den == 0.0) return false;
    const double candidate = dot(subtract(centre, origin), n) / den;
    const Vetor p = add(origin, scale(candidate, direction));
    if (length(subtract(p, centre)) < objectRadius[i] && candidate > MIN_HIT_DISTANCE) {
        t = candidate;
        return true;
    }
    return false;
}

// The disc's normal is never turned toward the ray.
void discNormal(int i, Vetor& normal) {
    normal = objectPointB[i];
    normalize(normal);
}

// Every face of mesh row `i` in order; a face accepted by the same rule as
// a row (nearer than the best so far, so an earlier face wins a tie).
void meshCandidates(int i, const Vetor& origin, const Vetor& direction, double& best,
                    int& hitIndex, Vetor& hitNormal) {
    const MeshRow* mesh = meshOfRow(i);
    if (mesh == nullptr) return;
    const double o[3] = {origin[0], origin[1], origin[2]};
    const double d[3] = {direction[0], direction[1], direction[2]};
    const detail::Shear shear = detail::shearOf(d);
    if (!shear.usable) return;
    const int faces = static_cast<int>(mesh->faceCount());
    int face = -1;
    detail::FaceHit hit{}, kept{};
    for (int f = 0; f < faces; ++f)
        if (detail::faceHit(*mesh, f, shear, o, hit) && (best == NO_HIT || hit.t < best)) {
            best = hit.t;
            kept = hit;
            face = f;
        }
    if (face < 0) return;
    double n[3];
    detail::meshNormal(*mesh, face, kept, d, n);
    set(hitNormal, n[0], n[1], n[2]);
    hitIndex = i;
    lastHitFace = face;
}

}  // namespace

double intersectSceneLinear(const Vetor& origin, const Vetor& direction, int& hitIndex,
                            Vetor& hitNormal) {
    double best = NO_HIT;
    hitIndex = -1;
    lastHitFace = -1;
    set(hitNormal, 0.0, 0.0, 0.0);
    for (int i = 0; i < objectCount; ++i) {
        double t = 0.0;
        bool found = false;
        switch (objectType[i]) {
        case ObjectType::Mesh:
        case ObjectType::Smooth:
            meshCandidates(i, origin, direction, best, hitIndex, hitNormal);
            break;
        case ObjectType::Sphere:
            found = sphereCandidate(i, origin, direction, t);
            break;
        case ObjectType::Triangle:
            found = triangleCandidate(i, origin, direction, t);
            break;
        case ObjectType::Disc:
            found = discCandidate(i, origin, direction, t);
            break;
        case ObjectType::Unknown:
            break;
        }
        if (!found || !(best == NO_HIT || t < best)) continue;
        best = t;
        switch (objectType[i]) {
        case ObjectType::Sphere:
            sphereNormal(i, origin, direction, t, hitNormal);
            break;
        case ObjectType::Triangle:
            triangleNormal(i, direction, hitNormal);
            break;
        default:
            discNormal(i, hitNormal);
            break;
        }
        hitIndex = i;
        lastHitFace = -1;
    }
    return best;
}

}  // namespace fotolume
