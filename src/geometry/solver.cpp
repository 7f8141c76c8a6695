#include "geometry/geometry.hpp"

namespace fotolume {

namespace {
double magnitude(double a) { return a >= 0 ? a : -a; }
}  // namespace

void setupLinear3(LinearSystem3& system, const Vetor& c0, const Vetor& c1, const Vetor& c2,
                  const Vetor& b) {
    for (int r = 0; r < 3; ++r) {
        system.rowOrder[r] = r;
        system.matrix[r][0] = c0[r];
        system.matrix[r][1] = c1[r];
        system.matrix[r][2] = c2[r];
        system.rhs[r] = b[r];
    }
}

namespace {

// Among rows of equal magnitude the one standing first in rowOrder wins.
int choosePivot(LinearSystem3& system, int step) {
    int best = step;
    double bestValue = magnitude(system.matrix[system.rowOrder[step]][step]);
    for (int j = step + 1; j <= 2; ++j) {
        const double v = magnitude(system.matrix[system.rowOrder[j]][step]);
        if (v > bestValue) {
            best = j;
            bestValue = v;
        }
    }
    if (best != step) {
        const int swapped = system.rowOrder[step];
        system.rowOrder[step] = system.rowOrder[best];
        system.rowOrder[best] = swapped;
    }
    return system.rowOrder[step];
}

}  // namespace

// The row operation rebuilds a later row as (pivot row - f * row) with
// f = pivot / m, which scales the usual eliminated row by -f; the absolute
// MIN_PIVOT threshold then sees those enlarged rows. Which near-parallel
// rays hit a triangle depends on exactly this.
int solveLinear3(LinearSystem3& system, double x[3]) {
    for (int k = 0; k < 2; ++k) {
        const int p = choosePivot(system, k);
        if (magnitude(system.matrix[p][k]) < MIN_PIVOT) return 0;
        for (int j = k + 1; j <= 2; ++j) {
            const int r = system.rowOrder[j];
            const double m = system.matrix[r][k];
            if (magnitude(m) == 0) continue;
            const double f = system.matrix[p][k] / m;
            for (int c = k; c <= 2; ++c)
                system.matrix[r][c] = system.matrix[p][c] - system.matrix[r][c] * f;
            system.rhs[r] = system.rhs[p] - system.rhs[r] * f;
        }
    }
    const int p0 = system.rowOrder[0];
    const int p1 = system.rowOrder[1];
    const int p2 = system.rowOrder[2];
    if (magnitude(system.matrix[p2][2]) < MIN_PIVOT) return 0;
    const double x2 = system.rhs[p2] / system.matrix[p2][2];
    const double x1 = (system.rhs[p1] - x2 * system.matrix[p1][2]) / system.matrix[p1][1];
    const double x0 = ((system.rhs[p0] - x2 * system.matrix[p0][2]) - x1 * system.matrix[p0][1]) /
                      system.matrix[p0][0];
    x[0] = x0;
    x[1] = x1;
    x[2] = x2;
    return 1;
}

int solveLinear3(LinearSystem3& system, Vetor& solution) {
    double x[3];
    if (!solveLinear3(system, x)) return 0;
    set(solution, x[0], x[1], x[2]);
    return 1;
}

}  // namespace fotolume
