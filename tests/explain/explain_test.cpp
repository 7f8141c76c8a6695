// Explaining a pixel: the bytes it explains are the render's own for every
// pixel, its tree holds the numbers of a case worked by hand, and its
// usage errors are those of the rest of the command line.
#include "explain/explain.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    // Each error again with --explain-format json: a JSON object on
    // standard output naming it, the words on standard error, the same
    // status; only a wrong number of operands keeps the usage text.
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
        bool json;
    } rows[] = {
        {{"--explain", "8,6", scene, "8", "6"}, EXIT_USAGE, "lies outside the 8x6 image", true},
        {{"--explain", "3", scene, "8", "6"}, EXIT_USAGE, "must be X,Y in whole pixels", true},
        {{"--explain", "-1,2", scene, "8", "6"}, EXIT_USAGE, "must be X,Y in whole pixels", true},
        {{"--explain", "1,2,3", scene, "8", "6"}, EXIT_USAGE, "must be X,Y in whole pixels", true},
        {{"--explain", "1,2", scene, "out.ppm", "8", "6"}, EXIT_USAGE, "three operands", false},
        {{"--explain", "1,2", "--explain-format", "xml", scene, "8", "6"},
         EXIT_USAGE,
         "must be text or json",
         false},
        {{"--explain", "1,2", scene, "0", "6"}, EXIT_USAGE, "Tamanho de imagem invalido", true},
        {{"--explain", "1,2", "--samples", "99", scene, "8", "6"},
         EXIT_USAGE,
         "samples must be a whole number",
         true},
        {{"--explain", "1,2", "-t", "2", scene, "8", "6"},
         EXIT_OK,
         "--threads has no effect with --explain",
         false},
        {{"--explain", "1,2", "/nonexistent/scene", "8", "6"}, EXIT_FAILURE_INPUT, "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.err);
        const test::RunResult run = test::runFotolume(row.args);
        EXPECT_EQ(run.status, row.status) << row.err;
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        if (!row.json) continue;
        std::vector<std::string> args = {"--explain-format", "json"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const test::RunResult asJson = test::runFotolume(args);
        EXPECT_EQ(asJson.status, row.status);
        EXPECT_NE(asJson.err.find(row.err), std::string::npos) << asJson.err;
        ASSERT_TRUE(json::accept(asJson.out)) << asJson.out;
        const json error = json::parse(asJson.out);
        EXPECT_NE(error.at("error").get<std::string>().find(row.err.empty() ? "/nonexistent/scene"
                                                                            : row.err),
                  std::string::npos);
        EXPECT_EQ(error.at("status"), row.status);
    }
    // A refused scene: its diagnostics, status 1, nothing explained.
    test::TempDir dir;
    const test::RunResult refused = test::runFotolume(
        {"--explain", "0,0", dir.write("bad.txt", "0 0 0 0 0 0 0 1 0 45"), "4", "3"});
    EXPECT_EQ(refused.status, EXIT_FAILURE_INPUT);
    EXPECT_NE(refused.err.find("error:"), std::string::npos);
    EXPECT_EQ(refused.out, "");
    const test::RunResult refusedJson = test::runFotolume(
        {"--explain", "0,0", "--explain-format", "json", dir.path("bad.txt"), "4", "3"});
    EXPECT_EQ(refusedJson.status, EXIT_FAILURE_INPUT);
    ASSERT_TRUE(json::accept(refusedJson.out)) << refusedJson.out;
    EXPECT_NE(json::parse(refusedJson.out)["error"].get<std::string>().find("error:"),
              std::string::npos);
}

// The pixel's colour as the render adds it up: within each ray, every
// term's sum is the one before it plus what it adds and the last is the
// ray's colour; a child term adds the child's colour times its weight; the
// shares of the surfaces' own terms and backgrounds, over the whole tree,
// add up to the primary colour, whose clamp gives the bytes. On glass, in
// shadow, on a mirror and on an anti-aliased pixel (its grid's mean).
double checkTerms(const json& ray, double above, int k) {
    const json& terms = ray["terms"];
    double shares = 0.0, sum = 0.0;
    std::size_t child = 0;
    for (std::size_t i = 0; i < terms.size(); ++i) {
        const json& term = terms[i];
        const double value = term["value"][k].get<double>();
        sum = i == 0 ? value : sum + value;
        EXPECT_EQ(term["sum"][k].get<double>(), sum) << term;
        if (term.contains("weight")) {
            const double weight = term["weight"].get<double>();
            const json& next = ray["rays"][child++];
            EXPECT_EQ(value, weight * next["color"][k].get<double>());
            const double inner = checkTerms(next, above * weight, k);
            EXPECT_NEAR(term["share"][k].get<double>(), inner, 1e-12);
            shares += inner;
        } else {
            EXPECT_EQ(term["share"][k].get<double>(), above * value);
            shares += above * value;
        }
    }
    if (!terms.empty()) {
        EXPECT_EQ(ray["color"][k].get<double>(), sum);
    }
    return shares;
}

unsigned char byteOf(double clamped) {
    return clamped > 0.0 ? static_cast<unsigned char>(static_cast<long>(clamped * 255.0)) : 0;
}

TEST(Explain, SharesAddUpToTheStoredBytes) {
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    auto explain = [&](const Frame& frame, int x, int y) {
        std::rewind(sink);
        ASSERT_EQ(ftruncate(fileno(sink), 0), 0);
        unsigned char bytes[3];
        explainPixelTo(sink, frame, x, y, ExplainFormat::Json, bytes);
        std::fflush(sink);
        std::rewind(sink);
    };
    const struct {
        const char* scene;
        int samples;
        const char* needs;  // what a pixel's text must hold to be taken
    } rows[] = {{"scenes/glass.txt", 1, "\"refracted\""},
                {"scenes/example.txt", 1, "\"reached\":false"},
                {"scenes/mirrors.txt", 1, "\"term\":\"reflected\""},
                {"scenes/showcase.txt", 3, "\"mean\""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scene);
        const int width = 40, height = 30;
        test::loadScene(test::readFile(test::sourcePath(row.scene)), width, height);
        Frame frame;
        frame.samples = row.samples;
        int taken = 0;
        for (int y = 0; y < height && taken < 3; ++y)
            for (int x = (y * 7) % 5; x < width && taken < 3; x += 5) {
                explain(frame, x, y);
                const std::string text = test::readFile("/dev/fd/" + std::to_string(fileno(sink)));
                if (text.find(row.needs) == std::string::npos) continue;
                ++taken;
                const json e = json::parse(text);
                for (int k = 0; k < 3; ++k) {
                    const double color = e["ray"]["color"][k].get<double>();
                    EXPECT_NEAR(checkTerms(e["ray"], 1.0, k), color, 1e-12 * std::max(1.0, color));
                    EXPECT_EQ(e["clamped"][k].get<double>(), std::min(color, 1.0));
                    if (e.contains("mean")) {
                        double sum = 0.0;
                        for (const json& cell : e["grid"]) sum += cell["clamped"][k].get<double>();
                        // Even corners are averaged with the one ray's bytes' middle.
                        if (e["corners"]["even"] == true)
                            sum += (e["one"][k].get<double>() + 0.5) / 255.0;
                        EXPECT_NEAR(e["mean"]["sum"][k].get<double>(), sum, 1e-12);
                        EXPECT_EQ(e["bytes"][k], byteOf(e["mean"]["sum"][k].get<double>() /
                                                        e["mean"]["rays"].get<int>()));
                    } else if (row.samples == 1) {
                        EXPECT_EQ(e["bytes"][k], byteOf(std::min(color, 1.0)));
                    }
                }
            }
        EXPECT_EQ(taken, 3) << "no pixel of the kind sought";
    }
    std::fclose(sink);
}

// An edge pixel's neighbour is named column first, in text and JSON: it is
// next to the pixel and its one-ray bytes are the neighbour's.
TEST(Explain, AnEdgePixelsNeighbourIsNamedColumnFirst) {
    const std::string scene = test::sourcePath("scenes/showcase.txt");
    const int width = 24, height = 18;
    const std::string one = rendered(scene, {}, width, height);
    int edges = 0;
    for (int y = 1; y < height - 1 && edges < 6; y += 2)
        for (int x = 2; x < width - 1 && edges < 6; x += 3) {
            const std::vector<std::string> args = {"--explain",
                                                   std::to_string(x) + "," + std::to_string(y),
                                                   "--samples",
                                                   "2",
                                                   scene,
                                                   std::to_string(width),
                                                   std::to_string(height)};
            std::vector<std::string> asJson = args;
            asJson.insert(asJson.begin(), {"--explain-format", "json"});
            const json e = json::parse(test::runFotolume(asJson).out);
            if (e["neighbour"].is_null()) continue;
            ++edges;
            const int c = e["neighbour"]["column"], r = e["neighbour"]["row"];
            EXPECT_LE(std::abs(c - x), 1);
            EXPECT_LE(std::abs(r - y), 1);
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(e["neighbour"]["bytes"][k],
                          static_cast<unsigned char>(one[3u * (r * width + c) + k]));
            const std::string text = test::runFotolume(args).out;
            EXPECT_NE(
                text.find("neighbour " + std::to_string(c) + "," + std::to_string(r) + " gives"),
                std::string::npos)
                << text;
        }
    EXPECT_GT(edges, 0);
}

}  // namespace
}  // namespace fotolume
