// Shading: pigments, the shadow test and the recursive ray tracer with its
// local lighting, reflection and refraction.
#pragma once

#include "geometry/geometry.hpp"

namespace fotolume {

// Recursion limit: a hit is shaded only while traceDepth is below it.
constexpr int MAX_TRACE_DEPTH = 5;

// The shading meanings of the one 0.001 threshold (see geometry.hpp).
constexpr double MIN_LIGHT_COSINE = 0.001;  // N.L and N.H must exceed it to light the point
constexpr double MIN_COEFFICIENT = 0.001;   // reflection or transmission above it takes effect
constexpr double MIN_REFRACTION_K = 0.001;  // k below it: total internal reflection

// Surface color of object `object` at `point` (world coordinates).
Vetor evalPigment(const Vetor& point, int object);

// Whether a light in the unit direction `towardLight` reaches `point`: the
// nearest object on the half-line decides, and a transparent one lets the
// light through at full strength. The distance to the light is deliberately
// not compared: anything on the half-line, beyond the light too, casts the
// shadow.
bool isLit(const Vetor& point, const Vetor& towardLight);

// Mirror direction D - 2 (N.D) N, normalized; the same for N and -N.
Vetor mirrorDirection(const Vetor& normal, const Vetor& direction);

// Refracted direction through a surface with the given index of refraction,
// for a ray carrying the medium flag `inside`. False under total internal
// reflection (k below MIN_REFRACTION_K), with `transmitted` untouched.
bool refractDirection(const Vetor& normal, const Vetor& direction, double ior, int inside,
                      Vetor& transmitted);

// Color seen along a ray with a unit direction; `inside` is the medium flag
// (0 for primary rays) that picks the refraction ratio.
Vetor traceRay(const Vetor& origin, const Vetor& direction, int inside);

// What a ray is, for an explanation: the primary ray of a pixel (or of a
// cell of its grid), a mirror ray, a refracted ray, or the mirror ray that
// total internal reflection traces instead of a refracted one.
enum class RayKind { Primary, Reflected, Refracted, TotalInternal };

// One light's part in the shading of a hit point.
struct LightPart {
    int light = 0;
    double distance = 0.0;  // from the point to the light
    Vec3 toward{};          // unit direction to the light
    int blocker = -1;       // the nearest object on the half-line towards it, or -1
    bool reached = false;   // no blocker, or a transparent one
    double attenuation = 0.0;
    double nl = 0.0, nh = 0.0;   // N.L and N.H; each lights only above MIN_LIGHT_COSINE
    Vec3 diffuse{}, specular{};  // the terms added (zero where not lit)
};

// Told by the tracer, as it works, everything it computes for a ray: what
// the ray met, each term of the sum, and the rays it spawned (told in turn,
// between weights() and returned()). An explanation of a pixel is built from
// it, so it cannot disagree with the render.
class TraceRecorder {
public:
    virtual ~TraceRecorder() = default;
    virtual void ray(RayKind kind, int depth, const Vec3& origin, const Vec3& direction,
                     int inside) = 0;
    virtual void missed(const Vec3& background) = 0;
    // A hit: the object (and its face, in a mesh row; else -1), the
    // distance, the point and the normal as used.
    virtual void hit(int object, int face, double t, const Vec3& point, const Vec3& normal) = 0;
    virtual void depthLimit() = 0;  // the hit is not shaded: black
    virtual void surface(const Vec3& pigment, const Vec3& ambient) = 0;
    virtual void light(const LightPart& part) = 0;
    virtual void weights(double reflection, double transmission) = 0;
    virtual void returned(const Vec3& color) = 0;
};

// traceRay, with every step told to `recorder`; the ray's kind is its own.
Vec3 traceRay(TraceRecorder& recorder, const Vec3& origin, const Vec3& direction, int inside,
              RayKind kind);

// The same functions on plain values, with the same arithmetic: what the
// render loop and the recursion use (the Vetor forms convert and call them).
Vec3 evalPigment(const Vec3& point, int object);
bool isLit(const Vec3& point, const Vec3& towardLight);
Vec3 mirrorDirection(const Vec3& normal, const Vec3& direction);
bool refractDirection(const Vec3& normal, const Vec3& direction, double ior, int inside,
                      Vec3& transmitted);
Vec3 traceRay(const Vec3& origin, const Vec3& direction, int inside);

}  // namespace fotolume
