// Geometry: the vector type, the 3x3 solver behind the triangle test, and
// the nearest-hit search of a ray against the object table.
#pragma once

#include <atomic>

#include "geometry/vec3.hpp"
#include "geometry/vetor.hpp"

namespace fotolume {

// One absolute threshold, 0.001, decides every borderline case; it is
// never scaled to the size of the scene. Each meaning has its own name so a
// reader sees which test is which (all have the same value).
constexpr double MIN_HIT_DISTANCE = 0.001;      // a hit nearer than this (or equal) is none
constexpr double MIN_DISCRIMINANT = 0.001;      // r^2 - |perp|^2 below this: the sphere is missed
constexpr double TRIANGLE_EDGE_MARGIN = 0.001;  // least coordinate along the edges AB and AC
constexpr double NORMAL_FLIP_COSINE = 0.001;    // N.D above this: the normal is turned to the ray
constexpr double MIN_PIVOT = 0.001;             // a smaller solver pivot: near-singular, no hit

// A 3x3 system c0*x0 + c1*x1 + c2*x2 = b. Pivoting permutes rowOrder only;
// rows never move in memory.
struct LinearSystem3 {
    int rowOrder[3];
    double matrix[3][3];
    double rhs[3];
};

void setupLinear3(LinearSystem3& system, const Vetor& c0, const Vetor& c1, const Vetor& c2,
                  const Vetor& b);
// 1 with the solution set, or 0 (solution untouched) when a pivot falls
// below MIN_PIVOT.
int solveLinear3(LinearSystem3& system, Vetor& solution);

// Distance returned by intersectScene when the ray meets nothing.
constexpr double NO_HIT = -1.0;

// Nearest hit of a ray (unit direction) against every object: the distance,
// the row of the object and its unit normal there; NO_HIT, -1 and (0, 0, 0)
// on a miss. Ties go to the lower row. Uses a bounding-volume hierarchy
// built on first use after the scene changed; the result is exactly that of
// intersectSceneLinear.
double intersectScene(const Vetor& origin, const Vetor& direction, int& hitIndex, Vetor& hitNormal);

// The face of the last hit intersectScene found on this thread, when its
// row is a mesh (face numbers count from 0 within the row); -1 otherwise.
inline thread_local int lastHitFace = -1;

// The row of the object intersectScene would return (-1 on a miss), without
// working out the distance's normal: what a shadow test needs.
int nearestObject(const Vetor& origin, const Vetor& direction);

// The same two searches on plain values, for the tracer's inner loop.
double intersectScene(const Vec3& origin, const Vec3& direction, int& hitIndex, Vec3& hitNormal);
int nearestObject(const Vec3& origin, const Vec3& direction);

// The defining search: every object tested in table order. Kept as the
// reference the fast search is checked against.
double intersectSceneLinear(const Vetor& origin, const Vetor& direction, int& hitIndex,
                            Vetor& hitNormal);

// What a thread's rays cost, counted as they are traced (an increment
// each: no measurable cost) and summed over the threads after a render.
struct TraceCounts {
    long long primary = 0;    // one ray through a pixel's centre
    long long samples = 0;    // a ray of a pixel's anti-aliasing grid
    long long shadow = 0;     // towards a light
    long long reflected = 0;  // mirror rays
    long long refracted = 0;  // rays through glass
    long long boxes = 0;      // hierarchy boxes tested
    long long objects = 0;    // object tests
    void add(const TraceCounts& other);
};
inline thread_local TraceCounts traceCounts;

// Builds the acceleration structure now if the scene changed (sceneVersion).
// Call before searching from several threads: after it, searches only read
// shared state.
void prepareSearch();

// Objects and faces of mesh rows placed in the search so far (reset at each
// build), for a display of the build's progress; any thread may read it.
// Objects the search tests always (planes, huge shapes) are not counted.
extern std::atomic<long long> searchPlaced;

// For tests: the widest SIMD lanes the search may use (4, 2, or 1 for one
// object at a time); it uses the widest the processor runs up to that.
void limitSearchLanes(int width);
// For tests: every ray takes the table-order scan (true) or the fast
// search where it may (false, the default).
void searchByScan(bool scan);

// The elimination of solveLinear3 on plain doubles: 1 with x set, or 0
// (x untouched) on a pivot below MIN_PIVOT.
int solveLinear3(LinearSystem3& system, double x[3]);

}  // namespace fotolume
