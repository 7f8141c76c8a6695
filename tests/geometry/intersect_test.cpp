#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/geometry.hpp"
#include "scene/scene.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using test::addDisc;
using test::addSphere;
using test::addTriangle;

struct Hit {
    double t;
    int index;
    Vetor normal;
};

// Both searches must agree to the bit, with every lane width the search
// may use (four, two, one object at a time). A sphere and a disc that are
// never hit (radius 0, normal 0) join the scene meanwhile, so that its
// spheres and discs have company and go into lanes.
Hit shoot(const Vetor& origin, const Vetor& direction) {
    Hit scan{0, 99, Vetor(9, 9, 9)};
    scan.t = intersectSceneLinear(origin, direction, scan.index, scan.normal);
    const int rows = objectCount;
    addSphere(Vetor(0, 0, 0), 0);
    addDisc(Vetor(0, 0, 0), 1, Vetor(0, 0, 0));
    for (int width : {4, 2, 1}) {
        limitSearchLanes(width);
        Hit hit{0, 99, Vetor(9, 9, 9)};
        hit.t = intersectScene(origin, direction, hit.index, hit.normal);
        EXPECT_EQ(hit.t, scan.t) << "lanes " << width;
        EXPECT_EQ(hit.index, scan.index) << "lanes " << width;
        for (int k = 0; k < 3; ++k) EXPECT_EQ(hit.normal[k], scan.normal[k]) << "lanes " << width;
    }
    limitSearchLanes(4);
    objectCount = rows;
    sceneChanged();
    return scan;
}

void expectMiss(const Hit& hit) {
    EXPECT_EQ(hit.t, NO_HIT);
    EXPECT_EQ(hit.index, -1);
    EXPECT_EQ(hit.normal[0], 0);
    EXPECT_EQ(hit.normal[1], 0);
    EXPECT_EQ(hit.normal[2], 0);
}

void expectNormal(const Hit& hit, double x, double y, double z, double tolerance = 0) {
    EXPECT_NEAR(hit.normal[0], x, tolerance);
    EXPECT_NEAR(hit.normal[1], y, tolerance);
    EXPECT_NEAR(hit.normal[2], z, tolerance);
}

TEST(Intersect, Spheres) {
    resetScene();
    expectMiss(shoot(Vetor(0, 0, 0), Vetor(0, 0, -1)));  // no objects

    addSphere(Vetor(0, 0, -5), 1);
    const Vetor down(0, 0, -1);
    Hit hit = shoot(Vetor(0, 0, 0), down);
    EXPECT_EQ(hit.t, 4);
    EXPECT_EQ(hit.index, 0);
    expectNormal(hit, 0, 0, 1);

    // From the centre the far root is taken and the normal faces the origin.
    hit = shoot(Vetor(0, 0, -5), down);
    EXPECT_EQ(hit.t, 1);
    expectNormal(hit, 0, 0, 1);

    expectMiss(shoot(Vetor(0.9995, 0, 0), down));  // h2 just below 0.001
    hit = shoot(Vetor(0.999, 0, 0), down);
    EXPECT_NEAR(hit.t, 5 - std::sqrt(0.001999), 1e-12);
    expectNormal(hit, 0.999, 0, std::sqrt(1 - 0.999 * 0.999), 1e-9);

    // Leaving from the surface outward finds nothing.
    expectMiss(shoot(Vetor(0, 0, -4), Vetor(0, 0, 1)));

    // A sphere of radius 0.03 (r * r < 0.001) is never hit.
    resetScene();
    addSphere(Vetor(0, 0, -5), 0.03);
    expectMiss(shoot(Vetor(0, 0, 0), down));

    // Identical spheres: the lower row wins the tie.
    resetScene();
    addSphere(Vetor(0, 0, -5), 1);
    addSphere(Vetor(0, 0, -5), 1);
    EXPECT_EQ(shoot(Vetor(0, 0, 0), down).index, 0);

    // A kind word that only differs in case is no sphere.
    resetScene();
    addSphere(Vetor(0, 0, -5), 1);
    objectType[0] = objectTypeOf("Sphere");
    sceneChanged();
    expectMiss(shoot(Vetor(0, 0, 0), down));
}

TEST(Intersect, TrianglesHaveMarginsOnTwoEdgesOnly) {
    resetScene();
    addTriangle(Vetor(0, 0, 0), Vetor(1, 0, 0), Vetor(0, 1, 0));
    const Vetor down(0, 0, -1);
    Hit hit = shoot(Vetor(0.25, 0.25, 1), down);
    EXPECT_EQ(hit.t, 1);
    expectNormal(hit, 0, 0, 1);
    hit = shoot(Vetor(0.25, 0.25, -1), Vetor(0, 0, 1));
    EXPECT_EQ(hit.t, 1);
    expectNormal(hit, 0, 0, -1);

    EXPECT_EQ(shoot(Vetor(0.5, 0.5, 1), down).index, 0);      // edge BC: no margin
    expectMiss(shoot(Vetor(0.5, 0, 1), down));                // edge AB
    expectMiss(shoot(Vetor(0.0005, 0.5, 1), down));           // x1 below 0.001
    expectMiss(shoot(Vetor(0.25, 0.25, 0.0005), down));       // too close
    expectMiss(shoot(Vetor(0.25, 0.25, 1), Vetor(1, 0, 0)));  // parallel: solver fails

    // Reordering the vertices moves the edge without margin.
    resetScene();
    addTriangle(Vetor(1, 0, 0), Vetor(0, 1, 0), Vetor(0, 0, 0));
    EXPECT_EQ(shoot(Vetor(0, 0.5, 1), down).index, 0);  // BC now lies on x = 0
    expectMiss(shoot(Vetor(0.5, 0.5, 1), down));        // the old free edge
    expectMiss(shoot(Vetor(0.5, 0, 1), down));
}

// The face of the hit, by the scan and by the search (which must agree).
int faceHit(const Vetor& origin, const Vetor& direction) {
    int row;
    Vetor normal;
    intersectSceneLinear(origin, direction, row, normal);
    const int scan = lastHitFace;
    intersectScene(origin, direction, row, normal);
    EXPECT_EQ(lastHitFace, scan);
    return scan;
}

// The octahedron with corners on the axes at distance 1, faces wound
// outward: the watertight test leaves no gap at its edges and corners.
const std::vector<double> OCTAHEDRON = {1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1};
const std::vector<int> OCTAHEDRON_FACES = {0, 2, 4, 2, 1, 4, 1, 3, 4, 3, 0, 4,
                                           2, 0, 5, 1, 2, 5, 3, 1, 5, 0, 3, 5};

TEST(Intersect, MeshFacesMeetWithoutGapsAndTheEarlierFaceWinsATie) {
    resetScene();
    test::addMesh(OCTAHEDRON, OCTAHEDRON_FACES);
    const Vetor down(0, 0, -1);
    // Through the middle of the edge from (1,0,0) to (0,1,0), which faces 0
    // and 4 share: both meet it at distance 5 (weights 0.5, 0.5, 0), face 0 wins.
    Hit hit = shoot(Vetor(0.5, 0.5, 5), down);
    EXPECT_EQ(hit.t, 5);
    EXPECT_EQ(hit.index, 0);
    EXPECT_EQ(faceHit(Vetor(0.5, 0.5, 5), down), 0);
    // Through the corner (1,0,0) of four faces: the first of them.
    EXPECT_EQ(shoot(Vetor(1, 0, 5), down).t, 5);
    EXPECT_EQ(faceHit(Vetor(1, 0, 5), down), 0);
    // Along each axis both ways, through a point of an edge and a corner:
    // a hit every time, by the nearest face, at the hand-worked distance.
    const struct {
        Vetor origin, direction;
        double t;
        int face;
    } rays[] = {
        {Vetor(-5, 0.25, 0.25), Vetor(1, 0, 0), 4.5, 1},  {Vetor(5, 0.25, 0.25), Vetor(-1, 0, 0), 4.5, 0},
        {Vetor(0.25, 5, -0.25), Vetor(0, -1, 0), 4.5, 4}, {Vetor(0.25, -5, 0.25), Vetor(0, 1, 0), 4.5, 3},
        {Vetor(0.5, -5, 0), Vetor(0, 1, 0), 4.5, 3},     {Vetor(0, -5, 0.5), Vetor(0, 1, 0), 4.5, 2},
        {Vetor(0, 0, -5), Vetor(0, 0, 1), 4, 4},         {Vetor(0, 0, 5), Vetor(0, 0, -1), 4, 0},
        {Vetor(0.25, -0.25, -5), Vetor(0, 0, 1), 4.5, 7},
    };
    for (const auto& ray : rays) {
        SCOPED_TRACE(ray.t);
        hit = shoot(ray.origin, ray.direction);
        EXPECT_EQ(hit.t, ray.t);
        EXPECT_EQ(hit.index, 0);
        EXPECT_EQ(faceHit(ray.origin, ray.direction), ray.face);
    }
    // A normal faces the ray: from inside, the far face's normal turns in.
    hit = shoot(Vetor(0, 0, 0), Vetor(0, 0, 1));
    EXPECT_EQ(hit.t, 1);
    const double third = 1 / std::sqrt(3.0);
    expectNormal(hit, -third, -third, -third, 1e-15);

    // A degenerate face, and rays parallel to a face or in its plane: misses.
    resetScene();
    test::addMesh({0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 0, 0}, {0, 1, 3, 0, 1, 2});
    expectMiss(shoot(Vetor(1.5, 0, 1), down));                       // only on the degenerate one
    EXPECT_EQ(faceHit(Vetor(0.5, 0, 1), down), 1);                   // on face 1's edge: no margin
    expectMiss(shoot(Vetor(0.2, 0.2, 1), Vetor(1, 0, 0)));           // parallel above the plane
    expectMiss(shoot(Vetor(-1, 0.2, 0), Vetor(1, 0, 0)));            // in the plane
    EXPECT_EQ(faceHit(Vetor(0.25, 0.25, 1), down), 1);
    // Two rows with the same face: the earlier row wins the tie.
    test::addMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2});
    EXPECT_EQ(shoot(Vetor(0.25, 0.25, 1), down).index, 0);
}

// A smooth row's normal blends its corners' by the hit's weights: at
// (0.25, 0.25) the weights are 0.5, 0.25 and 0.25 exactly, so the blend of
// (0, 0, 2), (1, 0, 1) and (0, 1, 1) is (0.25, 0.25, 1.5); from below the
// flat normal is turned, and the blend with it.
TEST(Intersect, SmoothNormalsBlendTheCornersNormals) {
    resetScene();
    test::addMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0, 0, 2, 1, 0, 1, 0, 1, 1});
    const double r = 1.0 / std::sqrt(2.375);
    Hit hit = shoot(Vetor(0.25, 0.25, 5), Vetor(0, 0, -1));
    EXPECT_EQ(hit.t, 5);
    EXPECT_EQ(hit.normal[0], r * 0.25);
    EXPECT_EQ(hit.normal[1], r * 0.25);
    EXPECT_EQ(hit.normal[2], r * 1.5);
    hit = shoot(Vetor(0.25, 0.25, -5), Vetor(0, 0, 1));
    EXPECT_EQ(hit.normal[0], -1 * (r * 0.25));
    EXPECT_EQ(hit.normal[2], -1 * (r * 1.5));
    // Normals that cancel where the ray meets the face: the flat normal.
    resetScene();
    test::addMesh({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0, 0, 1, 0, 0, -1, 0, 0, -1});
    hit = shoot(Vetor(0.25, 0.25, 5), Vetor(0, 0, -1));
    expectNormal(hit, 0, 0, 1);
}

TEST(Intersect, DiscsKeepTheirNormalAndMissOnTheRim) {
    resetScene();
    addDisc(Vetor(0, 0, -5), 1, Vetor(0, 0, 2));
    Hit hit = shoot(Vetor(0, 0, 0), Vetor(0, 0, -1));
    EXPECT_EQ(hit.t, 5);
    expectNormal(hit, 0, 0, 1);
    hit = shoot(Vetor(0, 0, -10), Vetor(0, 0, 1));  // from behind: not turned
    EXPECT_EQ(hit.t, 5);
    expectNormal(hit, 0, 0, 1);
    expectMiss(shoot(Vetor(1, 0, 0), Vetor(0, 0, -1)));  // exactly on the rim
    expectMiss(shoot(Vetor(0, 0, 0), Vetor(1, 0, 0)));   // parallel

    // A zero normal or a zero radius is never hit and never crashes.
    resetScene();
    addDisc(Vetor(0, 0, -5), 1, Vetor(0, 0, 0));
    addDisc(Vetor(0, 0, -6), 0, Vetor(0, 0, 1));
    expectMiss(shoot(Vetor(0, 0, 0), Vetor(0, 0, -1)));

    // The nearest of several kinds wins.
    resetScene();
    addDisc(Vetor(0, 0, -9), 5, Vetor(0, 0, 1));
    addSphere(Vetor(0, 0, -5), 1);
    addTriangle(Vetor(-1, -1, -7), Vetor(3, -1, -7), Vetor(-1, 3, -7));
    hit = shoot(Vetor(0, 0, 0), Vetor(0, 0, -1));
    EXPECT_EQ(hit.index, 1);
    EXPECT_EQ(hit.t, 4);
}

// A hit at exactly the least distance is refused by every kind and every
// lane width; one a step further is taken. Each row puts the object's
// surface at distance `at` (or `at` past its near root) from the origin.
TEST(Intersect, TheLeastHitDistanceIsStrictOnEveryPath) {
    const Vetor origin(0, 0, 0);
    const Vetor down(0, 0, -1);
    // A sphere's root can never be exactly the least distance (the
    // difference of tca and a square root of at least 0.0316 lies on a
    // coarser grid): its rows take the last centre c whose near root is at
    // most that distance, and the next.
    double c = 0.501 + 1e-15;
    while (c - 0.5 > MIN_HIT_DISTANCE) c = std::nextafter(c, 0.0);
    ASSERT_GT(std::nextafter(c, 1.0) - 0.5, MIN_HIT_DISTANCE);
    const double after = std::nextafter(MIN_HIT_DISTANCE, 1.0);
    struct Row {
        const char* kind;
        bool exact;  // at exactly the least distance, or a step further
    };
    for (const Row& row : {Row{"sphere", true}, Row{"sphere", false}, Row{"triangle", true},
                           Row{"triangle", false}, Row{"disc", true}, Row{"disc", false}}) {
        SCOPED_TRACE(std::string(row.kind) + (row.exact ? " at the least distance" : " past it"));
        resetScene();
        const double z = -(row.exact ? MIN_HIT_DISTANCE : after);
        const std::string kind = row.kind;
        if (kind == "sphere") {
            const double centre = row.exact ? c : std::nextafter(c, 1.0);
            addSphere(Vetor(0, 0, -centre), 0.5);
            addSphere(Vetor(9, 9, 9), 0.5);  // company: the spheres go into lanes
        } else if (kind == "triangle") {
            addTriangle(Vetor(-1, -1, z), Vetor(3, -1, z), Vetor(-1, 3, z));
        } else {
            addDisc(Vetor(0, 0, z), 1, Vetor(0, 0, 1));
            addDisc(Vetor(9, 9, 9), 1, Vetor(0, 0, 1));
        }
        const Hit hit = shoot(origin, down);
        if (kind == "sphere") {
            // The near root refused, the ray gets the far one.
            EXPECT_EQ(hit.t, row.exact ? c + 0.5 : std::nextafter(c, 1.0) - 0.5);
            EXPECT_EQ(hit.index, 0);
        } else if (row.exact) {
            expectMiss(hit);
        } else {
            EXPECT_EQ(hit.t, after);
            EXPECT_EQ(hit.index, 0);
        }
    }
}

}  // namespace
}  // namespace fotolume
