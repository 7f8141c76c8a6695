#include <gtest/gtest.h>

#include "geometry/geometry.hpp"

namespace fotolume {
namespace {

struct Outcome {
    int ok;
    Vetor solution;
    int order[3];
};

// Matrices are given by rows here; setupLinear3 takes columns.
Outcome solveRows(const double rows[3][3], const double b[3]) {
    LinearSystem3 system;
    setupLinear3(system, Vetor(rows[0][0], rows[1][0], rows[2][0]),
                 Vetor(rows[0][1], rows[1][1], rows[2][1]),
                 Vetor(rows[0][2], rows[1][2], rows[2][2]), Vetor(b[0], b[1], b[2]));
    Outcome outcome{0, Vetor(-7, -7, -7), {}};
    outcome.ok = solveLinear3(system, outcome.solution);
    for (int i = 0; i < 3; ++i) outcome.order[i] = system.rowOrder[i];
    return outcome;
}

void expectSolution(const Outcome& o, double x0, double x1, double x2) {
    ASSERT_EQ(o.ok, 1);
    EXPECT_DOUBLE_EQ(o.solution[0], x0);
    EXPECT_DOUBLE_EQ(o.solution[1], x1);
    EXPECT_DOUBLE_EQ(o.solution[2], x2);
}

TEST(Solver, PivotThresholdIsAbsoluteAndFailureLeavesTheSolution) {
    const double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const double b456[3] = {4, 5, 6};
    const Outcome plain = solveRows(identity, b456);
    expectSolution(plain, 4, 5, 6);
    EXPECT_EQ(plain.order[0], 0);
    EXPECT_EQ(plain.order[2], 2);

    const double ones[3] = {1, 1, 1};
    const double small[3][3] = {{0.001, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    expectSolution(solveRows(small, ones), 1000, 1, 1);  // exactly 0.001 passes

    const double tooSmall[3][3] = {{0.0009, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const Outcome failed = solveRows(tooSmall, ones);
    EXPECT_EQ(failed.ok, 0);
    EXPECT_EQ(failed.solution[0], -7);

    const double zeroColumn[3][3] = {{0, 1, 0}, {0, 0, 1}, {0, 2, 3}};
    EXPECT_EQ(solveRows(zeroColumn, ones).ok, 0);

    const double lastPivot[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 0.0005}};
    EXPECT_EQ(solveRows(lastPivot, ones).ok, 0);
}

TEST(Solver, PivotOrderAndTheUnusualRowOperation) {
    const double ones[3] = {1, 1, 1};
    // A tie in magnitude keeps the earlier row.
    const double tie[3][3] = {{2, 1, 0}, {-2, 0, 1}, {0, 0, 1}};
    const Outcome tied = solveRows(tie, ones);
    expectSolution(tied, 0, 1, 1);
    EXPECT_EQ(tied.order[0], 0);
    EXPECT_EQ(tied.order[1], 1);
    EXPECT_EQ(tied.order[2], 2);

    const double permuted[3][3] = {{0, 1, 0}, {0, 0, 1}, {-1, 0, 0}};
    const double b[3] = {0.25, 0.25, 1};
    const Outcome moved = solveRows(permuted, b);
    expectSolution(moved, -1, 0.25, 0.25);
    EXPECT_EQ(moved.order[0], 2);
    EXPECT_EQ(moved.order[1], 0);
    EXPECT_EQ(moved.order[2], 1);

    // Rebuilding row 1 as (pivot row - 1000 * row 1) makes the next pivot
    // 0.5; textbook elimination would see 0.0005 and fail.
    const double scaled[3][3] = {{1, 0, 0}, {0.001, 0.0005, 0}, {0, 0, 1}};
    const double rhs[3] = {1, 0.0015, 2};
    expectSolution(solveRows(scaled, rhs), 1, 1, 2);
}

}  // namespace
}  // namespace fotolume
