// Hostile and broken input against the built binary: every row either
// renders (exit 0, a complete image) or says what is wrong (exit 1 or 2, an
// error message, no image), and never crashes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

const std::string kCamera = "0 1 6 0 0 0 0 1 0 45\n";

struct Outcome {
    int status;
    bool image;
};
constexpr Outcome kRenders{EXIT_OK, true};
constexpr Outcome kRefused{EXIT_FAILURE_INPUT, false};

// Runs a scene text at 8 x 6 and checks the invariants every run must keep.
test::RunResult render(const test::TempDir& dir, const std::string& scene,
                       std::vector<std::string> size = {"8", "6"}) {
    const std::string sceneFile = dir.write("scene.txt", scene);
    const std::string out = dir.path("out.ppm");
    std::remove(out.c_str());
    test::RunResult run = test::runFotolume({sceneFile, out, size[0], size[1]});
    if (run.status == EXIT_OK) {
        const std::string image = test::readFile(out);
        const std::string header = "P6\n" + size[0] + " " + size[1] + "\n255\n";
        EXPECT_EQ(image.substr(0, header.size()), header);
        EXPECT_EQ(image.size(), header.size() + 3 * 8 * 6u);
        EXPECT_EQ(run.err.find("error:"), std::string::npos) << run.err;
    } else {
        EXPECT_EQ(run.status, EXIT_FAILURE_INPUT) << run.out << run.err;
        EXPECT_FALSE(test::exists(out));
        EXPECT_NE(run.err.find("error:"), std::string::npos) << run.err;
    }
    EXPECT_EQ(run.out, "");  // scene trouble never goes to standard output
    return run;
}

void expectOutcome(const test::TempDir& dir, const std::string& name, const std::string& scene,
                   Outcome expected, const std::string& message = "") {
    SCOPED_TRACE(name);
    const test::RunResult run = render(dir, scene);
    EXPECT_EQ(run.status, expected.status) << run.err;
    EXPECT_EQ(test::exists(dir.path("out.ppm")), expected.image);
    if (!message.empty()) {
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
}

TEST(BadInput, SceneContentTable) {
    test::TempDir dir;
    const std::string lights = "2 0 0 0 .2 .2 .2 1 0 0 1 1 1 1 1 1 1 0 0\n";
    const std::string tables = lights + "1 solid 1 1 1\n1 1 1 0 1 0 0 1\n";
    std::string binary;
    for (int i = 0; i < 512; ++i) binary += static_cast<char>((i * 7919 + 13) % 256);

    const struct {
        const char* name;
        std::string scene;
        Outcome expected;
        std::string message;
    } rows[] = {
        {"worked example", test::kWorkedExample, kRenders, ""},
        {"empty file", "", kRefused, "error: the field of view must lie strictly between"},
        {"only white space", " \n\t\r\n   \n", kRefused, "file ends early"},
        {"binary bytes", binary, kRefused, "error:"},
        {"11 lights", kCamera + "11", kRefused, "11 lights, but a scene holds at most 10"},
        {"21 pigments", kCamera + "0 21", kRefused, "21 pigments, but a scene holds at most 20"},
        {"51 finishes", kCamera + "0 0 51", kRefused, "51 finishes, but a scene holds at most 50"},
        {"201 objects", kCamera + "0 0 0 201", kRefused,
         "201 objects, but a scene holds at most 200"},
        {"huge count", kCamera + "99999999999999999999999", kRefused, "2147483647 lights"},
        {"negative counts", kCamera + "-1 -5 -2147483648 -3", kRenders, ""},
        {"pigment out of range", kCamera + tables + "1 1 0 sphere 0 0 0 1", kRefused,
         "object 0 names pigment 1, but the file defines pigments 0 to 0 only"},
        {"negative finish", kCamera + tables + "1 0 -1 sphere 0 0 0 1", kRefused,
         "object 0 names finish -1"},
        {"objects without pigments", kCamera + "0 0 0 1 0 0 disc", kRefused, "defines no pigments"},
        {"9-character word", kCamera + tables + "1 0 0 spherical 0 0 0 1", kRenders,
         "unknown object type 'spherical'"},
        {"10-character word", kCamera + tables + "1 0 0 sphereXXXX 0 0 0 1", kRenders,
         "unknown object type 'sphereXXXX'"},
        {"500-character word", kCamera + tables + "1 0 0 " + std::string(500, 's'), kRenders,
         "unknown object type 'ssssssssss"},
        {"eye at look-at", "1 1 1 1 1 1 0 1 0 45 0 0 0 0", kRefused, "equals the eye point"},
        {"up along the view", "0 0 5 0 0 0 0 0 3 45 0 0 0 0", kRefused,
         "no component across the viewing direction"},
        {"field of view 0", "0 0 5 0 0 0 0 1 0 0 0 0 0 0", kRefused, "strictly between 0 and 180"},
        {"field of view 180", "0 0 5 0 0 0 0 1 0 180 0 0 0 0", kRefused,
         "strictly between 0 and 180"},
        {"infinite eye", "inf 0 5 0 0 0 0 1 0 45 0 0 0 0", kRefused, "must be finite"},
    };
    for (const auto& row : rows) expectOutcome(dir, row.name, row.scene, row.expected, row.message);
}

// Every numeric token of the worked example replaced in turn by each
// extreme value: never a crash, always one of the two clean outcomes.
TEST(BadInput, ExtremeValuesInEveryField) {
    test::TempDir dir;
    std::vector<std::string> tokens;
    std::istringstream words(test::kWorkedExample);
    for (std::string word; words >> word;) tokens.push_back(word);
    int rendered = 0, refused = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == "solid" || tokens[i] == "checker" || tokens[i] == "sphere" ||
            tokens[i] == "disc")
            continue;
        for (const char* value : {"nan", "inf", "1e308", "-1e308"}) {
            std::string scene;
            for (std::size_t j = 0; j < tokens.size(); ++j)
                scene += (j == i ? value : tokens[j]) + " ";
            SCOPED_TRACE("token " + std::to_string(i) + " = " + value);
            const test::RunResult run = render(dir, scene);
            (run.status == EXIT_OK ? rendered : refused)++;
        }
    }
    EXPECT_GT(rendered, 100);
    EXPECT_GT(refused, 10);
}

TEST(BadInput, FileTruncatedAnywhere) {
    test::TempDir dir;
    const std::string worked = test::kWorkedExample;
    for (std::size_t cut = 0; cut <= worked.size(); cut += 5) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const test::RunResult run = render(dir, worked.substr(0, cut));
        // A cut inside a type word leaves an unknown word instead.
        if (cut < worked.size() - 1) {
            EXPECT_TRUE(run.err.find("file ends early") != std::string::npos ||
                        run.err.find("unknown") != std::string::npos)
                << run.err;
        }
    }
}

// A scene on a pipe reads like a file, positions included; an endless
// stream is refused instead of filling the disk.
TEST(BadInput, ScenesFromPipes) {
    test::TempDir dir;
    const std::string scene = dir.write("scene.txt", "0 1 6 0 0 0 0 1 0 45 x");
    const std::string out = dir.path("out.ppm");
    test::RunResult run =
        test::runFotolume({"/dev/stdin", out, "8", "6"}, "", "cat '" + scene + "'");
    EXPECT_EQ(run.status, EXIT_OK);
    EXPECT_EQ(
        run.err.rfind("/dev/stdin:1:22: warning: expected an integer for the number of lights", 0),
        0u)
        << run.err;

    run = test::runFotolume({"/dev/stdin", out + "2", "8", "6"}, "", "yes");
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_NE(run.err.find("a scene read from a stream must be at most"), std::string::npos);
    EXPECT_FALSE(test::exists(out + "2"));
}

TEST(BadInput, OutputPathsThatCannotBeWritten) {
    test::TempDir dir;
    const std::string scene = dir.write("scene.txt", test::kWorkedExample);
    const std::vector<std::string> outputs = {dir.path("missing/out.ppm"), dir.path("")};
    for (const std::string& out : outputs) {
        const test::RunResult run = test::runFotolume({scene, out, "8", "6"});
        EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
        EXPECT_EQ(run.out, "Can't open file " + out + " \n");
    }
    EXPECT_FALSE(test::exists(dir.path("missing")));

    if (geteuid() != 0) {  // root may write anything
        const std::string locked = dir.write("locked.ppm", "keep");
        chmod(locked.c_str(), 0444);
        const test::RunResult run = test::runFotolume({scene, locked, "8", "6"});
        EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
        EXPECT_EQ(test::readFile(locked), "keep");
    }
}

}  // namespace
}  // namespace fotolume
