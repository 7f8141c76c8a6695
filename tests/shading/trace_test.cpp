#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scene/scene.hpp"
#include "shading/shading.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using test::addDisc;
using test::addFinish;
using test::addLight;
using test::addSolid;
using test::addSphere;

const double kOpaque = 0.001;  // "transmits" only above 0.001

// The shadow test for light row `light`, as the tracer asks it.
bool isLit(const Vetor& point, int light) {
    Vetor towardLight = subtract(lightPosition[light], point);
    normalize(towardLight);
    return fotolume::isLit(point, towardLight);
}

TEST(Shadow, NearestObjectOnTheHalfLineDecides) {
    resetScene();
    addLight(Vetor(), Vetor(1, 1, 1), Vetor(1, 0, 0));
    const int light = addLight(Vetor(0, 10, 0), Vetor(1, 1, 1), Vetor(1, 0, 0));
    const int opaque = addFinish(0, 0, 0, 0, 0, kOpaque, 1);
    addSolid(Vetor(1, 1, 1));

    addSphere(Vetor(0, 0, 0), 1, opaque);
    EXPECT_TRUE(isLit(Vetor(0, 1, 0), light));    // own surface does not block
    EXPECT_FALSE(isLit(Vetor(0, -1, 0), light));  // light on the far side

    addSphere(Vetor(0, 5, 0), 1, opaque);  // between point and light
    EXPECT_FALSE(isLit(Vetor(0, 1, 0), light));

    resetScene();
    addLight(Vetor(), Vetor(1, 1, 1), Vetor(1, 0, 0));
    addLight(Vetor(0, 10, 0), Vetor(1, 1, 1), Vetor(1, 0, 0));
    addFinish(0, 0, 0, 0, 0, kOpaque, 1);
    addFinish(0, 0, 0, 0, 0, 0.5, 1);
    addFinish(0, 0, 0, 0, 0, 0.0011, 1);
    addSphere(Vetor(0, 20, 0), 1, 0);  // behind the light: still a shadow
    EXPECT_FALSE(isLit(Vetor(0, 0, 0), 1));

    addSphere(Vetor(0, 5, 0), 1, 1);  // a clear sphere nearer than the opaque one
    EXPECT_TRUE(isLit(Vetor(0, 0, 0), 1));
    finishTransmission[1] = 0.001;
    EXPECT_FALSE(isLit(Vetor(0, 0, 0), 1));
    objectFinish[1] = 2;  // 0.0011
    EXPECT_TRUE(isLit(Vetor(0, 0, 0), 1));

    // A light inside an opaque sphere lights nothing outside it.
    resetScene();
    addLight(Vetor(), Vetor(1, 1, 1), Vetor(1, 0, 0));
    addLight(Vetor(0, 0, 0), Vetor(1, 1, 1), Vetor(1, 0, 0));
    addFinish(0, 0, 0, 0, 0, 0, 1);
    addSphere(Vetor(0, 0, 0), 2, 0);
    EXPECT_FALSE(isLit(Vetor(5, 1, -3), 1));
    EXPECT_FALSE(isLit(Vetor(0, -9, 0), 1));
}

// A floor disc at y = 0 seen straight down; the light straight above.
void floorScene(double nlDistance) {
    resetScene();
    addLight(Vetor(0, 0, 0), Vetor(1, 1, 1), Vetor(0, 0, 0));
    addLight(Vetor(0, nlDistance, 0), Vetor(0.9, 0.9, 0.9), Vetor(1, 0.5, 0.25));
    addFinish(0.1, 0.5, 0.4, 10, 0, 0, 1);
    addSolid(Vetor(1, 0.5, 0));
    addDisc(Vetor(0, 0, 0), 100, Vetor(0, 1, 0));
}

TEST(Trace, LocalShadingWorkedExample) {
    floorScene(2);
    const Vetor c = traceRay(Vetor(0, 5, 0), Vetor(0, -1, 0), 0);
    EXPECT_NEAR(c[0], 0.37, 1e-12);
    EXPECT_NEAR(c[1], 0.245, 1e-12);
    EXPECT_NEAR(c[2], 0.12, 1e-12);
    EXPECT_EQ(traceDepth, 0);

    // Only the ambient term when the light is shadowed or there is no point
    // light at all; light 0's color is read whatever the count.
    addSphere(Vetor(1.5, 1, 0), 0.5);  // on the way from (3, 0, 0) to the light
    const Vetor shadowed = traceRay(Vetor(3, 5, 0), Vetor(0, -1, 0), 0);
    lightCount = 0;
    const Vetor ambientOnly = traceRay(Vetor(3, 5, 0), Vetor(0, -1, 0), 0);
    for (const Vetor* v : {&shadowed, &ambientOnly}) {
        EXPECT_DOUBLE_EQ((*v)[0], 0.1);
        EXPECT_DOUBLE_EQ((*v)[1], 0.05);
        EXPECT_EQ((*v)[2], 0);
    }

    // Attenuation (0, 0, 1) is 1/d^2; (1, 0, 0) none. Specular is white on a
    // colored pigment.
    floorScene(4);
    set(lightAttenuation[1], 0, 0, 1);
    finishAmbient[0] = 0;
    finishDiffuse[0] = 0;
    const Vetor highlight = traceRay(Vetor(0, 5, 0), Vetor(0, -1, 0), 0);
    EXPECT_DOUBLE_EQ(highlight[0], 0.9 / 16 * 0.4);
    EXPECT_EQ(highlight[0], highlight[2]);
}

TEST(Trace, BackgroundDepthLimitAndMirrors) {
    resetScene();
    Vetor miss = traceRay(Vetor(0, 0, 0), Vetor(0, 0, 1), 0);
    EXPECT_EQ(miss[0], 0.5);
    EXPECT_EQ(miss[2], 0.5);

    // Two facing mirrors, each hit adding 0.1 of ambient: rays of depth 0 to
    // 4 are shaded and the depth-5 ray, hitting a mirror, gives black.
    addLight(Vetor(), Vetor(0.1, 0.1, 0.1), Vetor());
    addFinish(1, 0, 0, 0, 1, 0, 1);
    addSolid(Vetor(1, 1, 1));
    addDisc(Vetor(0, 0, -5), 10, Vetor(0, 0, 1));
    addDisc(Vetor(0, 0, 5), 10, Vetor(0, 0, -1));
    const Vetor pair = traceRay(Vetor(0, 0, 0), Vetor(0, 0, -1), 0);
    EXPECT_NEAR(pair[0], 0.5, 1e-15);
    EXPECT_EQ(traceDepth, 0);

    // At depth 5 a hit is black and a miss is still the background.
    traceDepth = 5;
    EXPECT_EQ(traceRay(Vetor(0, 0, 0), Vetor(0, 0, -1), 0)[0], 0);
    EXPECT_EQ(traceRay(Vetor(0, 0, 0), Vetor(0, 1, 0), 0)[0], 0.5);
    traceDepth = 0;

    // kr exactly 0.001 traces no mirror ray.
    finishReflection[0] = 0.001;
    EXPECT_NEAR(traceRay(Vetor(0, 0, 0), Vetor(0, 0, -1), 0)[0], 0.1, 1e-15);
}

TEST(Trace, RefractionDirectionsAndTotalInternalReflection) {
    const Vetor n(0, 1, 0);
    const Vetor d(0.6, -0.8, 0);
    const Vetor r = mirrorDirection(n, d);
    EXPECT_NEAR(r[0], 0.6, 1e-15);
    EXPECT_NEAR(r[1], 0.8, 1e-15);
    const Vetor flipped = mirrorDirection(Vetor(0, -1, 0), d);
    EXPECT_EQ(flipped[0], r[0]);
    EXPECT_EQ(flipped[1], r[1]);

    Vetor t;
    ASSERT_TRUE(refractDirection(n, d, 1.5, 0, t));
    EXPECT_NEAR(t[0], 0.9, 1e-12);
    EXPECT_NEAR(t[1], -std::sqrt(0.19), 1e-12);
    ASSERT_TRUE(refractDirection(n, d, 1.5, 1, t));
    EXPECT_NEAR(t[0], 0.4, 1e-12);
    EXPECT_NEAR(t[1], -std::sqrt(0.84), 1e-12);

    // Head-on: straight through. 60 degrees from the normal on entry: total
    // reflection. From inside it always refracts.
    ASSERT_TRUE(refractDirection(n, Vetor(0, -1, 0), 1.5, 0, t));
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[1], -1);
    Vetor untouched(7, 7, 7);
    const double s60 = std::sqrt(0.75);
    EXPECT_FALSE(refractDirection(n, Vetor(s60, -0.5, 0), 1.5, 0, untouched));
    EXPECT_EQ(untouched[0], 7);
    EXPECT_TRUE(refractDirection(n, Vetor(s60, -0.5, 0), 1.5, 1, t));
    EXPECT_TRUE(refractDirection(n, Vetor(0.9999, -0.0141, 0), 1.5, 1, t));

    // ior 1: straight on unless |dn| < ~0.0316, where k < 0.001 mirrors.
    ASSERT_TRUE(refractDirection(n, Vetor(0.6, -0.8, 0), 1, 0, t));
    EXPECT_NEAR(t[0], 0.6, 1e-15);
    const double grazing = 0.03;
    EXPECT_FALSE(
        refractDirection(n, Vetor(std::sqrt(1 - grazing * grazing), -grazing, 0), 1, 0, t));

    // ior 0 from inside divides by zero: it must not fail, and mirrors.
    EXPECT_FALSE(refractDirection(n, d, 0, 1, t));
    EXPECT_FALSE(refractDirection(n, Vetor(0, -1, 0), 0, 1, t));
}

TEST(Trace, OnlySpheresTransmit) {
    // A glass sphere seen head-on: through both walls to the background,
    // weighted by kt at each wall. A disc with the same finish is opaque.
    resetScene();
    addLight(Vetor(), Vetor(), Vetor());
    addFinish(0, 0, 0, 0, 0, 0.8, 1.5);
    addSolid(Vetor(1, 1, 1));
    addSphere(Vetor(0, 0, -5), 1);
    EXPECT_NEAR(traceRay(Vetor(0, 0, 0), Vetor(0, 0, -1), 0)[0], 0.8 * 0.8 * 0.5, 1e-15);

    resetScene();
    addLight(Vetor(), Vetor(), Vetor());
    addFinish(0, 0, 0, 0, 0, 0.8, 1.5);
    addSolid(Vetor(1, 1, 1));
    addDisc(Vetor(0, 0, -5), 1, Vetor(0, 0, 1));
    EXPECT_EQ(traceRay(Vetor(0, 0, 0), Vetor(0, 0, -1), 0)[0], 0);
}

// --background: the colour of every ray that meets nothing, a reflected
// one too; without it, the grey as always.
TEST(Trace, ABackgroundOfOnesOwn) {
    test::TempDir dir;
    const std::string camera = "0 0 0\n0 0 -1\n0 1 0\n60\n1\n0 0 0 1 1 1 1 0 0\n";
    const std::string empty = dir.write("empty.txt", camera + "0\n0\n0\n");
    // A mirror of half strength filling the view, facing the eye.
    const std::string mirror =
        dir.write("mirror.txt",
                  camera + "1\nsolid 1 1 1\n1\n0 0 0 1 0.5 0 1\n1\n0 0 disc 0 0 -5 100 0 0 1\n");
    const struct {
        std::string scene;
        std::vector<std::string> options;
        unsigned char expected[3];
    } rows[] = {
        {empty, {}, {127, 127, 127}},
        {empty, {"--background", "0.2,0.4,1"}, {51, 102, 255}},
        {mirror, {"--background=0.2,0.4,1"}, {25, 51, 127}},  // half of it, truncated
        {mirror, {}, {63, 63, 63}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {row.scene, "-", "4", "3"});
        const test::RunResult run = test::runFotolume(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string bytes = run.out.substr(run.out.size() - 36);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            EXPECT_EQ(static_cast<unsigned char>(bytes[i]), row.expected[i % 3]) << i;
    }
    const test::RunResult bad = test::runFotolume({"--background", "1,2,0", empty, "-", "4", "3"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("the background must be R,G,B, each a number from 0 to 1, not '1,2,0'"),
              std::string::npos);
}

}  // namespace
}  // namespace fotolume
