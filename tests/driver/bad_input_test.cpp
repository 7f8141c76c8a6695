// Hostile and broken input against the built binary: every row either
// renders (exit 0, a complete image) or says what is wrong (exit 1 or 2, an
// error message, no image), and never crashes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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
        {"11 lights, no rows", kCamera + "11", kRefused,
         ":2:1: error: 11 lights are counted here, but only 0 complete rows follow"},
        {"21 pigments, no rows", kCamera + "0 21", kRefused,
         ":2:3: error: 21 pigments are counted here, but only 0 complete rows follow"},
        {"51 finishes, no rows", kCamera + "0 0 51", kRefused,
         "51 finishes are counted here, but only 0 complete rows follow"},
        {"201 objects, no rows", kCamera + "0 0 0 201", kRefused,
         "201 objects are counted here, but only 0 complete rows follow"},
        {"huge count", kCamera + "99999999999999999999999", kRefused,
         ":2:1: error: more than 2147483647 lights, but a table holds at most 2147483647 rows"},
        {"a count one past the int range", kCamera + "0 2147483648", kRefused,
         ":2:3: error: more than 2147483647 pigments, but"},
        {"the largest int count", kCamera + "0 0 2147483647", kRefused,
         ":2:5: error: 2147483647 finishes are counted here, but only 0 complete rows follow"},
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
        {"huge eye", "1e200 0 5 0 0 0 0 1 0 45 0 0 0 0", kRefused, "beyond about 1e154"},
        // Only the rounding residue of a parallel up vector is refused.
        {"up nearly along the view", "0 0 5 0 0 0 0 1e-9 1 45 " + tables + "1 0 0 sphere 0 0 0 1",
         kRenders, ""},
        {"up along the view but for rounding", "0 0 5 0 0 0 0 1e-13 1 45 0 0 0 0", kRefused,
         "no component across the viewing direction"},
        // A lone CR ends a line as LF and CRLF do.
        {"lone CR line ends", "0 1 6\r0 0 0\r0 1 0\rfov 0 0 0 0", kRefused,
         "scene.txt:4:1: warning: expected a real number for the field of view, found 'fov'"},
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

// Every source of a scene is bounded: a pipe, standard input and a regular
// file read like a file (positions included) up to the limit (1024 MiB, or
// --scene-limit's), and anything longer is refused as soon as the bound is
// passed, without a temporary copy.
TEST(BadInput, ScenesFromEverySourceAreBounded) {
    test::TempDir dir;
    const std::string scene = dir.write("scene.txt", "0 1 6 0 0 0 0 1 0 45 x");
    const std::string out = dir.path("out.ppm");
    for (const char* name : {"/dev/stdin", "-"}) {
        const test::RunResult run =
            test::runFotolume({name, out, "8", "6"}, "", "cat '" + scene + "'");
        EXPECT_EQ(run.status, EXIT_OK);
        EXPECT_EQ(run.err.rfind(std::string(name) +
                                    ":1:22: warning: expected an integer for the number of lights, "
                                    "found 'x'",
                                0),
                  0u)
            << run.err;
    }

    const std::string tooLarge =
        ": error: the scene is larger than 64 MiB, the most that is read (--scene-limit MIB "
        "raises it); nothing was read\n";
    const struct {
        const char* name;
        const char* prefix;
        std::string feed;
        std::string source;
    } endless[] = {
        {"endless pipe", "", "yes", "-"},
        {"valid start, then zeros", "", "cat '" + scene + "' /dev/zero", "/dev/stdin"},
        {"a device", "", "", "/dev/zero"},
    };
    for (const auto& row : endless) {
        SCOPED_TRACE(row.name);
        std::remove(out.c_str());
        const test::RunResult run = test::runFotolume(
            {"--scene-limit", "64", row.source, out, "8", "6"}, row.prefix, row.feed);
        EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
        EXPECT_EQ(run.err, row.source + tooLarge);
        EXPECT_FALSE(test::exists(out));
    }

    // A file whose system gives no size for it is read all the same.
    if (test::exists("/proc/self/status")) {
        const test::RunResult run = test::runFotolume({"--check", "/proc/self/status"});
        EXPECT_NE(run.err.find("status:1:1: warning: expected a real number for x of the eye "
                               "point, found 'Name:'"),
                  std::string::npos)
            << run.err;
    }

    // A sparse 20 GiB file after a valid start: refused after the limit,
    // the default one too.
    const std::string sparse = dir.write("sparse.txt", test::kWorkedExample);
    ASSERT_EQ(truncate(sparse.c_str(), 20LL << 30), 0);
    test::RunResult run = test::runFotolume({"--scene-limit=64", sparse, out, "8", "6"});
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.err, sparse + tooLarge);
#ifndef FOTOLUME_SANITIZED
    run = test::runFotolume({sparse, out, "8", "6"});
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.err, sparse +
                           ": error: the scene is larger than 1024 MiB, the most that is read "
                           "(--scene-limit MIB raises it); nothing was read\n");
#endif
}

// A file is read a page at a time, once for its values and once more for
// the positions of its rows and diagnostics, however many diagnostics: the
// bytes the run reads (the shell's I/O count, which takes in its reaped
// child) stay below three times the file's size with 20 bad tokens after
// 20 MiB of blanks.
TEST(BadInput, DiagnosticsReadTheFileOnce) {
    test::TempDir dir;
    std::string text = "0 1 6 0 0 0 0 1 0 45 0 20" + std::string(20 << 20, ' ');
    for (int i = 0; i < 20; ++i) text += " bad" + std::to_string(i);
    const std::string scene = dir.write("scene.txt", text);
    const std::string command = "'" + std::string(FOTOLUME_BINARY) + "' '" + scene +
                                "' /dev/null 4 3 2>/dev/null; grep rchar /proc/$$/io";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    long long bytes = 0;
    ASSERT_EQ(std::fscanf(pipe, "rchar: %lld", &bytes), 1);
    pclose(pipe);
    EXPECT_GT(bytes, static_cast<long long>(text.size()));
    EXPECT_LT(bytes, 3 * static_cast<long long>(text.size()));
}

// File names in diagnostics are escaped as tokens are; an image that would
// overwrite its own scene, through any link, is refused.
TEST(BadInput, NamesAreEscapedAndTheSceneIsNeverItsOwnImage) {
    test::TempDir dir;
    const std::string odd = dir.write("a\x1b[31mb\nc.txt", "0 1 6 0 0 0 0 1 0 45 x");
    test::RunResult run = test::runFotolume({odd, dir.path("out.ppm"), "8", "6"});
    EXPECT_EQ(run.err.rfind(dir.path("a\\x1B[31mb\\x0Ac.txt:1:22: warning:"), 0), 0u) << run.err;

    const std::string scene = dir.write("scene.txt", test::kWorkedExample);
    ASSERT_EQ(symlink("scene.txt", dir.path("soft.txt").c_str()), 0);
    ASSERT_EQ(link(scene.c_str(), dir.path("hard.txt").c_str()), 0);
    for (const char* image : {"scene.txt", "soft.txt", "hard.txt"}) {
        run = test::runFotolume({scene, dir.path(image), "8", "6"});
        EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
        EXPECT_EQ(run.err, "fotolume: the image " + dir.path(image) + " is the scene file " +
                               scene +
                               " itself; nothing was written (choose another image name)\n");
        EXPECT_EQ(test::readFile(scene), test::kWorkedExample);
    }
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

namespace fotolume {
namespace {

// A closed standard output is a failure for every mode whose output goes
// there (before any work: a server nobody can find is never started), and
// nothing to the others; messages still go to standard error.
TEST(BadInput, AClosedStandardOutputFailsWhatWritesToIt) {
    test::TempDir dir;
    const std::string scene = test::sourcePath("scenes/example.txt");
    const std::string image = dir.path("out.ppm");
    const struct {
        std::vector<std::string> args;
        int status;
    } rows[] = {
        {{scene, "-", "4", "3"}, EXIT_FAILURE_INPUT},
        {{"--explain", "1,1", scene, "4", "3"}, EXIT_FAILURE_INPUT},
        {{"--explain", "1,1", "--explain-format", "json", scene, "4", "3"}, EXIT_FAILURE_INPUT},
        {{"--check", "--dump", scene}, EXIT_FAILURE_INPUT},
        {{"--serve", scene, "4", "3"}, EXIT_FAILURE_INPUT},
        {{"--version"}, EXIT_FAILURE_INPUT},
        {{"--help"}, EXIT_FAILURE_INPUT},
        {{"--check", scene}, EXIT_OK},
        {{scene, image, "4", "3"}, EXIT_OK},
    };
    for (const auto& row : rows) {
        std::string command = "timeout 20 '" + std::string(FOTOLUME_BINARY) + "'";
        for (const std::string& arg : row.args) command += " '" + arg + "'";
        SCOPED_TRACE(command);
        const int raw = std::system((command + " >&- 2>'" + dir.path("err") + "'").c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, row.status);
        const std::string err = test::readFile(dir.path("err"));
        EXPECT_EQ(err.find("standard output is closed") != std::string::npos,
                  row.status != EXIT_OK)
            << err;
    }
    EXPECT_TRUE(test::exists(image));
#ifdef FOTOLUME_IMPORT_BINARY
    const std::string model = dir.write("m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const std::string importer = std::string("'") + FOTOLUME_IMPORT_BINARY + "' ";
    EXPECT_EQ(WEXITSTATUS(std::system((importer + "'" + model + "' >&- 2>/dev/null").c_str())), 1);
#endif
}

}  // namespace
}  // namespace fotolume
