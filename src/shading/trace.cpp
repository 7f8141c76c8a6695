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

namespace {

// Whether light passes the object nearest on the way to it: none, or one
// that transmits.
bool passes(int blocker) {
    return blocker < 0 || finishTransmission[objectFinish[blocker]] > MIN_COEFFICIENT;
}

}  // namespace

bool isLit(const Vec3& point, const Vec3& towardLight) {
    ++traceCounts.shadow;
    return passes(nearestObject(point, towardLight));
}

namespace {

// The recorder of a plain render: every call vanishes when inlined, so the
// render pays nothing for explanations.
struct Unrecorded {
    void ray(RayKind, int, const Vec3&, const Vec3&, int) {}
    void missed(const Vec3&) {}
    void hit(int, int, double, const Vec3&, const Vec3&) {}
    void depthLimit() {}
    void surface(const Vec3&, const Vec3&) {}
    void light(const LightPart&) {}
    void weights(double, double) {}
    void returned(const Vec3&) {}
};

// Diffuse and specular light of lights 1 .. lightCount - 1 that reach p,
// added to s light by light (each term formed, then added: the same
// operations as adding it in place).
template <class Recorder>
void addPointLights(Recorder& recorder, Vec3& s, const Vec3& p, const Vec3& direction,
                    const Vec3& n, const Vec3& cp, int f) {
    const double kd = finishDiffuse[f];
    const double ks = finishSpecular[f];
    const double shininess = finishShininess[f];
    for (int i = 1; i < lightCount; ++i) {
        LightPart part;
        part.light = i;
        // The unit vector towards the light serves the shadow test and the
        // shading alike.
        Vec3 l = subtract(plain(lightPosition[i]), p);
        part.distance = length(l);
        normalize(l);
        part.toward = l;
        ++traceCounts.shadow;
        part.blocker = nearestObject(p, l);
        part.reached = passes(part.blocker);
        if (part.reached) {
            Vec3 h = subtract(l, direction);
            normalize(h);
            const Vetor& a = lightAttenuation[i];
            const double d = part.distance;
            part.attenuation = 1 / ((a[1] * d + a[0]) + (a[2] * d) * d);
            const Vec3 li = scale(part.attenuation, plain(lightColor[i]));
            part.nl = dot(n, l);
            if (part.nl > MIN_LIGHT_COSINE)
                for (int k = 0; k < 3; ++k) {
                    part.diffuse[k] = part.nl * ((li[k] * kd) * cp[k]);
                    s[k] = part.diffuse[k] + s[k];
                }
            part.nh = dot(n, h);
            if (part.nh > MIN_LIGHT_COSINE) {
                const double highlight = std::pow(part.nh, shininess);
                for (int k = 0; k < 3; ++k) {
                    part.specular[k] = highlight * (li[k] * ks);
                    s[k] = part.specular[k] + s[k];
                }
            }
        }
        recorder.light(part);
    }
}

template <class Recorder>
Vec3 trace(Recorder& recorder, const Vec3& origin, const Vec3& direction, int inside,
           RayKind kind) {
    recorder.ray(kind, traceDepth, origin, direction, inside);
    Vec3 s{{0.0, 0.0, 0.0}};
    int hitIndex;
    Vec3 n;
    const double t = intersectScene(origin, direction, hitIndex, n);
    if (t == NO_HIT) {
        recorder.missed(plain(backgroundColor));
        return plain(backgroundColor);
    }
    // No offset along the normal: the least hit distance alone keeps
    // secondary and shadow rays from finding this surface again.
    const Vec3 p = add(origin, scale(t, direction));
    recorder.hit(hitIndex, lastHitFace, t, p, n);
    if (traceDepth >= MAX_TRACE_DEPTH) {
        recorder.depthLimit();
        return s;
    }

    const int f = objectFinish[hitIndex];
    const Vec3 cp = evalPigment(p, hitIndex);
    const double ka = finishAmbient[f];
    for (int k = 0; k < 3; ++k) s[k] = (ka * lightColor[0][k]) * cp[k];
    recorder.surface(cp, s);
    addPointLights(recorder, s, p, direction, n, cp, f);

    const double kr = finishReflection[f];
    const double kt = finishTransmission[f];
    const bool refracts = objectType[hitIndex] == ObjectType::Sphere && kt > MIN_COEFFICIENT;
    recorder.weights(kr > MIN_COEFFICIENT ? kr : 0.0, refracts ? kt : 0.0);
    if (kr > MIN_COEFFICIENT) {
        ++traceDepth;
        ++traceCounts.reflected;
        const Vec3 cr =
            trace(recorder, p, mirrorDirection(n, direction), inside, RayKind::Reflected);
        addWeighted(s, kr, cr);
        --traceDepth;
    }

    if (refracts) {
        ++traceDepth;
        ++traceCounts.refracted;  // total internal reflection included
        Vec3 transmitted;
        if (refractDirection(n, direction, finishIor[f], inside, transmitted)) {
            addWeighted(s, kt,
                        trace(recorder, p, transmitted, inside == 0 ? 1 : 0, RayKind::Refracted));
        } else {
            // Total internal reflection, weighted by the transmission.
            addWeighted(
                s, kt,
                trace(recorder, p, mirrorDirection(n, direction), inside, RayKind::TotalInternal));
        }
        --traceDepth;
    }
    recorder.returned(s);
    return s;
}

}  // namespace

Vec3 traceRay(const Vec3& origin, const Vec3& direction, int inside) {
    Unrecorded none;
    return trace(none, origin, direction, inside, RayKind::Primary);
}

Vec3 traceRay(TraceRecorder& recorder, const Vec3& origin, const Vec3& direction, int inside,
              RayKind kind) {
    return trace(recorder, origin, direction, inside, kind);
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
