#include <gtest/gtest.h>

#include <cmath>

#include "scene/scene.hpp"

namespace fotolume {
namespace {

void useImage(int width, int height) {
    resetScene();
    imageWidth = width;
    imageHeight = height;
}

TEST(Camera, BasisPlaneAndPixelSize) {
    useImage(200, 100);
    set(eye, 0, 0, 5);
    traceDepth = 3;
    ASSERT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 1, 0), 90), CameraStatus::Ok);
    EXPECT_EQ(cameraBack[2], 1);
    EXPECT_NEAR(planeHeight, 2, 1e-9);
    EXPECT_NEAR(pixelSize, 0.02, 1e-11);
    EXPECT_NEAR(planeWidth, 4, 1e-9);
    EXPECT_NEAR(cameraRight[0], 2, 1e-9);
    EXPECT_EQ(cameraRight[1], 0);
    EXPECT_NEAR(cameraUp[1], 1, 1e-9);
    EXPECT_EQ(traceDepth, 0);
    // Pi to ten decimals lies about 2e-11 above pi, which widens the plane
    // by about 2e-11 over 2 tan(45 degrees) = 2; full-precision pi would not.
    EXPECT_GT(planeHeight, 2.0 + 1e-11);
    EXPECT_LT(planeHeight, 2.0 + 1e-10);

    // Only the up vector's part across the view counts, not its length.
    const Vetor up = cameraUp;
    ASSERT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 2, 1), 90), CameraStatus::Ok);
    EXPECT_EQ(cameraUp[0], up[0]);
    EXPECT_EQ(cameraUp[1], up[1]);
    EXPECT_EQ(cameraUp[2], up[2]);

    // Square pixels whatever the image shape; the plane height only follows
    // the field of view.
    useImage(100, 200);
    set(eye, 0, 0, 5);
    ASSERT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 1, 0), 60), CameraStatus::Ok);
    EXPECT_NEAR(planeHeight, 1.1547005, 1e-7);
    EXPECT_EQ(planeWidth, 100 * pixelSize);
    EXPECT_NEAR(planeWidth, planeHeight / 2, 1e-15);

    // right x up = back: a right-handed basis.
    set(eye, 3, 2, 1);
    ASSERT_EQ(setupCamera(Vetor(-1, 0, 2), Vetor(0, 1, 0), 50), CameraStatus::Ok);
    Vetor r = cameraRight, u = cameraUp;
    normalize(r);
    normalize(u);
    const Vetor back = cross(r, u);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], cameraBack[i], 1e-12);
}

TEST(Camera, DegenerateInputIsReported) {
    useImage(4, 3);
    set(eye, 1, 2, 3);
    EXPECT_EQ(setupCamera(Vetor(1, 2, 3), Vetor(0, 1, 0), 45), CameraStatus::EyeAtLookAt);
    EXPECT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(2, 4, 6), 45), CameraStatus::UpAlongView);
    EXPECT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 0, 0), 45), CameraStatus::UpAlongView);
    EXPECT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 1, 0), 0), CameraStatus::BadFieldOfView);
    EXPECT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 1, 0), 180), CameraStatus::BadFieldOfView);
    EXPECT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 1, 0), -10), CameraStatus::BadFieldOfView);
    EXPECT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 1, 0), NAN), CameraStatus::BadFieldOfView);
    EXPECT_EQ(setupCamera(Vetor(0, 0, INFINITY), Vetor(0, 1, 0), 45), CameraStatus::NotFinite);
    EXPECT_EQ(setupCamera(Vetor(0, 0, 0), Vetor(0, 1, 0), 179.999), CameraStatus::Ok);
}

}  // namespace
}  // namespace fotolume
