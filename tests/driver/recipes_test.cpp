// The README's recipes for many scenes and for one image on many machines,
// run as written: each code block is taken from the README itself, with
// only the other machines' names replaced by ':' (this machine), which GNU
// parallel runs locally.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace fotolume {
namespace {

// The indented code blocks of the README between two headings.
std::vector<std::string> codeBlocks(const std::string& from, const std::string& to) {
    std::istringstream readme(test::readFile(test::sourcePath("README.md")));
    std::vector<std::string> blocks;
    std::string line, block;
    bool inside = false;
    while (std::getline(readme, line)) {
        if (line == from) inside = true;
        if (line == to) break;
        if (!inside) continue;
        if (line.rfind("    ", 0) == 0) {
            block += line.substr(4) + "\n";
        } else if (!block.empty()) {
            blocks.push_back(block);
            block.clear();
        }
    }
    if (!block.empty()) blocks.push_back(block);
    return blocks;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
}

TEST(Recipes, EveryRecipeRunsAsWritten) {
    if (std::system("command -v parallel >/dev/null && command -v pamcat >/dev/null") != 0)
        GTEST_SKIP() << "GNU parallel or netpbm's pamcat is missing (tools/setup installs them)";
    const std::vector<std::string> blocks = codeBlocks("## Rendering many scenes", "## One image on a Slurm cluster");
    ASSERT_EQ(blocks.size(), 5u);
    test::TempDir dir;
    std::filesystem::create_directories(dir.path("frames"));
    std::filesystem::create_directories(dir.path("home/.parallel"));
    dir.write("home/.parallel/will-cite", "");
    // A scene that renders in a blink at any size.
    const std::string scene =
        "0 0 5\n0 0 0\n0 1 0\n40\n1\n0 0 0 1 1 1 1 0 0\n1\nsolid 1 0 0\n"
        "1\n1 0 0 0 0 0 1\n1\n0 0 sphere 0 0 0 1\n";
    dir.write("frames/a.txt", scene);
    dir.write("frames/b.txt", scene);
    dir.write("scene.txt", scene);
    const std::string setup =
        "cd '" + dir.path("") + "' && export HOME='" + dir.path("home") + "' PATH='" +
        std::filesystem::path(FOTOLUME_BINARY).parent_path().string() + "':$PATH && ";
    for (const std::string& written : blocks) {
        SCOPED_TRACE(written);
        std::string block = replaced(written, "2/host1,2/host2", ":");
        block = replaced(block, "host1,host2,host3", ":");
        std::string command;
        if (block.find("%.ppm: %.txt") != std::string::npos) {
            dir.write("frames/Makefile", block);
            command = "cd frames && make -s -j";
        } else {
            dir.write("recipe.sh", block);
            command = "bash -e recipe.sh";
        }
        for (const char* old : {"frames/a.ppm", "frames/a.png", "image.ppm"})
            std::filesystem::remove(dir.path(old));
        ASSERT_EQ(std::system(("bash -c \"" + setup + command + "\" >/dev/null 2>&1").c_str()), 0);
        if (block.find("image.ppm") != std::string::npos) {
            const test::RunResult single = test::runFotolume(
                {"-q", "--samples", "4", dir.path("scene.txt"), "-", "1920", "1080"});
            EXPECT_TRUE(test::readFile(dir.path("image.ppm")) == single.out);
        } else {
            EXPECT_TRUE(test::exists(dir.path("frames/a.ppm")) ||
                        test::exists(dir.path("frames/a.png")));
        }
    }
}

// The manual page's example: its scene is example.txt, and its commands
// run as written (troff's escapes undone) beside it.
TEST(Recipes, TheManualPagesExampleRunsAsWritten) {
    std::istringstream page(test::readFile(test::sourcePath("docs/fotolume.1")));
    std::vector<std::string> blocks;
    std::string line, block;
    bool inside = false;
    while (std::getline(page, line)) {
        if (line == ".nf") {
            inside = true;
        } else if (line == ".fi") {
            blocks.push_back(block);
            block.clear();
            inside = false;
        } else if (inside) {
            block += replaced(replaced(line, "\\-", "-"), "\\\\", "\\") + "\n";
        }
    }
    ASSERT_EQ(blocks.size(), 3u);
    test::TempDir dir;
    dir.write("example.txt", blocks[0]);
    const std::string setup = "cd '" + dir.path("") + "' && export PATH='" +
                              std::filesystem::path(FOTOLUME_BINARY).parent_path().string() +
                              "':$PATH && ";
    for (std::size_t b = 1; b < blocks.size(); ++b) {
        SCOPED_TRACE(blocks[b]);
        dir.write("recipe.sh", blocks[b]);
        EXPECT_EQ(
            std::system(("bash -c \"" + setup + "bash -e recipe.sh\" >/dev/null 2>&1").c_str()), 0);
    }
    for (const char* made : {"example.png", "smooth.png"})
        EXPECT_TRUE(test::exists(dir.path(made)));
    const test::RunResult single =
        test::runFotolume({"-q", dir.path("example.txt"), "-", "1920", "1080"});
    EXPECT_TRUE(test::readFile(dir.path("image.ppm")) == single.out);
}

// Bands rendered apart join into the single render's bytes, PPM or PNG;
// bands that do not make the image (one missing, out of order, of another
// width, overlapping, cut short, the image itself) are refused before a
// byte is written, and the image there before stays.
TEST(Recipes, BandsJoinIntoTheSingleRendersBytesOrNothing) {
    test::TempDir dir;
    const std::string scene = test::sourcePath("scenes/showcase.txt");
    const std::vector<std::string> aa = {"--samples", "3"};
    auto band = [&](int top, int rows, const std::string& name, const char* width = "48") {
        std::vector<std::string> args = aa;
        args.insert(args.end(), {"--region", std::string("0,") + std::to_string(top) + "," +
                                                 width + "," + std::to_string(rows),
                                 scene, dir.path(name), width, "36"});
        EXPECT_EQ(test::runFotolume(args).status, 0);
        return std::to_string(top) + ":" + dir.path(name);
    };
    const std::string a = band(0, 10, "a.ppm"), b = band(10, 20, "b.ppm"), c = band(30, 6, "c.ppm");
    for (const char* name : {"single.ppm", "single.png"}) {
        std::vector<std::string> single = aa;
        single.insert(single.end(), {scene, dir.path(name), "48", "36"});
        ASSERT_EQ(test::runFotolume(single).status, 0);
        const std::string joined = dir.path(std::string("joined") + (name + 6));
        const test::RunResult run = test::runFotolume({"--join", joined, "48", "36", a, b, c});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(test::readFile(joined), test::readFile(dir.path(name))) << name;
    }
    const std::string wide = band(10, 20, "wide.ppm", "64");
    dir.write("short.ppm", test::readFile(dir.path("b.ppm")).substr(0, 500));
    const std::string cut = "10:" + dir.path("short.ppm");
    const struct {
        std::vector<std::string> bands;
        int status;
        const char* said;
    } rows[] = {
        {{a, c}, 1, "a band is missing"},
        {{a, b}, 1, "the last band is missing"},
        {{b, a, c}, 1, "out of order"},
        {{a, "5:" + dir.path("b.ppm"), c}, 1, "overlap"},
        {{a, wide, c}, 1, "a band of another image"},
        {{a, cut, c}, 1, "it is incomplete"},
        {{a, "10:" + dir.path("none.ppm"), c}, 1, "cannot read the band"},
        {{a, dir.path("b.ppm"), c}, 2, "a band is TOP:FILE"},
        {{}, 2, "--join takes IMAGE WIDTH HEIGHT"},
        {{a, "10:" + dir.path("out.png"), c}, 1, "is the band"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.said);
        dir.write("out.png", "previous image");
        std::vector<std::string> args = {"--join", dir.path("out.png"), "48", "36"};
        args.insert(args.end(), row.bands.begin(), row.bands.end());
        const test::RunResult run = test::runFotolume(args);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
        EXPECT_EQ(test::readFile(dir.path("out.png")), "previous image");
    }
}

}  // namespace
}  // namespace fotolume
