#include <cmath>

#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume {

namespace {

void addWeighted(Vec3& sum, double weight, const Vec3& color) {
    for (int k = 0; k < 3; ++k) sum[k] = sum[k] + weight * color[k];
}

}  // namespace

Vec3 mirrorDirection(const Vec3& normal, const Vec3& direction) {
    const double m = dot(normal, direction) * (-2);
    Vec3 r = add(scale(m, normal), direction);
    normalize(r);
    return r;
}

// Entering (inside 0) the ratio is ior itself, leaving it is 1 / ior.
bool refractDirection(const Vec3& normal, const Vec3& direction, double ior, int inside,
                      Vec3& transmitted) {
    const double ni = inside == 0 ? ior : 1;
    const double nt = inside == 0 ? 1 : ior;
    const double dn = dot(direction, normal);
    const double k = 1 - (1 - dn * dn) * ((ni * ni) / (nt * nt));
    if (!(k >= MIN_REFRACTION_K)) return false;
    const double eta = ni / nt;
    transmitted = add(scale(dn * (-eta) - std::sqrt(k), normal), scale(eta, direction));
    normalize(transmitted);
    return true;
}

bool isLit(const Vec3& point, const Vec3& towardLight) {
    ++traceCounts.shadow;
    const int hitIndex = nearestObject(point, towardLight);
    if (hitIndex < 0) return true;
    return finishTransmission[objectFinish[hitIndex]] > MIN_COEFFICIENT;
}

namespace {

// Diffuse and specular light of lights 1 .. lightCount - 1 that reach p,
// added to s light by light.
void addPointLights(Vec3& s, const Vec3& p, const Vec3& direction, const Vec3& n, const Vec3& cp,
                    int f) {
    const double kd = finishDiffuse[f];
    const double ks = finishSpecular[f];
    const double shininess = finishShininess[f];
    for (int i = 1; i < lightCount; ++i) {
        // The unit vector towards the light serves the shadow test and the
        // shading alike.
        Vec3 l = subtract(plain(lightPosition[i]), p);
        const double d = length(l);
        normalize(l);
        if (!isLit(p, l)) continue;
        Vec3 h = subtract(l, direction);
        normalize(h);
        const Vetor& a = lightAttenuation[i];
        const double att = 1 / ((a[1] * d + a[0]) + (a[2] * d) * d);
        const Vec3 li = scale(att, plain(lightColor[i]));
        const double nl = dot(n, l);
        if (nl > MIN_LIGHT_COSINE)
            for (int k = 0; k < 3; ++k) s[k] = nl * ((li[k] * kd) * cp[k]) + s[k];
        const double nh = dot(n, h);
        if (nh > MIN_LIGHT_COSINE) {
            const double highlight = std::pow(nh, shininess);
            for (int k = 0; k < 3; ++k) s[k] = highlight * (li[k] * ks) + s[k];
        }
    }
}

}  // namespace

Vec3 traceRay(const Vec3& origin, const Vec3& direction, int inside) {
    Vec3 s{{0.0, 0.0, 0.0}};
    int hitIndex;
    Vec3 n;
    const double t = intersectScene(origin, direction, hitIndex, n);
    if (t == NO_HIT) return plain(backgroundColor);
    if (traceDepth >= MAX_TRACE_DEPTH) return s;

    const int f = objectFinish[hitIndex];
    // No offset along the normal: the least hit distance alone keeps
    // secondary and shadow rays from finding this surface again.
    const Vec3 p = add(origin, scale(t, direction));
    const Vec3 cp = evalPigment(p, hitIndex);
    const double ka = finishAmbient[f];
    for (int k = 0; k < 3; ++k) s[k] = (ka * lightColor[0][k]) * cp[k];
    addPointLights(s, p, direction, n, cp, f);

    const double kr = finishReflection[f];
    if (kr > MIN_COEFFICIENT) {
        ++traceDepth;
        ++traceCounts.reflected;
        const Vec3 cr = traceRay(p, mirrorDirection(n, direction), inside);
        addWeighted(s, kr, cr);
        --traceDepth;
    }

    const double kt = finishTransmission[f];
    if (objectType[hitIndex] == ObjectType::Sphere && kt > MIN_COEFFICIENT) {
        ++traceDepth;
        ++traceCounts.refracted;  // total internal reflection included
        Vec3 transmitted;
        if (refractDirection(n, direction, finishIor[f], inside, transmitted)) {
            addWeighted(s, kt, traceRay(p, transmitted, inside == 0 ? 1 : 0));
        } else {
            // Total internal reflection, weighted by the transmission.
            addWeighted(s, kt, traceRay(p, mirrorDirection(n, direction), inside));
        }
        --traceDepth;
    }
    return s;
}

// The Vetor forms: conversions around the plain ones.

Vetor mirrorDirection(const Vetor& normal, const Vetor& direction) {
    return toVetor(mirrorDirection(plain(normal), plain(direction)));
}

bool refractDirection(const Vetor& normal, const Vetor& direction, double ior, int inside,
                      Vetor& transmitted) {
    Vec3 result;
    if (!refractDirection(plain(normal), plain(direction), ior, inside, result)) return false;
    set(transmitted, result[0], result[1], result[2]);
    return true;
}

bool isLit(const Vetor& point, const Vetor& towardLight) {
    return isLit(plain(point), plain(towardLight));
}

Vetor traceRay(const Vetor& origin, const Vetor& direction, int inside) {
    return toVetor(traceRay(plain(origin), plain(direction), inside));
}

}  // namespace fotolume
