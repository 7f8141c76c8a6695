#include <cmath>

#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume {

namespace {

void addWeighted(Vetor& sum, double weight, const Vetor& color) {
    for (int k = 0; k < 3; ++k) sum[k] = sum[k] + weight * color[k];
}

}  // namespace

Vetor mirrorDirection(const Vetor& normal, const Vetor& direction) {
    const double m = dot(normal, direction) * (-2);
    Vetor r = add(scale(m, normal), direction);
    normalize(r);
    return r;
}

// Entering (inside 0) the ratio is ior itself, leaving it is 1 / ior.
bool refractDirection(const Vetor& normal, const Vetor& direction, double ior, int inside,
                      Vetor& transmitted) {
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

bool isLit(const Vetor& point, const Vetor& towardLight) {
    ++traceCounts.shadow;
    const int hitIndex = nearestObject(point, towardLight);
    if (hitIndex < 0) return true;
    return finishTransmission[objectFinish[hitIndex]] > MIN_COEFFICIENT;
}

namespace {

// Diffuse and specular light of lights 1 .. lightCount - 1 that reach p,
// added to s light by light.
void addPointLights(Vetor& s, const Vetor& p, const Vetor& direction, const Vetor& n,
                    const Vetor& cp, int f) {
    const double kd = finishDiffuse[f];
    const double ks = finishSpecular[f];
    const double shininess = finishShininess[f];
    for (int i = 1; i < lightCount; ++i) {
        // The unit vector towards the light serves the shadow test and the
        // shading alike.
        Vetor l = subtract(lightPosition[i], p);
        const double d = length(l);
        normalize(l);
        if (!isLit(p, l)) continue;
        Vetor h = subtract(l, direction);
        normalize(h);
        const Vetor& a = lightAttenuation[i];
        const double att = 1 / ((a[1] * d + a[0]) + (a[2] * d) * d);
        const Vetor li = scale(att, lightColor[i]);
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

Vetor traceRay(const Vetor& origin, const Vetor& direction, int inside) {
    Vetor s;
    int hitIndex;
    Vetor n;
    const double t = intersectScene(origin, direction, hitIndex, n);
    if (t == NO_HIT) return backgroundColor;
    if (traceDepth >= MAX_TRACE_DEPTH) return s;

    const int f = objectFinish[hitIndex];
    // No offset along the normal: the least hit distance alone keeps
    // secondary and shadow rays from finding this surface again.
    const Vetor p = add(origin, scale(t, direction));
    const Vetor cp = evalPigment(p, hitIndex);
    const double ka = finishAmbient[f];
    for (int k = 0; k < 3; ++k) s[k] = (ka * lightColor[0][k]) * cp[k];
    addPointLights(s, p, direction, n, cp, f);

    const double kr = finishReflection[f];
    if (kr > MIN_COEFFICIENT) {
        ++traceDepth;
        ++traceCounts.reflected;
        const Vetor cr = traceRay(p, mirrorDirection(n, direction), inside);
        addWeighted(s, kr, cr);
        --traceDepth;
    }

    const double kt = finishTransmission[f];
    if (objectType[hitIndex] == ObjectType::Sphere && kt > MIN_COEFFICIENT) {
        ++traceDepth;
        ++traceCounts.refracted;  // total internal reflection included
        Vetor transmitted;
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

}  // namespace fotolume
