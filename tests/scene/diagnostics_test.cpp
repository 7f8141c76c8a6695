// What the reader says about broken scenes, and about mistakes that break
// no token.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "scene/scene.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using test::kWorkedExample;
using test::loadScene;

// The worked example with each piece of text replaced in turn.
std::string editedAll(const std::vector<std::pair<std::string, std::string>>& edits) {
    std::string scene = kWorkedExample;
    for (const auto& edit : edits)
        scene.replace(scene.find(edit.first), edit.first.size(), edit.second);
    return scene;
}

// The worked example with one piece of text replaced.
std::string edited(const std::string& from, const std::string& to) {
    return editedAll({{from, to}});
}

// The text with every `from` character made `to`: a scene laid out anew.
std::string swapped(std::string text, char from, char to) {
    for (char& c : text)
        if (c == from) c = to;
    return text;
}

// Broken scenes as users break them: the first diagnostic names the token
// reading stuck on and how many values that cost, a note points at the row
// that broke the one-row-per-line layout (never in a file laid out
// otherwise), and the end says what was read and that nothing will show.
TEST(SceneReader, BrokenScenesLeadToTheCause) {
    const std::string nothing =
        "scene: warning: no objects were read, so the image will be only the background color\n";
    const std::string oneLine = swapped(edited("1 0.7", "1 0,75"), '\n', ' ');
    const struct {
        const char* name;
        std::string text;
        std::string expected;
    } rows[] = {
        {"a value missing on line 7", edited("1 1 1 1 0 0\n", "1 1 1 1 0\n"),
         "scene:9:1: warning: expected an integer for the number of pigments, found 'solid'; "
         "reading stuck on this token, so it and every value after it (3 in all) were not read "
         "and keep their start value, 0\n"
         "scene:7:1: note: light 1 runs on to line 8, while the rows before it each fill one "
         "line: a value is probably missing from line 7\n" +
             nothing +
             "scene: note: lines 10-15 were not read as the rows they hold\n"
             "scene: note: read 2 lights, 0 pigments, 0 finishes and 0 objects\n"},
        {"an extra value on line 7", edited("1 1 1 1 0 0\n", "1 1 1 1 0 0 0\n"),
         "scene:9:1: warning: expected a real number for ambient of finish 0, found 'solid'; "
         "reading stuck on this token, so it and every value after it (15 in all) were not read "
         "and keep their start value, 0\n"
         "scene:7:1: note: light 1 ends before the end of line 7, while the rows before it each "
         "fill one line: line 7 probably holds an extra value\n" +
             nothing +
             "scene: note: lines 10-15 were not read as the rows they hold; 0 finishes of the 2 "
             "the count asks for were read before line 9\n"
             "scene: note: read 2 lights, 0 pigments, 0 finishes (of 2) and 0 objects\n"},
        {"a decimal comma", edited("1 0.7", "1 0,75"),
         "scene:12:4: warning: expected a real number for specular of finish 0, found ',75'; "
         "reading stuck on this token, so it and every value after it (6 in all) were not read "
         "and keep their start value, 0\n" +
             nothing +
             "scene: note: lines 13-15 were not read as the rows they hold; 0 finishes of the 1 "
             "the count asks for were read before line 12\n"
             "scene: note: read 2 lights, 2 pigments, 0 finishes (of 1) and 0 objects\n"},
        {"the same, all on one line: no layout note", oneLine,
         "scene:1:112: warning: expected a real number for specular of finish 0, found ',75'; "
         "reading stuck on this token, so it and every value after it (6 in all) were not read "
         "and keep their start value, 0\n" +
             nothing + "scene: note: read 2 lights, 2 pigments, 0 finishes (of 1) and 0 objects\n"},
        {"a capital type word", edited("solid", "Solid"),
         "scene:9:1: warning: unknown pigment type 'Solid' for pigment 0 (expected solid, checker "
         "or gradient); no values are read for this row\n"
         "scene:9:7: warning: unknown pigment type '1' for pigment 1 (expected solid, checker or "
         "gradient); no values are read for this row\n" +
             nothing +
             "scene: note: lines 10-15 were not read as the rows they hold; 0 pigments of the 2 "
             "the count asks for were read before line 9\n"
             "scene: note: read 2 lights, 0 pigments (of 2), 0 finishes and 0 objects\n"},
        {"a word that a type word takes", edited("0 0 sphere 0 0 0 1", "0 0 sphere 0 0 0 x"),
         "scene:14:18: warning: expected a real number for the radius of object 0 (sphere), "
         "found 'x'; reading stuck on this token until a type word took it, so it and the 2 "
         "values after it were not read and keep their start value, 0\n"
         "scene:14:18: warning: unknown object type 'x' for object 1 (expected sphere, triangle, "
         "disc, mesh or smooth); no values are read for this row\n"
         "scene: note: line 15 was not read as the row it holds; 0 objects of the 2 the count "
         "asks for were read before line 14\n"
         "scene: note: read 2 lights, 2 pigments, 1 finish and 0 objects (of 2)\n"},
        {"no objects", edited("2\n0 0 sphere 0 0 0 1\n1 0 disc 0 -1 0 5 0 1 0\n", "0\n"),
         nothing + "scene: note: read 2 lights, 2 pigments, 1 finish and 0 objects\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        bool accepted = false;
        EXPECT_EQ(loadScene(row.text, 4, 3, &accepted), row.expected);
        EXPECT_TRUE(accepted);
    }
}

// Mistakes that no token reveals, each said at its line, by a render and by
// --check alike: a render goes on (status 0) with the same image as before;
// --check writes nothing and exits 1 on a warning (0 on a note alone). A
// file laid out freely gets no layout note; a clean one gets nothing.
TEST(SceneReader, SilentMistakesAreSaidAtTheirLine) {
    const std::string summary = "scene: note: read 2 lights, 2 pigments, 1 finish and 2 objects\n";
    const std::string freeLayout =
        swapped(edited("sphere 0 0 0 1", "sphere 0 0 0 0.03"), '\n', ' ');
    const std::string oneValuePerLine = swapped(kWorkedExample, ' ', '\n');
    const struct {
        const char* name;
        std::string text;
        std::string expected;
        int checkStatus;
    } rows[] = {
        {"a row past the count", std::string(kWorkedExample) + "0 0 sphere 2 0 0 1\n",
         "scene:16:1: warning: text after the last row the counts ask for is not read: does a "
         "count miss a row? (the number of objects, 2, is on line 13)\n" +
             summary,
         1},
        {"a finish that lost its ior", edited("1 0.7 0.3 20 0 0 1", "1 0.7 0.3 20 0 0"),
         "scene:14:3: warning: text after the last row the counts ask for is not read: does a "
         "count miss a row? (the number of objects, 0, is on line 14)\n"
         "scene: warning: no objects were read, so the image will be only the background color\n"
         "scene:12:1: note: finish 0 runs on to line 13, while the rows before it each fill one "
         "line: a value is probably missing from line 12\n"
         "scene: note: read 2 lights, 2 pigments, 1 finish and 0 objects\n",
         1},
        {"nan in an object", edited("sphere 0 0 0 1", "sphere 0 nan 0 1"),
         "scene:14:14: warning: centre y of object 0 (sphere) is nan, not a finite number, so "
         "object 0 cannot render sensibly\n" +
             summary,
         1},
        {"inf twice in one light", edited("10 10 10 1 1 1", "10 inf 10 1 -inf 1"),
         "scene:7:4: warning: position y of light 1 is inf, not a finite number, so light 1 "
         "cannot render sensibly\n" +
             summary,
         1},
        {"a sphere too small to hit", edited("sphere 0 0 0 1", "sphere 0 0 0 0.03"),
         "scene:14:1: warning: object 0 (sphere) can never be hit: a radius of 0.03 is below "
         "0.0316227766016838, the least a ray can meet (its square must be at least 0.001)\n" +
             summary,
         1},
        {"a sphere a hair too small", edited("sphere 0 0 0 1", "sphere 0 0 0 0.03162277660168379"),
         "scene:14:1: warning: object 0 (sphere) can never be hit: a radius of "
         "0.03162277660168379 is below 0.0316227766016838, the least a ray can meet (its square "
         "must be at least 0.001)\n" +
             summary,
         1},
        {"a small sphere drawn smaller", edited("sphere 0 0 0 1", "sphere 0 0 0 0.05"),
         "scene:14:1: note: object 0 (sphere) of radius 0.05 is drawn with radius 0.0387, 77% of "
         "it (rays must cross a sphere by more than a small margin)\n",
         0},
        {"a triangle with two equal corners",
         edited("sphere 0 0 0 1", "triangle 0 0 0 0 0 0 1 1 1"),
         "scene:14:1: warning: object 0 (triangle) can never be hit: two of its corners are the "
         "same point\n" +
             summary,
         1},
        {"a triangle on a line", edited("sphere 0 0 0 1", "triangle 0 0 0 1 2 3 2 4 6"),
         "scene:14:1: warning: object 0 (triangle) can never be hit: its three corners lie on "
         "one line\n" +
             summary,
         1},
        {"a disc without a normal", edited("5 0 1 0", "5 0 0 0"),
         "scene:15:1: warning: object 1 (disc) can never be hit: its normal is (0, 0, 0)\n" +
             summary,
         1},
        {"free layout: the warning, no layout note", freeLayout,
         "scene:1:130: warning: object 0 (sphere) can never be hit: a radius of 0.03 is below "
         "0.0316227766016838, the least a ray can meet (its square must be at least 0.001)\n" +
             summary,
         1},
        {"a light with no fall-off at all", edited("10 10 10 1 1 1 1 0 0", "10 10 10 1 1 1 0 0 0"),
         "scene:7:1: warning: light 1 has attenuation 0 0 0: 1 / (a + b d + c d^2) is infinite "
         "at every distance, and every point it reaches is blown out (1 0 0 is no fall-off)\n" +
             summary,
         1},
        {"a light inside the sphere", edited("10 10 10 1 1 1 1 0 0", "0 0.5 0 1 1 1 1 0 0"),
         "scene:7:1: warning: light 1 lies inside object 0 (sphere), which lets no light "
         "through: it lights nothing outside that sphere\n" +
             summary,
         1},
        {"a backdrop sphere around everything", edited("sphere 0 0 0 1", "sphere 0 0 0 100"),
         "scene:14:1: warning: object 0 (sphere) encloses the eye and every light: the shadow "
         "test looks along the whole half-line through a light, so the sphere shadows every "
         "point and the image is dark; for a backdrop give --background R,G,B instead\n" +
             summary,
         1},
        {"one value a line, clean", oneValuePerLine, "", 0},
    };
    test::TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        bool accepted = false;
        EXPECT_EQ(loadScene(row.text, 4, 3, &accepted), row.expected);
        EXPECT_TRUE(accepted);
        const std::string scene = dir.write("scene", row.text);
        std::string said = row.expected;
        for (std::size_t at = 0; (at = said.find("scene", at)) != std::string::npos;
             at += scene.size())
            said.replace(at, 5, scene);
        const test::RunResult check = test::runFotolume({"--check", scene});
        EXPECT_EQ(check.status, row.checkStatus);
        EXPECT_EQ(check.err, said);
        EXPECT_EQ(check.out, "");
        EXPECT_EQ(test::listing(dir), "scene");
        const test::RunResult render = test::runFotolume({scene, dir.path("out.ppm"), "8", "6"});
        EXPECT_EQ(render.status, 0);
        EXPECT_EQ(render.err, said);
        std::remove(dir.path("out.ppm").c_str());
    }
    // Notes past the limit are counted, as warnings are.
    std::string many = "0 0 5 0 0 0 0 1 0 45 0 1 solid 1 1 1 1 1 0 0 0 0 0 1 25\n";
    for (int i = 0; i < 25; ++i) many += "0 0 sphere " + std::to_string(i) + " 0 0 0.05\n";
    const std::string said = loadScene(many);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 21) << said;
    EXPECT_NE(said.find("\nscene: note: 5 more notes not shown\n"), std::string::npos) << said;

    // The row past the count changes nothing in the image.
    const std::string scene = dir.write("scene", rows[0].text);
    EXPECT_EQ(test::runFotolume({scene, "-", "8", "6"}).out,
              test::runFotolume({dir.write("clean", kWorkedExample), "-", "8", "6"}).out);
}

// --check --dump: every row as read, the shifted ones included, with the
// values each landed on; the diagnostics go to standard error as ever.
TEST(SceneReader, DumpShowsEveryRowAsRead) {
    test::TempDir dir;
    const std::string scene =
        dir.write("every.txt",
                  "0 1 6\n0 0 0\n0 1 0\n45\n2\n0 0 0 0.2 0.2 0.2 1 0 0\n10 10 10 1 1 1 1 0 0.5\n"
                  "3\nsolid 1 0 0\nchecker 1 1 1 0 0 0 0.5\ngradient 0 -1 0 0 2 0 1 0.5 0 0 0 1\n"
                  "1\n1 0.7 0.3 20 0 0 1\n"
                  "4\n0 0 sphere 0 0 0 1\n1 0 disc 0 -1 0 5 0 1 0\n2 0 triangle 0 0 0 1 0 0 0 1 0\n"
                  "0 0 shpere 1 2 3 4\n");
    const test::RunResult run = test::runFotolume({"--check", "--dump", scene});
    EXPECT_EQ(run.status, 1);  // the unknown word is a warning
    EXPECT_EQ(run.out,
              "1:1: the eye point: 0 1 6\n"
              "2:1: the look-at point: 0 0 0\n"
              "3:1: the up vector: 0 1 0\n"
              "4:1: the field of view: 45\n"
              "5:1: the number of lights: 2\n"
              "6:1: light 0: position 0 0 0, color 0.2 0.2 0.2, attenuation 1 0 0\n"
              "7:1: light 1: position 10 10 10, color 1 1 1, attenuation 1 0 0.5\n"
              "8:1: the number of pigments: 3\n"
              "9:1: pigment 0: 'solid', color 1 0 0\n"
              "10:1: pigment 1: 'checker', colors 1 1 1 and 0 0 0, cell size 0.5\n"
              "11:1: pigment 2: 'gradient', origin 0 -1 0, direction 0 2 0, colors 1 0.5 0 and 0 "
              "0 1\n"
              "12:1: the number of finishes: 1\n"
              "13:1: finish 0: ambient 1, diffuse 0.7, specular 0.3, shininess 20, reflection 0, "
              "transmission 0, ior 1\n"
              "14:1: the number of objects: 4\n"
              "15:1: object 0: pigment 0, finish 0, 'sphere', centre 0 0 0, radius 1\n"
              "16:1: object 1: pigment 1, finish 0, 'disc', centre 0 -1 0, radius 5, normal 0 1 0\n"
              "17:1: object 2: pigment 2, finish 0, 'triangle', corners 0 0 0, 1 0 0, 0 1 0\n"
              "18:1: object 3: pigment 0, finish 0, 'shpere', no type: no values read\n");
    EXPECT_NE(run.err.find("unknown object type 'shpere'"), std::string::npos) << run.err;
    // Without --check it only says it does nothing.
    const test::RunResult render = test::runFotolume({"--dump", scene, "-", "4", "3"});
    EXPECT_NE(render.err.find("--dump has no effect without --check"), std::string::npos);
}

}  // namespace
}  // namespace fotolume

namespace fotolume {
namespace {

// "LINE:COLUMN: text" for each finding of the second look.
std::vector<std::string> laterOf(const std::string& text, long after) {
    std::vector<std::string> said;
    for (const LaterFinding& f : laterMistakes(text, after))
        said.push_back(std::to_string(f.line) + ":" + std::to_string(f.column) + ": " + f.text);
    return said;
}

// A scene of random tables, one row a line, with comments and a mesh row
// over several lines: every row fits, so the second look finds nothing.
std::string randomScene(unsigned seed) {
    std::mt19937 rng(seed);
    auto n = [&](int most) {
        return std::to_string(std::uniform_int_distribution<>(0, most)(rng));
    };
    auto values = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += (i ? " " : "") + n(9) + "." + n(99);
        return text;
    };
    std::string s = values(3) + "\n" + values(3) + "  # look-at\n0 1 0\n45\n";
    const int lights = 1 + seed % 4, pigments = 1 + seed % 3, objects = 1 + seed % 6;
    s += std::to_string(lights) + "\n";
    for (int i = 0; i < lights; ++i) s += values(9) + (i % 2 ? "#light\n" : "\n");
    static const char* const pigment[] = {"solid", "checker", "gradient"};
    static const int pigmentWidth[] = {3, 7, 12};
    s += std::to_string(pigments) + "\n";
    for (int i = 0; i < pigments; ++i)
        s += pigment[i % 3] + (" " + values(pigmentWidth[i % 3])) + "\n";
    s += "# finishes\n1\n" + values(7) + "\r\n" + std::to_string(objects) + "\n";
    static const char* const object[] = {"sphere", "triangle", "disc"};
    static const int objectWidth[] = {4, 9, 7};
    for (int i = 0; i < objects; ++i) {
        if (i == 2) {
            s += "0 0 smooth 3\n" + values(6) + "\n" + values(6) + "\n" + values(6) + "\n1 0 1 2\n";
            continue;
        }
        s += "0 0 " + std::string(object[i % 3]) + " " + values(objectWidth[i % 3]) + "\n";
    }
    return s;
}

// After the first mistake the lines still say where each row stands: every
// later row that does not fit its section is found, at its line and
// column, and none on a scene whose rows all fit (the bundled scenes, the
// benchmarks', random ones).
TEST(SceneReader, EveryMistakeInOneCheck) {
    const std::string shortAndLong =
        editedAll({{"0 0 0 0.5\n", "0 0 0\n"}, {"0 0 1\n2\n", "0 0 1 5\n2\n"}});
    const std::string threeMistakes =
        editedAll({{"1 1 1 1 0 0\n", "1 1 1 1 0\n"}, {"sphere", "shpere"}}) +
        "0 0 sphere 1 1 1 0.5\n";
    const struct {
        const char* name;
        std::string text;
        long after;
        std::vector<std::string> found;
    } rows[] = {
        {"a pigment short of its size, a finish with one value too many",
         shortAndLong,
         0,
         {"10:1: pigment 1 checker has 6 values on its line, not 7: one is missing?",
          "12:1: finish 0 has 8 values on its line, not 7: one too many?"}},
        {"the same, said only past the first mistake",
         shortAndLong,
         10,
         {"12:1: finish 0 has 8 values on its line, not 7: one too many?"}},
        {"a misspelt pigment, a disc short of a value",
         editedAll({{"solid", "Solid"}, {"5 0 1 0\n", "5 0 1\n"}}),
         0,
         {"9:1: unknown pigment type 'Solid' for pigment 0 (expected solid, checker or gradient)",
          "15:1: object 1 disc has 6 values on its line, not 7: one is missing?"}},
        {"a count too high, a decimal comma",
         editedAll({{"2\n0 0 0 0.2", "3\n0 0 0 0.2"}, {"1 0.7", "1 0,7"}}),
         0,
         {"8:1: the number of lights on line 5 is 3, but 2 rows follow",
          "12:3: '0,7' in finish 0 is not a number"}},
        {"a missing count, then a count too high",
         editedAll({{"2\nsolid", "solid"}, {"2\n0 0 sphere", "3\n0 0 sphere"}}),
         0,
         {"8:1: a row of the pigments where light 2 or the count of the pigments should stand: "
          "is that count missing?",
          "14:1: the number of objects on line 12 is 3, but 2 rows follow"}},
        {"a mesh with one value too many, a pigment named by a word, an extra row",
         editedAll({{"0 0 sphere 0 0 0 1\n",
                     "0 0 mesh 3\n0 0 0 1 0 0\n0 1 0\n1 0 1 2 7\nx 0 sphere 0 0 0 1\n"}}),
         0,
         {"17:9: object 0 has more values than its counts ask for: '7' is one too many",
          "18:1: object 1 names its pigment by 'x', not by a row number",
          "19:1: one more object row than the number of objects on line 13, 2, asks for"}},
        {"a light short, a misspelt object, an extra object",
         threeMistakes,
         0,
         {"7:1: light 1 has 8 values on its line, not 9: one is missing?",
          "14:5: unknown object type 'shpere' for object 0 (expected sphere, triangle, disc, "
          "mesh or smooth)",
          "16:1: one more object row than the number of objects on line 13, 2, asks for"}},
        {"a light split over two lines is no mistake",
         editedAll({{"0 0 0 0.2 0.2 0.2 1 0 0\n", "0 0 0 0.2 0.2 0.2\n1 0 0\n"}}),
         0,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(laterOf(row.text, row.after), row.found);
    }

    // One --check names all three mistakes: the first as reading finds it,
    // the other two as found after it.
    test::TempDir dir;
    const test::RunResult check =
        test::runFotolume({"--check", dir.write("three.txt", threeMistakes)});
    EXPECT_EQ(check.status, 1);
    for (const char* expected :
         {"three.txt:7:1: note: light 1 runs on to line 8",
          "three.txt:14:5: warning: after the first mistake (less certain): unknown object type "
          "'shpere'",
          "three.txt:16:1: warning: after the first mistake (less certain): one more object row"})
        EXPECT_NE(check.err.find(expected), std::string::npos) << expected << "\n" << check.err;
    // A render stops at the first mistake and says nothing more.
    const test::RunResult render =
        test::runFotolume({dir.path("three.txt"), dir.path("out.ppm"), "4", "3"});
    EXPECT_EQ(render.err.find("after the first mistake"), std::string::npos) << render.err;

    for (const char* scene :
         {"scenes/example.txt", "scenes/axes.txt", "scenes/finishes.txt", "scenes/glass.txt",
          "scenes/mesh.txt", "scenes/mirrors.txt", "scenes/showcase.txt", "scenes/smooth.txt",
          "bench/scenes/mesh.txt", "bench/scenes/recursion.txt", "bench/scenes/spheres.txt",
          "bench/scenes/thin.txt"}) {
        SCOPED_TRACE(scene);
        EXPECT_EQ(laterOf(test::readFile(test::sourcePath(scene)), 0), std::vector<std::string>{});
    }
    for (unsigned seed = 0; seed < 40; ++seed) {
        SCOPED_TRACE(seed);
        const std::string scene = randomScene(seed);
        EXPECT_EQ(laterOf(scene, 0), std::vector<std::string>{}) << scene;
        EXPECT_EQ(loadScene(scene), "") << scene;  // reading agrees that it is sound
    }
}

}  // namespace
}  // namespace fotolume
