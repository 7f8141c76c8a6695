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

// The same functions on plain values, with the same arithmetic: what the
// render loop and the recursion use (the Vetor forms convert and call them).
Vec3 evalPigment(const Vec3& point, int object);
bool isLit(const Vec3& point, const Vec3& towardLight);
Vec3 mirrorDirection(const Vec3& normal, const Vec3& direction);
bool refractDirection(const Vec3& normal, const Vec3& direction, double ior, int inside,
                      Vec3& transmitted);
Vec3 traceRay(const Vec3& origin, const Vec3& direction, int inside);

}  // namespace fotolume
