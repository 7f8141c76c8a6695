// End-to-end renders through the built binary.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/geometry.hpp"
#include "image/image.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

std::string sha256(const std::string& file) {
    std::string hash;
    if (std::FILE* pipe = popen(("sha256sum '" + file + "'").c_str(), "r")) {
        char buffer[65] = {};
        if (std::fread(buffer, 1, 64, pipe) == 64) hash = buffer;
        pclose(pipe);
    }
    return hash;
}

// Every example and bench scene renders to exactly the bytes recorded, on
// one thread (traced on the main thread) and on several, more threads than
// cores among them.
TEST(Render, ImagesMatchTheirRecordedChecksumsOnAnyNumberOfThreads) {
    std::ifstream list(test::sourcePath("tests/image/golden.txt"));
    std::string line;
    int checked = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string scene, expected;
        int width = 0, height = 0;
        fields >> scene >> width >> height >> expected;
        std::vector<std::string> options;  // anti-aliasing, when given
        for (std::string word; fields >> word;) options.push_back(word);
#ifdef FOTOLUME_SANITIZED
        if (width * height > 160 * 120) continue;  // the small sizes suffice there
#endif
        // One ray a pixel however asked for: by default or as a 1 x 1 grid.
        for (const char* threads : {"1", "2", "3", "7", "2 --samples 1"}) {
            if (!options.empty() && std::string(threads).size() > 1) continue;
            test::TempDir dir;
            const std::string out = dir.path("out.ppm");
            std::vector<std::string> args = options;
            args.push_back("--threads");
            std::istringstream words(threads);
            for (std::string word; words >> word;) args.push_back(word);
            args.insert(args.end(), {test::sourcePath(scene), out, std::to_string(width),
                                     std::to_string(height)});
            const test::RunResult run = test::runFotolume(args);
            ASSERT_EQ(run.status, 0) << scene << run.out << run.err;
            EXPECT_EQ(run.err, "") << scene;
            EXPECT_EQ(sha256(out), expected)
                << scene << " " << width << "x" << height << " on " << threads << " threads";
            ++checked;
        }
    }
    EXPECT_GE(checked, 5 * 7 + 4 * 8);
}

// A scene's PPM rendered in this process, one row at a time.
std::string renderHere(const std::string& text, int width, int height) {
    test::loadScene(text, width, height);
    std::string image = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<unsigned char> row(3u * width);
    const PrimaryRays rays;
    for (int y = 0; y < height; ++y) {
        renderTile(rays, Frame{wholeImage()}, Tile{y, 0, 1, width}, row.data());
        image.append(row.begin(), row.end());
    }
    return image;
}

// The recorded images once more, rendered in this process with the search
// held to two lanes (SSE2, as on a processor without AVX) and to one
// object at a time (as on other processors).
TEST(Render, RecordedChecksumsHoldWithNarrowerLanes) {
    std::ifstream list(test::sourcePath("tests/image/golden.txt"));
    int checked = 0;
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        std::string scene, expected;
        int width = 0, height = 0;
        std::string options;
        if (line.empty() || line[0] == '#' || !(fields >> scene >> width >> height >> expected) ||
            width * height > 160 * 120 || fields >> options)
            continue;
        for (int lanes : {2, 1}) {
            limitSearchLanes(lanes);
            const std::string image =
                renderHere(test::readFile(test::sourcePath(scene)), width, height);
            test::TempDir dir;
            std::ofstream(dir.path("out.ppm"), std::ios::binary) << image;
            EXPECT_EQ(sha256(dir.path("out.ppm")), expected) << scene << ", lanes " << lanes;
            ++checked;
        }
    }
    limitSearchLanes(4);
    EXPECT_GE(checked, 2 * 7);
}

// Meshes through their hierarchies give the image of the table-order scan
// over the same faces, byte for byte: the smooth example (a smooth row and
// the same faces flat in one place, so every tie across rows counts; a
// flat torus; a mirror), a closed mesh seen edge-on at its silhouette from
// close up, and mesh faces at the same distance as a triangle row's.
TEST(Render, MeshImagesAreTheScansImages) {
    std::string edgeOn = test::readFile(test::sourcePath("scenes/smooth.txt"));
    const std::string close = "0.2 0.3 1.4\n-1.2 0.3 0\n0 1 0\n30\n" + edgeOn.substr(
        edgeOn.find("\n", edgeOn.find("\n", edgeOn.find("\n", edgeOn.find("\n") + 1) + 1) + 1) + 1);
    const std::string tie = std::string("0 0 3 0 0 0 0 1 0 50\n2 0 0 0 0.2 0.2 0.2 1 0 0\n") +
                            "2 5 5 1 1 1 1 0 0\n2 solid 1 0 0 solid 0 0 1\n1 1 0.7 0.3 20 0.5 0 1\n"
                            "3\n1 0 mesh 4 -1 -1 0 1 -1 0 1 1 0 -1 1 0 2 0 1 2 0 2 3\n"
                            "0 0 triangle -1 -1 0 1 -1 0 1 1 0\n"
                            "1 0 sphere 0 0 -2 1\n";
    for (const std::string& scene : {edgeOn, close, tie}) {
        searchByScan(true);
        const std::string scanned = renderHere(scene, 96, 72);
        searchByScan(false);
        for (int lanes : {4, 1}) {
            limitSearchLanes(lanes);
            EXPECT_TRUE(renderHere(scene, 96, 72) == scanned) << "lanes " << lanes;
        }
        limitSearchLanes(4);
    }
}

// A closed latitude-longitude sphere seen from its centre, lit only by the
// ambient light: every pixel is the ambient colour, none the background
// or a darker hole. The same faces as triangle rows leave holes where the
// rays meet their edges.
TEST(Render, AClosedMeshHasNoPinholes) {
    const int rows = 30, cols = 60;
    std::vector<double> p;
    for (int i = 0; i <= rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const double theta = 3.14159265358979 * i / rows, phi = 6.28318530717958 * j / cols;
            // Radius 5: primary rays start on the image plane, 1 from the eye.
            p.insert(p.end(), {5 * std::sin(theta) * std::cos(phi), 5 * std::cos(theta),
                               5 * std::sin(theta) * std::sin(phi)});
        }
    std::vector<int> faces;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const int a = i * cols + j, b = i * cols + (j + 1) % cols;
            faces.insert(faces.end(), {a, b, b + cols, a, b + cols, a + cols});
        }
    auto point = [&](int v) {
        char text[100];
        std::snprintf(text, sizeof text, " %.17g %.17g %.17g", p[3 * v], p[3 * v + 1], p[3 * v + 2]);
        return std::string(text);
    };
    const std::string head = "0 0 0 0.3 0.2 -1 0 1 0 90\n1 0 0 0 0.3 0.3 0.3 1 0 0\n"
                             "1 solid 1 1 1\n1 1 0 0 1 0 0 1\n";
    std::string mesh = head + "1\n0 0 mesh " + std::to_string(p.size() / 3);
    for (std::size_t v = 0; v < p.size() / 3; ++v) mesh += point(static_cast<int>(v));
    mesh += " " + std::to_string(faces.size() / 3);
    for (int v : faces) mesh += " " + std::to_string(v);
    std::string triangles = head + std::to_string(faces.size() / 3) + "\n";
    for (std::size_t f = 0; f < faces.size(); f += 3)
        triangles += "0 0 triangle" + point(faces[f]) + point(faces[f + 1]) + point(faces[f + 2]) + "\n";
    // The last pixel, at the bottom right corner, is surface (checked below).
    auto holes = [](const std::string& image) {
        int count = 0;
        for (std::size_t i = image.size() - 3 * 200 * 150; i < image.size(); i += 3)
            count += static_cast<unsigned char>(image[i]) != static_cast<unsigned char>(image.back());
        return count;
    };
    const std::string image = renderHere(mesh, 200, 150);
    EXPECT_EQ(static_cast<unsigned char>(image.back()), 76);  // ambient 0.3 of white
    EXPECT_EQ(holes(image), 0);
    EXPECT_GT(holes(renderHere(triangles, 200, 150)), 0);
}

// The bundled examples are what new users copy, and the bench scenes are
// measured: none may warn, in a render or under --check.
TEST(Render, EveryExampleSceneRendersWithoutWarnings) {
    int scenes = 0;
    for (const char* folder : {"scenes", "bench/scenes", "bench/scenes/aa"}) {
        for (const auto& entry : std::filesystem::directory_iterator(test::sourcePath(folder))) {
            if (entry.path().extension() != ".txt") continue;
            test::pixels(entry.path().string(), 16, 12);
            const test::RunResult check = test::runFotolume({"--check", entry.path().string()});
            EXPECT_EQ(check.status, 0) << entry.path();
            EXPECT_EQ(check.err, "");
            ++scenes;
        }
    }
    EXPECT_GE(scenes, 7);
}

// --stats counts rays by kind: a sphere that fills the view, one point
// light. Every pixel's ray hits it and casts one shadow ray; a mirror
// finish adds one reflected ray a pixel (which meets nothing); a full 2 x 2
// grid makes four samples a pixel of each.
TEST(Render, StatsCountRaysByKind) {
    test::TempDir dir;
    const std::string matte = dir.write("matte.txt",
                                        "0 0 5 0 0 0 0 1 0 10 2 0 0 0 0.2 0.2 0.2 1 0 0 "
                                        "0 0 10 1 1 1 1 0 0 1 solid 1 0 0 "
                                        "1 1 0.5 0 1 0 0 1 1 0 0 sphere 0 0 0 3");
    const std::string mirror = dir.write("mirror.txt",
                                         "0 0 5 0 0 0 0 1 0 10 2 0 0 0 0.2 0.2 0.2 1 0 0 "
                                         "0 0 10 1 1 1 1 0 0 1 solid 1 0 0 "
                                         "1 0 0.5 0 1 1 0 1 1 0 0 sphere 0 0 0 3");
    const struct {
        std::string scene;
        std::vector<std::string> options;
        std::string rays;
    } rows[] = {
        {matte,
         {},
         "rays: 48 primary, 0 anti-aliasing samples, 48 shadow, 0 reflected, 0 "
         "refracted; 96 in all\n"},
        {mirror,
         {"-t", "3"},
         "rays: 48 primary, 0 anti-aliasing samples, 48 shadow, 48 "
         "reflected, 0 refracted; 144 in all\n"},
        {matte,
         {"--samples", "2", "--aa-threshold", "0"},
         "rays: 0 primary, 192 anti-aliasing samples, 192 shadow, 0 reflected, 0 refracted; 384 "
         "in all\n"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"--stats", row.scene, dir.path("out.ppm"), "8", "6"});
        const test::RunResult run = test::runFotolume(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err.rfind("fotolume: statistics\n  seconds: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\n  " + row.rays), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("boxes and"), std::string::npos);
        EXPECT_NE(run.err.find(" million rays a second of tracing, "), std::string::npos);
        EXPECT_NE(run.err.find(" million a processor second ("), std::string::npos);
    }
    // Without --stats nothing is said.
    EXPECT_EQ(test::runFotolume({matte, dir.path("out.ppm"), "8", "6"}).err, "");
}

TEST(Render, SmallScenesWhosePixelsFollowFromTheRules) {
    test::TempDir dir;
    // One pixel looks straight along -back: at a glass sphere head-on, the
    // ray goes through both walls to the background, weighted by 0.8 twice.
    const std::string glass = dir.write("glass.txt",
                                        "0 0 5 0 0 0 0 1 0 40 1 0 0 0 0 0 0 1 0 0 "
                                        "1 solid 1 1 1 1 0 0 0 0 0 0.8 1.5 "
                                        "1 0 0 sphere 0 0 0 1");
    EXPECT_EQ(test::pixels(glass, 1, 1), std::string(3, static_cast<char>(81)));  // 0.32 * 255

    // Facing mirrors with ambient 0.1 per hit: depths 0 to 4 shade, the
    // depth-5 ray hits a mirror and is black: 0.5 in all, byte 127 (a
    // background at depth 5 would give 255).
    const std::string mirrors = dir.write("mirrors.txt",
                                          "0 0 0 0 0 -1 0 1 0 30 1 0 0 0 0.1 0.1 0.1 1 0 0 "
                                          "1 solid 1 1 1 1 1 0 0 0 1 0 1 "
                                          "2 0 0 disc 0 0 -5 50 0 0 1 0 0 disc 0 0 5 50 0 0 -1");
    EXPECT_EQ(test::pixels(mirrors, 1, 1), std::string(3, static_cast<char>(127)));

    // Nothing hit: background grey. Something between the eye and the image
    // plane is not seen (rays start on the plane).
    const std::string behind = dir.write("behind.txt",
                                         "0 0 5 0 0 0 0 1 0 40 1 0 0 0 1 1 1 0 0 0 "
                                         "1 solid 1 0 0 1 1 0 0 0 0 0 1 "
                                         "1 0 0 sphere 0 0 4.5 0.3");
    EXPECT_EQ(test::pixels(behind, 3, 2), std::string(18, static_cast<char>(127)));

    // The top row is written first: a sphere above the axis fills the top
    // row of a 1 x 2 image and leaves the bottom one grey.
    const std::string above = dir.write("above.txt",
                                        "0 0 5 0 0 0 0 1 0 40 1 0 0 0 1 1 1 0 0 0 "
                                        "1 solid 1 0 0 1 1 0 0 0 0 0 1 "
                                        "1 0 0 sphere 0 0.9 0 0.8");
    EXPECT_EQ(test::pixels(above, 1, 2), std::string("\xFF\0\0\x7F\x7F\x7F", 6));
}

}  // namespace
}  // namespace fotolume
