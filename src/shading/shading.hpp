// Shading: pigments, the shadow test and the recursive ray tracer with its
// local lighting, reflection and refraction.
#pragma once

#include "geometry/geometry.hpp"

namespace fotolume {

// Recursion limit: a hit is shaded only while traceDepth is below it.
constexpr int MAX_TRACE_DEPTH = 5;

// Surface color of object `object` at `point` (world coordinates).
Vetor evalPigment(const Vetor& point, int object);

// Whether light `light` (1 .. lightCount - 1) reaches `point`: the nearest
// object on the half-line towards the light decides, and a transparent one
// lets the light through at full strength.
bool isLit(const Vetor& point, int light);

// Mirror direction D - 2 (N.D) N, normalized; the same for N and -N.
Vetor mirrorDirection(const Vetor& normal, const Vetor& direction);

// Refracted direction through a surface with the given index of refraction,
// for a ray carrying the medium flag `inside`. False under total internal
// reflection (k below 0.001), with `transmitted` untouched.
bool refractDirection(const Vetor& normal, const Vetor& direction, double ior, int inside,
                      Vetor& transmitted);

// Color seen along a ray with a unit direction; `inside` is the medium flag
// (0 for primary rays) that picks the refraction ratio.
Vetor traceRay(const Vetor& origin, const Vetor& direction, int inside);

}  // namespace fotolume
