// Explaining a pixel: the bytes it explains are the render's own for every
// pixel, its tree holds the numbers of a case worked by hand, and its
// usage errors are those of the rest of the command line.
#include "explain/explain.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using nlohmann::json;

std::string rendered(const std::string& scene, const std::vector<std::string>& options, int width,
                     int height) {
    test::TempDir dir;
    std::vector<std::string> args = options;
    args.insert(args.end(),
                {scene, dir.path("out.ppm"), std::to_string(width), std::to_string(height)});
    const test::RunResult run = test::runFotolume(args);
    EXPECT_EQ(run.status, EXIT_OK) << run.err;
    const std::string image = test::readFile(dir.path("out.ppm"));
    return image.substr(image.size() - 3u * width * height);
}

// Every pixel of scenes with mirrors, glass, checkers, every object kind
// and unlit sides, with one ray, adaptive grids and full grids: the bytes
// explained are the image's, and every line printed fits in 100 columns.
TEST(Explain, EveryPixelsBytesAreTheRenders) {
    const int width = 20, height = 15;
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    for (const char* name : {"scenes/showcase.txt", "scenes/glass.txt", "scenes/mirrors.txt",
                             "scenes/example.txt", "scenes/finishes.txt"}) {
        const std::string scene = test::sourcePath(name);
        struct Setting {
            std::vector<std::string> options;
            Frame frame;
        };
        Frame one, adaptive, full;
        adaptive.samples = 3;
        full.samples = 2;
        full.threshold = 0.0;
        const Setting settings[] = {{{}, one},
                                    {{"--samples", "3"}, adaptive},
                                    {{"--samples", "2", "--aa-threshold", "0"}, full}};
        for (const Setting& setting : settings) {
            SCOPED_TRACE(std::string(name) + " samples " + std::to_string(setting.frame.samples));
            const std::string image = rendered(scene, setting.options, width, height);
            bool accepted = false;
            test::loadScene(test::readFile(scene), width, height, &accepted);
            ASSERT_TRUE(accepted);
            int differ = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    unsigned char bytes[3];
                    explainPixelTo(sink, setting.frame, x, y, ExplainFormat::Text, bytes);
                    differ += image.compare(3u * (y * width + x), 3,
                                            reinterpret_cast<const char*>(bytes), 3) != 0;
                }
            EXPECT_EQ(differ, 0);
        }
    }
    std::rewind(sink);
    char line[4096];
    std::size_t longest = 0;
    while (std::fgets(line, sizeof line, sink)) longest = std::max(longest, std::strlen(line) - 1);
    EXPECT_LE(longest, 100u);
    std::fclose(sink);
}

// A mirror facing a red wall behind the eye, one light: the tree node by
// node, against figures worked out by hand.
TEST(Explain, AMirrorFacingARedWall) {
    test::TempDir dir;
    const std::string scene = dir.write("mirror.txt",
                                        "0 0 0\n0 0 -1\n0 1 0\n60\n"
                                        "2\n0 0 0 0.2 0.2 0.2 0 0 0\n0 3 4 1 1 1 1 0 0\n"
                                        "2\nsolid 0 0 0\nsolid 1 0 0\n"
                                        "2\n0 0 0 1 1 0 1\n1 0.5 0 1 0 0 1\n"
                                        "2\n0 0 disc 0 0 -5 1 0 0 1\n"
                                        "1 1 disc 0 0 5 100 0 0 -1\n");
    const test::RunResult run =
        test::runFotolume({"--explain", "2,1", "--explain-format", "json", scene, "5", "3"});
    ASSERT_EQ(run.status, EXIT_OK) << run.err;
    const json e = json::parse(run.out);
    EXPECT_EQ(e["pixel"], json({2, 1}));
    const json& primary = e["ray"];
    EXPECT_EQ(primary["kind"], "primary");
    EXPECT_EQ(primary["origin"], json({0.0, 0.0, -1.0}));  // the centre pixel starts on the plane
    EXPECT_EQ(primary["direction"], json({0.0, 0.0, -1.0}));
    EXPECT_EQ(primary["hit"]["object"], 0);
    EXPECT_EQ(primary["hit"]["line"], 15);
    EXPECT_EQ(primary["hit"]["distance"], 4.0);
    EXPECT_EQ(primary["hit"]["normal"], json({0.0, 0.0, 1.0}));
    EXPECT_EQ(primary["pigment"]["line"], 9);
    EXPECT_EQ(primary["ambient"], json({0.0, 0.0, 0.0}));  // a black pigment
    // The wall lies on the half-line towards the light, beyond it: a shadow.
    EXPECT_EQ(primary["lights"][0]["reached"], false);
    EXPECT_EQ(primary["lights"][0]["blocker"], json({{"object", 1}, {"line", 16}}));
    EXPECT_EQ(primary["reflection"], 1.0);
    EXPECT_EQ(primary["transmission"], 0.0);
    ASSERT_EQ(primary["rays"].size(), 1u);
    const json& wall = primary["rays"][0];
    EXPECT_EQ(wall["kind"], "reflected");
    EXPECT_EQ(wall["depth"], 1);
    EXPECT_EQ(wall["origin"], json({0.0, 0.0, -5.0}));
    EXPECT_EQ(wall["direction"], json({0.0, 0.0, 1.0}));
    EXPECT_EQ(wall["hit"]["object"], 1);
    EXPECT_EQ(wall["hit"]["distance"], 10.0);
    EXPECT_EQ(wall["hit"]["normal"], json({0.0, 0.0, -1.0}));  // a disc's, as given
    EXPECT_EQ(wall["pigment"]["color"], json({1.0, 0.0, 0.0}));
    EXPECT_EQ(wall["ambient"], json({0.2, 0.0, 0.0}));  // ambient 1 x 0.2 x red
    // The light is sqrt(10) away, up and in front of the wall: N.L = 1 /
    // sqrt(10), attenuation 1, diffuse 0.5 of it in red; no specular (0).
    const json& light = wall["lights"][0];
    EXPECT_EQ(light["reached"], true);
    EXPECT_DOUBLE_EQ(light["distance"].get<double>(), std::sqrt(10.0));
    EXPECT_EQ(light["attenuation"], 1.0);
    EXPECT_DOUBLE_EQ(light["nl"].get<double>(), 1 / std::sqrt(10.0));
    EXPECT_DOUBLE_EQ(light["diffuse"][0].get<double>(), 0.5 / std::sqrt(10.0));
    EXPECT_EQ(light["specular"], json({0.0, 0.0, 0.0}));
    EXPECT_EQ(wall["rays"].size(), 0u);
    // The sums, exactly as the tracer forms them.
    const double red = light["diffuse"][0].get<double>() + 0.2;
    EXPECT_EQ(wall["color"], json({red, 0.0, 0.0}));
    EXPECT_EQ(primary["color"], json({0.0 + 1.0 * red, 0.0, 0.0}));
    EXPECT_EQ(e["bytes"], json({static_cast<int>(red * 255), 0, 0}));
    EXPECT_EQ(e["bytes"], json({91, 0, 0}));
    // The text form says the same.
    const test::RunResult text = test::runFotolume({"--explain", "2,1", scene, "5", "3"});
    EXPECT_NE(text.out.find("  reflected ray, depth 1, outside\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("met object 1 (disc, line 16) at distance 10\n"), std::string::npos);
    EXPECT_NE(text.out.find("light 1 (line 7): distance 3.1622776601683795, reached"),
              std::string::npos);
    EXPECT_NE(text.out.find("blocked by object 1 (disc, line 16)"), std::string::npos);
    EXPECT_NE(text.out.find("\nbytes 91 0 0\n"), std::string::npos);
}

// A smooth row's hit names its face, and its normal is the blend worked
// out by hand: weights 0.5, 0.25, 0.25 at (0.25, 0.25) of the corners'
// normals (0, 0, 2), (1, 0, 1), (0, 1, 1), normalized.
TEST(Explain, ASmoothFaceNamesItselfAndItsBlendedNormal) {
    test::TempDir dir;
    const std::string scene = dir.write("smooth.txt",
                                        "0.25 0.25 5\n0.25 0.25 0\n0 1 0\n60\n"
                                        "1\n0 0 0 0.2 0.2 0.2 0 0 0\n1\nsolid 1 1 1\n"
                                        "1\n1 0 0 1 0 0 1\n2\n0 0 sphere 0 0 -40 1\n"
                                        "0 0 smooth 3\n0 0 0 0 0 2\n1 0 0 1 0 1\n0 1 0 0 1 1\n"
                                        "1 0 1 2\n");
    const test::RunResult run =
        test::runFotolume({"--explain", "2,1", "--explain-format", "json", scene, "5", "3"});
    ASSERT_EQ(run.status, EXIT_OK) << run.err;
    const json hit = json::parse(run.out)["ray"]["hit"];
    EXPECT_EQ(hit["object"], 1);
    EXPECT_EQ(hit["type"], "smooth");
    EXPECT_EQ(hit["face"], 0);
    EXPECT_EQ(hit["distance"], 4.0);
    const double r = 1.0 / std::sqrt(2.375);
    EXPECT_EQ(hit["normal"], json({r * 0.25, r * 0.25, r * 1.5}));
    const test::RunResult text = test::runFotolume({"--explain", "2,1", scene, "5", "3"});
    EXPECT_NE(text.out.find("met object 1 (smooth, line 13), face 0 at distance 4\n"),
              std::string::npos)
        << text.out;
}

TEST(Explain, UsageErrors) {
    const std::string scene = test::sourcePath("scenes/example.txt");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } rows[] = {
        {{"--explain", "8,6", scene, "8", "6"}, EXIT_USAGE, "lies outside the 8x6 image"},
        {{"--explain", "3", scene, "8", "6"}, EXIT_USAGE, "must be X,Y in whole pixels"},
        {{"--explain", "-1,2", scene, "8", "6"}, EXIT_USAGE, "must be X,Y in whole pixels"},
        {{"--explain", "1,2,3", scene, "8", "6"}, EXIT_USAGE, "must be X,Y in whole pixels"},
        {{"--explain", "1,2", scene, "out.ppm", "8", "6"}, EXIT_USAGE, "three operands"},
        {{"--explain", "1,2", "--explain-format", "xml", scene, "8", "6"},
         EXIT_USAGE,
         "must be text or json"},
        {{"--explain", "1,2", scene, "0", "6"}, EXIT_USAGE, "Tamanho de imagem invalido"},
        {{"--explain", "1,2", "-t", "2", scene, "8", "6"},
         EXIT_OK,
         "--threads has no effect with --explain"},
        {{"--explain", "1,2", "/nonexistent/scene", "8", "6"}, EXIT_FAILURE_INPUT, ""},
    };
    for (const auto& row : rows) {
        const test::RunResult run = test::runFotolume(row.args);
        EXPECT_EQ(run.status, row.status) << row.err;
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    }
    // A refused scene: its diagnostics, status 1, nothing explained.
    test::TempDir dir;
    const test::RunResult refused = test::runFotolume(
        {"--explain", "0,0", dir.write("bad.txt", "0 0 0 0 0 0 0 1 0 45"), "4", "3"});
    EXPECT_EQ(refused.status, EXIT_FAILURE_INPUT);
    EXPECT_NE(refused.err.find("error:"), std::string::npos);
    EXPECT_EQ(refused.out, "");
}

}  // namespace
}  // namespace fotolume
