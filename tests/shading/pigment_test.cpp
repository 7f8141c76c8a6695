#include <gtest/gtest.h>

#include <cmath>

#include "scene/scene.hpp"
#include "shading/shading.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

// Object 0 uses pigment 0, whose colors are black (color1) and white (color2).
void usePigment(PigmentType type, double size = 1) {
    resetScene();
    pigmentCount = 1;
    growPigments(pigmentCount);
    pigmentType[0] = type;
    set(pigmentColor1[0], 0, 0, 0);
    set(pigmentColor2[0], 1, 1, 1);
    pigmentSize[0] = size;
    test::addSphere(Vetor(0, 0, 0), 1);
}

double shade(double x, double y, double z) { return evalPigment(Vetor(x, y, z), 0)[0]; }

TEST(Pigment, CheckerCellsAlignToTheOriginBoundariesGoUp) {
    usePigment(PigmentType::Checker);
    EXPECT_EQ(shade(0.5, 0.5, 0.5), 0);     // sum 0
    EXPECT_EQ(shade(1.5, 0.5, 0.5), 1);     // sum 1
    EXPECT_EQ(shade(-0.5, 0.5, 0.5), 1);    // sum -1 is odd
    EXPECT_EQ(shade(-0.5, -0.5, 0.5), 0);   // sum -2
    EXPECT_EQ(shade(1.0, 0.0, 0.0), 1);     // a boundary belongs to the upper cell
    EXPECT_EQ(shade(0.5, -1e-17, 0.5), 1);  // a floor hit just below y = 0

    usePigment(PigmentType::Checker, 2);
    EXPECT_EQ(shade(3.9, 0, 0), 1);
    EXPECT_EQ(shade(4.0, 0, 0), 0);

    // Degenerate and huge inputs give a defined color: NaN and out-of-range
    // cells count as INT32_MIN, summed with wrap-around.
    EXPECT_EQ(shade(1e300, 0, 0), 0);      // INT32_MIN + 0 + 0 is even
    EXPECT_EQ(shade(1e300, 2, 0), 1);      // INT32_MIN + 1 + 0 is odd
    EXPECT_EQ(shade(NAN, NAN, 1e300), 0);  // three INT32_MIN wrap to INT32_MIN
    usePigment(PigmentType::Checker, 0);
    EXPECT_EQ(shade(0, 0, 0), 0);  // 0/0 is NaN in every axis
}

TEST(Pigment, GradientIsPeriodicAndSolidIsConstant) {
    usePigment(PigmentType::Gradient);
    set(pigmentDirection[0], 2, 0, 0);
    EXPECT_EQ(shade(0, 5, 7), 0);
    EXPECT_NEAR(shade(1, 0, 0), 0.5, 1e-11);
    EXPECT_EQ(shade(2, 0, 0), 1);
    EXPECT_NEAR(shade(4, 0, 0), 0, 1e-20);
    EXPECT_EQ(shade(-2, 0, 0), 1);
    set(pigmentDirection[0], 1, 0, 0);
    EXPECT_EQ(shade(1, 0, 0), 1);

    usePigment(PigmentType::Solid);
    set(pigmentColor1[0], 0.25, 0.5, 0.75);
    pigmentSize[0] = 0;
    const Vetor c = evalPigment(Vetor(123, -4, 1e9), 0);
    EXPECT_EQ(c[0], 0.25);
    EXPECT_EQ(c[2], 0.75);

    usePigment(PigmentType::Unknown);
    set(pigmentColor1[0], 1, 1, 1);
    EXPECT_EQ(shade(0, 0, 0), 0);  // unrecognised type words are black
}

}  // namespace
}  // namespace fotolume
