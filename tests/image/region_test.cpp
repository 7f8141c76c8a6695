// Regions of the full image, and images that must be another's bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace fotolume {
namespace {

// The pixels of the rectangle (left, top, width, height) of a full image's pixels.
std::string crop(const std::string& full, int fullWidth, int left, int top, int width, int height) {
    std::string part;
    for (int row = top; row < top + height; ++row)
        part += full.substr(3 * (static_cast<std::size_t>(row) * fullWidth + left), 3 * width);
    return part;
}

// A region is the full image's pixels there, byte for byte, with one ray a
// pixel and with adaptive grids (whose decisions at the region's edge look
// at the full image's neighbours), as PPM and as PNG.
TEST(Region, RegionsAreTheFullImagesPixels) {
    const int width = 37, height = 23;
    const std::string scene = test::sourcePath("scenes/showcase.txt");
    const int regions[][4] = {{0, 0, 5, 4},   {32, 0, 5, 4}, {0, 19, 5, 4},  {32, 19, 5, 4},
                              {17, 11, 1, 1}, {0, 7, 37, 1}, {0, 0, 37, 23}, {9, 3, 20, 17}};
    for (const std::vector<std::string>& options : {std::vector<std::string>{},
                                                    {"--samples", "3"},
                                                    {"--samples", "4", "--aa-threshold", "0"}}) {
        test::TempDir dir;
        std::vector<std::string> args = options;
        args.insert(args.end(), {scene, dir.path("full.ppm"), "37", "23"});
        ASSERT_EQ(test::runFotolume(args).status, 0);
        const std::string full =
            test::readFile(dir.path("full.ppm")).substr(13);  // "P6\n37 23\n255\n"
        for (const auto& r : regions) {
            const std::string text = std::to_string(r[0]) + "," + std::to_string(r[1]) + "," +
                                     std::to_string(r[2]) + "," + std::to_string(r[3]);
            const std::string header =
                "P6\n" + std::to_string(r[2]) + " " + std::to_string(r[3]) + "\n255\n";
            for (const char* name : {"part.ppm", "part.png"}) {
                SCOPED_TRACE(text + " " + name + " " + (options.empty() ? "" : options[1]));
                args = options;
                args.insert(args.end(),
                            {"--region", text, "-t", "3", scene, dir.path(name), "37", "23"});
                const test::RunResult run = test::runFotolume(args);
                EXPECT_EQ(run.status, 0) << run.err;
                EXPECT_EQ(run.err, "");
                const std::string image = std::string(name) == "part.png"
                                              ? test::pngAsPpm(dir.path(name))
                                              : test::readFile(dir.path(name));
                EXPECT_EQ(image, header + crop(full, width, r[0], r[1], r[2], r[3]));
            }
        }
        (void)height;
    }
}

// The README's recipe for one image on many machines, run on this one
// without -S: four bands rendered by GNU parallel and stacked by netpbm are
// the single render's bytes.
TEST(Region, BandsRenderedByParallelStackIntoTheFullImage) {
    if (std::system("command -v parallel >/dev/null && command -v pamcat >/dev/null") != 0)
        GTEST_SKIP() << "GNU parallel or netpbm's pamcat is missing (tools/setup installs them)";
    test::TempDir dir;
    const std::string scene =
        dir.write("scene.txt", test::readFile(test::sourcePath("scenes/showcase.txt")));
    const std::string script = "cd '" + dir.path("") + "' && PATH='" +
                               std::filesystem::path(FOTOLUME_BINARY).parent_path().string() +
                               "':$PATH && W=64 H=45 N=4 && "
                               "for i in $(seq 0 $((N - 1))); do echo $((i * H / N)) $(((i + 1) * "
                               "H / N - i * H / N)); done |\n"
                               "  parallel --will-cite --colsep ' ' fotolume -q -t 1 --samples 3 "
                               "--region 0,{1},$W,{2} scene.txt "
                               "band{#}.ppm $W $H &&\n"
                               "pamcat -tb $(seq -f band%g.ppm 1 $N) > joined.ppm &&\n"
                               "fotolume -q --samples 3 scene.txt single.ppm $W $H";
    ASSERT_EQ(std::system(script.c_str()), 0) << script;
    const std::string joined = test::readFile(dir.path("joined.ppm"));
    EXPECT_EQ(joined.size(), 13u + 64 * 45 * 3);
    EXPECT_EQ(joined, test::readFile(dir.path("single.ppm")));
}

// At a threshold of 1 no pixel can differ from a neighbour by more, so
// every grid size gives the one-ray image, whole and in regions.
TEST(Region, AThresholdOfOneIsTheOneRayImage) {
    const struct {
        const char* scene;
        int width, height;
        const char* region;  // left,top,width,height; null: the whole image
    } rows[] = {
        {"scenes/showcase.txt", 37, 23, nullptr},
        {"scenes/showcase.txt", 37, 23, "30,20,7,3"},
        {"bench/scenes/aa/horizon.txt", 1, 1, nullptr},
        {"bench/scenes/aa/horizon.txt", 5, 64, "0,10,5,1"},
        {"bench/scenes/thin.txt", 80, 60, "13,0,40,60"},
    };
    for (const auto& row : rows) {
        test::TempDir dir;
        const std::string scene = test::sourcePath(row.scene);
        const std::string w = std::to_string(row.width), h = std::to_string(row.height);
        std::vector<std::string> plain = {scene, dir.path("plain.ppm"), w, h};
        if (row.region) plain.insert(plain.begin(), {"--region", row.region});
        ASSERT_EQ(test::runFotolume(plain).status, 0) << row.scene;
        for (const char* samples : {"2", "4", "16"}) {
            std::vector<std::string> args = plain;
            args.insert(args.begin(), {"--samples", samples, "--aa-threshold", "1", "-t", "3"});
            args[args.size() - 3] = dir.path("grid.ppm");
            ASSERT_EQ(test::runFotolume(args).status, 0) << row.scene;
            EXPECT_EQ(test::readFile(dir.path("grid.ppm")), test::readFile(dir.path("plain.ppm")))
                << row.scene << " " << row.width << "x" << row.height << " "
                << (row.region ? row.region : "whole") << ", samples " << samples;
        }
    }
}

}  // namespace
}  // namespace fotolume
