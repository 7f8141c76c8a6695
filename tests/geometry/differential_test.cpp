// The fast search must return exactly what the table-order scan returns.
// FOTOLUME_DIFF_RAYS sets the rays per scene (default: a quick run).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "geometry/geometry.hpp"
#include "scene/scene.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

class RayMaker {
public:
    explicit RayMaker(unsigned seed) : rng_(seed) {}

    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng_);
    }

    Vetor unit() {
        Vetor v;
        do set(v, uniform(-1, 1), uniform(-1, 1), uniform(-1, 1));
        while (length(v) < 1e-3 || length(v) > 1);
        normalize(v);
        return v;
    }

    // A direction exactly across `normal` with a tiny tilt: grazing.
    Vetor across(const Vetor& normal, double tilt) {
        Vetor side = cross(normal, unit());
        normalize(side);
        Vetor d = add(side, scale(tilt, normal));
        normalize(d);
        return d;
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

private:
    std::mt19937_64 rng_;
};

struct Mismatch {
    long compared = 0;
    long count = 0;
    std::string first;
};

void compare(const Vetor& o, const Vetor& d, Mismatch& mismatch, int* hitRow = nullptr,
             double* hitT = nullptr) {
    int fastRow, scanRow;
    Vetor fastNormal, scanNormal;
    const double fast = intersectScene(o, d, fastRow, fastNormal);
    const double scan = intersectSceneLinear(o, d, scanRow, scanNormal);
    ++mismatch.compared;
    bool same = (fast == scan || (std::isnan(fast) && std::isnan(scan))) && fastRow == scanRow;
    for (int k = 0; k < 3; ++k)
        same = same && (fastNormal[k] == scanNormal[k] ||
                        (std::isnan(fastNormal[k]) && std::isnan(scanNormal[k])));
    if (!same && mismatch.count++ == 0) {
        char text[400];
        std::snprintf(
            text, sizeof text,
            "o=(%.17g %.17g %.17g) d=(%.17g %.17g %.17g): fast %.17g row %d, scan %.17g row %d",
            o[0], o[1], o[2], d[0], d[1], d[2], fast, fastRow, scan, scanRow);
        mismatch.first = text;
    }
    if (hitRow) *hitRow = scanRow;
    if (hitT) *hitT = scan;
}

long raysPerScene() {
    const char* text = std::getenv("FOTOLUME_DIFF_RAYS");
    return text ? std::atol(text) : 20000;
}

// Random rays of several families against one loaded scene.
Mismatch exercise(long rays, unsigned seed) {
    RayMaker make(seed);
    Mismatch mismatch;
    double extent = 1;
    for (int i = 0; i < objectCount; ++i)
        for (int k = 0; k < 3; ++k) extent = std::max(extent, std::fabs(objectPointA[i][k]));
    for (long n = 0; n < rays; ++n) {
        const int family = static_cast<int>(n % 6);
        Vetor o(make.uniform(-extent, extent), make.uniform(-extent, extent),
                make.uniform(-extent, extent));
        Vetor d = make.unit();
        const int i = objectCount > 0 ? make.pick(objectCount) : 0;
        if (objectCount > 0 && family == 1) {
            // From inside or on a sphere, a disc's centre, a triangle's corner.
            o = add(objectPointA[i], scale(make.uniform(0, 1) * objectRadius[i], make.unit()));
        } else if (objectCount > 0 && family == 2) {
            // Grazing: across the surface normal at a point of the object.
            Vetor normal = objectType[i] == ObjectType::Triangle
                               ? cross(subtract(objectPointB[i], objectPointA[i]),
                                       subtract(objectPointC[i], objectPointA[i]))
                           : objectType[i] == ObjectType::Disc ? objectPointB[i]
                                                               : make.unit();
            normalize(normal);
            const Vetor at = objectType[i] == ObjectType::Sphere
                                 ? add(objectPointA[i], scale(objectRadius[i], normal))
                                 : objectPointA[i];
            d = make.across(normal, make.uniform(-1e-3, 1e-3));
            o = subtract(at, scale(make.uniform(0.01, 2 * extent), d));
        } else if (family == 3) {
            // From the eye region through the image plane, as primary rays go.
            o = add(eye, scale(make.uniform(0, 2), make.unit()));
        } else if (objectCount > 0 && family == 5) {
            // Along an axis from an object's point: infinite and NaN slab
            // distances in the box tests.
            set(d, 0, 0, 0);
            d[make.pick(3)] = make.pick(2) == 0 ? 1.0 : -1.0;
            o = objectPointA[i];
            o[make.pick(3)] += make.uniform(-extent, extent);
        }
        int row;
        double t;
        compare(o, d, mismatch, &row, &t);
        if (family == 4 && row >= 0) {
            // Secondary rays start exactly on the surface that was hit.
            const Vetor p = add(o, scale(t, d));
            for (int k = 0; k < 3; ++k) compare(p, make.unit(), mismatch);
        }
    }
    return mismatch;
}

TEST(Differential, FastSearchEqualsTheScanOnEveryScene) {
    const char* scenes[] = {"scenes/example.txt",        "scenes/showcase.txt",
                            "scenes/mirrors.txt",        "scenes/mesh.txt",
                            "bench/scenes/spheres.txt",  "bench/scenes/mesh.txt",
                            "bench/scenes/recursion.txt"};
    // Four lanes, two, and one object at a time: each path the processor
    // may take (a width the processor lacks falls back to a narrower one).
    for (int width : {4, 2, 1}) {
        limitSearchLanes(width);
        unsigned seed = 1;
        for (const char* scene : scenes) {
            const std::string text = test::readFile(test::sourcePath(scene));
            bool accepted = false;
            test::loadScene(text, 640, 480, &accepted);
            ASSERT_TRUE(accepted) << scene;
            const Mismatch mismatch = exercise(raysPerScene(), seed++);
            EXPECT_EQ(mismatch.count, 0) << scene << " (lanes " << width << "): " << mismatch.first;
            std::printf("%s, lanes %d: %ld rays compared, %ld differences\n", scene, width,
                        mismatch.compared, mismatch.count);
        }
    }
    limitSearchLanes(4);
}

// A mesh large enough for the hierarchy's binned splits and its threaded
// build: a bumpy closed surface of 60,000 triangles over a floor disc.
TEST(Differential, ALargeMeshAgrees) {
    resetScene();
    const int rows = 122, cols = 2 * rows;
    auto point = [&](int i, int j) {
        const double theta = 3.14159265358979 * i / rows, phi = 6.28318530717958 * j / cols;
        const double r = 2 + 0.1 * std::sin(7 * theta) * std::sin(9 * phi);
        return Vetor(r * std::sin(theta) * std::cos(phi), r * std::cos(theta),
                     r * std::sin(theta) * std::sin(phi) - 6);
    };
    test::addDisc(Vetor(0, -2.5, 0), 30, Vetor(0, 1, 0));
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            if (i > 0)
                test::addTriangle(point(i, j), point(i, (j + 1) % cols),
                                  point(i + 1, (j + 1) % cols));
            if (i < rows - 1)
                test::addTriangle(point(i, j), point(i + 1, (j + 1) % cols), point(i + 1, j));
        }
    ASSERT_GT(objectCount, 58000);
    for (int width : {4, 1}) {
        limitSearchLanes(width);
        // Each ray is also scanned against every object: few rays suffice.
        const Mismatch mismatch = exercise(raysPerScene() / 40, 21);
        EXPECT_EQ(mismatch.count, 0) << "lanes " << width << ": " << mismatch.first;
    }
    limitSearchLanes(4);
}

// A closed bumpy surface as packed arrays: vertices (one at each pole)
// and faces, with its vertices' directions from the centre as normals.
struct Surface {
    std::vector<double> points, normals;
    std::vector<int> faces;
};

Surface bumpySurface(int rows, double radius, double cz) {
    Surface s;
    const int cols = 2 * rows;
    auto add = [&](int i, int j) {
        const double theta = 3.14159265358979 * i / rows, phi = 6.28318530717958 * j / cols;
        const double r = radius * (1 + 0.05 * std::sin(7 * theta) * std::sin(9 * phi));
        const double p[3] = {r * std::sin(theta) * std::cos(phi), r * std::cos(theta),
                             r * std::sin(theta) * std::sin(phi)};
        for (int k = 0; k < 3; ++k) s.normals.push_back(p[k]);
        s.points.insert(s.points.end(), {p[0], p[1], p[2] + cz});
    };
    add(0, 0);
    for (int i = 1; i < rows; ++i)
        for (int j = 0; j < cols; ++j) add(i, j);
    add(rows, 0);
    const int last = static_cast<int>(s.points.size() / 3) - 1;
    auto at = [&](int i, int j) { return i == 0 ? 0 : i == rows ? last : 1 + (i - 1) * cols + j % cols; };
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            if (i > 0) s.faces.insert(s.faces.end(), {at(i, j), at(i, j + 1), at(i + 1, j + 1)});
            if (i < rows - 1) s.faces.insert(s.faces.end(), {at(i, j), at(i + 1, j + 1), at(i + 1, j)});
        }
    return s;
}

// Rays at a mesh's corners, along its edges and into its faces, from
// anywhere and along each axis both ways: the search must find the scan's
// row, face, distance and normal.
Mismatch exerciseMesh(const Surface& s, long rays, unsigned seed) {
    RayMaker make(seed);
    Mismatch mismatch;
    const int faces = static_cast<int>(s.faces.size() / 3);
    for (long n = 0; n < rays; ++n) {
        const int f = make.pick(faces);
        const double* a = &s.points[3 * s.faces[3 * f]];
        const double* b = &s.points[3 * s.faces[3 * f + 1]];
        const double along = n % 4 == 0 ? 0.0 : n % 4 == 1 ? 0.5 : make.uniform(0, 1);
        Vetor target(a[0] + along * (b[0] - a[0]), a[1] + along * (b[1] - a[1]),
                     a[2] + along * (b[2] - a[2]));
        Vetor o(make.uniform(-8, 8), make.uniform(-8, 8), make.uniform(-14, 2));
        Vetor d;
        if (n % 7 == 3) {
            set(d, 0, 0, 0);
            d[make.pick(3)] = make.pick(2) == 0 ? 1.0 : -1.0;
            o = subtract(target, scale(make.uniform(0.5, 9), d));
        } else {
            d = subtract(target, o);
            normalize(d);
        }
        const int before = static_cast<int>(mismatch.count);
        int scanFace, fastFace;
        int row;
        Vetor normal;
        intersectSceneLinear(o, d, row, normal);
        scanFace = lastHitFace;
        intersectScene(o, d, row, normal);
        fastFace = lastHitFace;
        compare(o, d, mismatch);
        if (scanFace != fastFace && mismatch.count++ == before && before == 0)
            mismatch.first = "face " + std::to_string(fastFace) + " for " + std::to_string(scanFace);
    }
    return mismatch;
}

TEST(Differential, MeshesAgreeAtTheirCornersAndEdges) {
    resetScene();
    const Surface near = bumpySurface(40, 2, -6), far = bumpySurface(25, 1, -10);
    test::addDisc(Vetor(0, -2.5, 0), 30, Vetor(0, 1, 0));
    test::addMesh(near.points, near.faces);
    test::addSphere(Vetor(3, 0, -6), 1.5);
    test::addMesh(near.points, near.faces, near.normals);  // the same faces: row 1 wins ties
    test::addMesh(far.points, far.faces, far.normals);
    test::addTriangle(Vetor(-9, -2, -12), Vetor(9, -2, -12), Vetor(0, 9, -12));
    for (int width : {4, 1}) {
        limitSearchLanes(width);
        Mismatch mismatch = exerciseMesh(near, raysPerScene() / 4, 5);
        EXPECT_EQ(mismatch.count, 0) << "lanes " << width << ": " << mismatch.first;
        mismatch = exerciseMesh(far, raysPerScene() / 4, 6);
        EXPECT_EQ(mismatch.count, 0) << "lanes " << width << ": " << mismatch.first;
        mismatch = exercise(raysPerScene() / 4, 8);
        EXPECT_EQ(mismatch.count, 0) << "lanes " << width << ": " << mismatch.first;
    }
    limitSearchLanes(4);
}

TEST(Differential, DegenerateAndHugeObjectsAgreeToo) {
    resetScene();
    test::addSphere(Vetor(0, 0, -5), 1);
    test::addSphere(Vetor(1e13, 0, 0), 1e13);  // enormous: tested for every ray
    test::addSphere(Vetor(NAN, 0, 0), 1);
    test::addDisc(Vetor(0, -1, 0), 1e300, Vetor(0, 1, 0));
    test::addDisc(Vetor(0, 2, 0), 3, Vetor(0, 0, 0));                          // zero normal
    test::addTriangle(Vetor(0, 0, 0), Vetor(1, 1, 1), Vetor(2, 2, 2));         // collinear
    test::addTriangle(Vetor(-1, 0, -2), Vetor(1, 0, -2), Vetor(0, 1e-9, -2));  // sliver
    test::addSphere(Vetor(0, 0, -5), 1);  // duplicate: ties go to row 0
    Mismatch mismatch;
    for (int width : {4, 2, 1}) {
        limitSearchLanes(width);
        mismatch = exercise(raysPerScene(), 99);
        EXPECT_EQ(mismatch.count, 0) << "lanes " << width << ": " << mismatch.first;
    }
    limitSearchLanes(4);

    // Radii and coordinates whose squares overflow: r * r is infinite, so
    // the scan finds its far root at infinity; every path must agree. A
    // lone huge sphere goes one at a time, one beside a tiny one into lanes.
    const double huge = 1.5e155;
    for (bool withTiny : {false, true}) {
        resetScene();
        test::addSphere(Vetor(0, 0, 2 * huge + 10), huge);  // wholly behind the origin
        test::addDisc(Vetor(0, -1e160, 0), 1e200, Vetor(0, 1, 0));
        if (withTiny) {
            test::addSphere(Vetor(0, 0, -5), 1);
            test::addDisc(Vetor(0, 3, 0), 1, Vetor(0, 1, 0));
            test::addSphere(Vetor(3e200, 0, 0), 1e200);
            test::addTriangle(Vetor(-1e160, 0, -1e160), Vetor(1e160, 0, -1e160),
                              Vetor(0, 1e160, 1e160));
        }
        for (int width : {4, 2, 1}) {
            limitSearchLanes(width);
            mismatch = exercise(raysPerScene() / 4, 11);
            compare(Vetor(0, 0, 0), Vetor(0, 0, 1), mismatch);
            compare(Vetor(0, 0, 0), Vetor(0, 0, -1), mismatch);
            EXPECT_EQ(mismatch.count, 0)
                << "lanes " << width << (withTiny ? ", with tiny" : "") << ": " << mismatch.first;
        }
    }
    limitSearchLanes(4);

    // 200 nested spheres: every box inside the next, all centred alike.
    resetScene();
    for (int i = 0; i < CLASSIC_OBJECTS; ++i) test::addSphere(Vetor(0, 0, -5), 0.05 * (i + 1));
    mismatch = exercise(raysPerScene() / 4, 7);
    EXPECT_EQ(mismatch.count, 0) << mismatch.first;

    // Rays the hierarchy does not take: far origins, non-unit directions.
    compare(Vetor(1e9, 0, 0), Vetor(-1, 0, 0), mismatch);
    compare(Vetor(0, 0, 0), Vetor(0, 0, -3), mismatch);
    compare(Vetor(0, 0, 0), Vetor(NAN, 0, 0), mismatch);
    compare(Vetor(0, 0, INFINITY), Vetor(0, 0, -1), mismatch);
    EXPECT_EQ(mismatch.count, 0) << mismatch.first;
}

}  // namespace
}  // namespace fotolume
