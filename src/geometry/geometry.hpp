// Geometry: the vector type, the 3x3 solver behind the triangle test, and
// the nearest-hit search of a ray against the object table.
#pragma once

#include "geometry/vetor.hpp"

namespace fotolume {

// A 3x3 system c0*x0 + c1*x1 + c2*x2 = b. Pivoting permutes rowOrder only;
// rows never move in memory.
struct LinearSystem3 {
    int rowOrder[3];
    double matrix[3][3];
    double rhs[3];
};

void setupLinear3(LinearSystem3& system, const Vetor& c0, const Vetor& c1, const Vetor& c2,
                  const Vetor& b);
int choosePivot(LinearSystem3& system, int step);
// 1 with the solution set, or 0 (solution untouched) when a pivot falls
// below the absolute threshold 0.001.
int solveLinear3(LinearSystem3& system, Vetor& solution);

// Distance returned by intersectScene when the ray meets nothing.
constexpr double NO_HIT = -1.0;

// Nearest hit of a ray (unit direction) against every object: the distance,
// the row of the object and its unit normal there; NO_HIT, -1 and (0, 0, 0)
// on a miss. Ties go to the lower row. Uses a bounding-volume hierarchy
// built on first use after the scene changed; the result is exactly that of
// intersectSceneLinear.
double intersectScene(const Vetor& origin, const Vetor& direction, int& hitIndex, Vetor& hitNormal);

// The defining search: every object tested in table order. Kept as the
// reference the fast search is checked against.
double intersectSceneLinear(const Vetor& origin, const Vetor& direction, int& hitIndex,
                            Vetor& hitNormal);

// Call after changing the object table outside readScene (tests, tools):
// the acceleration structure is rebuilt on the next search.
void sceneChanged();

// Builds the acceleration structure now if the scene changed. Call before
// searching from several threads: after it, searches only read shared state.
void prepareSearch();

// The elimination of solveLinear3 on plain doubles: 1 with x set, or 0
// (x untouched) on a pivot below 0.001.
int solveLinear3(LinearSystem3& system, double x[3]);

}  // namespace fotolume
