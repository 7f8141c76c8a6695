#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "scene/scene.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using test::kWorkedExample;
using test::loadScene;

void expectVector(const Vetor& v, double x, double y, double z) {
    EXPECT_EQ(v[0], x);
    EXPECT_EQ(v[1], y);
    EXPECT_EQ(v[2], z);
}

void expectWorkedExample() {
    expectVector(eye, 0, 1, 6);
    EXPECT_EQ(lightCount, 2);
    expectVector(lightColor[0], 0.2, 0.2, 0.2);
    expectVector(lightPosition[1], 10, 10, 10);
    expectVector(lightAttenuation[1], 1, 0, 0);
    EXPECT_EQ(pigmentCount, 2);
    EXPECT_STREQ(pigmentKind[0], "solid");
    EXPECT_EQ(pigmentType[0], PigmentType::Solid);
    expectVector(pigmentColor1[0], 1, 0, 0);
    EXPECT_EQ(pigmentType[1], PigmentType::Checker);
    expectVector(pigmentColor1[1], 1, 1, 1);
    expectVector(pigmentColor2[1], 0, 0, 0);
    EXPECT_EQ(pigmentSize[1], 0.5);
    EXPECT_EQ(finishCount, 1);
    EXPECT_EQ(finishAmbient[0], 1);
    EXPECT_EQ(finishDiffuse[0], 0.7);
    EXPECT_EQ(finishSpecular[0], 0.3);
    EXPECT_EQ(finishShininess[0], 20);
    EXPECT_EQ(finishIor[0], 1);
    EXPECT_EQ(objectCount, 2);
    EXPECT_EQ(objectType[0], ObjectType::Sphere);
    expectVector(objectPointA[0], 0, 0, 0);
    EXPECT_EQ(objectRadius[0], 1);
    EXPECT_EQ(objectPigment[1], 1);
    EXPECT_EQ(objectFinish[1], 0);
    EXPECT_STREQ(objectKind[1], "disc");
    expectVector(objectPointA[1], 0, -1, 0);
    EXPECT_EQ(objectRadius[1], 5);
    expectVector(objectPointB[1], 0, 1, 0);
    // The camera was set up at the end of reading.
    expectVector(cameraBack, 0, 1 / std::sqrt(37.0), 6 / std::sqrt(37.0));
    EXPECT_EQ(traceDepth, 0);
}

TEST(SceneReader, WorkedExampleReadsTheSameOnOneLineOrMany) {
    bool accepted = false;
    EXPECT_EQ(loadScene(kWorkedExample, 4, 3, &accepted), "");
    EXPECT_TRUE(accepted);
    expectWorkedExample();

    std::string oneLine = kWorkedExample;
    for (char& c : oneLine)
        if (c == '\n') c = ' ';
    EXPECT_EQ(loadScene(oneLine, 4, 3, &accepted), "");
    EXPECT_TRUE(accepted);
    expectWorkedExample();

    std::string crlfAndTabs;
    for (char c : std::string(kWorkedExample))
        crlfAndTabs += c == '\n' ? "\r\n\t" : std::string(1, c);
    EXPECT_EQ(loadScene(crlfAndTabs, 4, 3, &accepted), "");
    expectWorkedExample();

    // Rows beyond the counts keep their start values.
    EXPECT_EQ(pigmentKind[2][0], '\0');
    expectVector(objectPointA[2], 0, 0, 0);
    expectVector(backgroundColor, 0.5, 0.5, 0.5);
}

TEST(SceneReader, UnknownTypeWordsReadNoValuesAndWarn) {
    // "Solid" is not "solid": its three numbers are taken as the next rows'
    // type words, and everything after shifts.
    const std::string scene =
        "0 0 5  0 0 0  0 1 0  60\n1 0 0 0 1 1 1 0 0 0\n"
        "2\nSolid 1 0 0\nsolid 0 1 0\n"
        "1\n1 0 0 0 0 0 1\n"
        "1\n0 0 sphere 0 0 0 1\n";
    bool accepted = false;
    const std::string printed = loadScene(scene, 4, 3, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(pigmentType[0], PigmentType::Unknown);
    EXPECT_STREQ(pigmentKind[0], "Solid");
    EXPECT_STREQ(pigmentKind[1], "1");
    expectVector(pigmentColor1[0], 0, 0, 0);
    // The finish count is now "0", the object count "0"... the file drifts.
    EXPECT_EQ(finishCount, 0);
    EXPECT_NE(printed.find("scene:4:1: warning: unknown pigment type 'Solid' for pigment 0"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("scene:4:7: warning: unknown pigment type '1' for pigment 1"),
              std::string::npos)
        << printed;
}

TEST(SceneReader, OverlongAndOddTypeWordsAreNeverRecognised) {
    const std::string head = "0 0 5 0 0 0 0 1 0 60 1 0 0 0 1 1 1 0 0 0 1 ";
    const std::string tail = " 1  1 0 0 0 0 0 1  0";
    bool accepted = false;
    loadScene(head + "gradient9" + tail, 4, 3, &accepted);  // 9 characters fit
    EXPECT_TRUE(accepted);
    EXPECT_STREQ(pigmentKind[0], "gradient9");
    EXPECT_EQ(pigmentType[0], PigmentType::Unknown);

    const std::string printed = loadScene(head + "solidsolid" + tail, 4, 3, &accepted);
    EXPECT_STREQ(pigmentKind[0], "solidsoli");
    EXPECT_EQ(pigmentType[0], PigmentType::Unknown);
    EXPECT_NE(printed.find("'solidsolid'"), std::string::npos) << printed;

    // A NUL after "solid" in a 10-character word must not make it "solid".
    std::string nul = head + "solid" + std::string(1, '\0') + "xxxx" + tail;
    const std::string nulPrinted = loadScene(nul, 4, 3, &accepted);
    EXPECT_EQ(pigmentType[0], PigmentType::Unknown);
    EXPECT_NE(nulPrinted.find("'solid\\x00xxxx'"), std::string::npos) << nulPrinted;

    const std::string huge = loadScene(head + std::string(500, 'w') + tail, 4, 3, &accepted);
    EXPECT_EQ(pigmentType[0], PigmentType::Unknown);
    EXPECT_NE(huge.find("'" + std::string(40, 'w') + "...'"), std::string::npos) << huge;
}

TEST(SceneReader, TruncatedFileLeavesZerosAndWarnsOnceWhereItEnds) {
    std::string scene = kWorkedExample;
    scene = scene.substr(0, scene.find("1 0 disc") + 8);  // ends after "disc"
    bool accepted = false;
    const std::string printed = loadScene(scene, 4, 3, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(objectType[1], ObjectType::Disc);
    expectVector(objectPointA[1], 0, 0, 0);
    EXPECT_EQ(objectRadius[1], 0);
    EXPECT_EQ(printed,
              "scene:15:9: warning: file ends early: expected a real number for centre x of "
              "object 1 (disc); it and every later value keep their start value, 0\n"
              "scene: note: read 2 lights, 2 pigments, 1 finish and 1 object (of 2)\n");
}

TEST(SceneReader, ValuesThatDoNotConvertKeepTheirTargetAndArePlaced) {
    // A word where a number belongs stops every later number on the same
    // token (as fscanf does); it is reported once, with its position.
    const std::string scene =
        "0 0 5 0 0 0 0 1 0 60\n"
        "1\n"
        "\t0 0 0 x 1 1 1 0 0\r\n"
        "1 solid 1 0 0 1 1 0 0 0 0 0 1 1 0 0 sphere 0 0 0 1\n";
    const std::string printed = loadScene(scene);
    EXPECT_NE(printed.find("scene:3:8: warning: expected a real number for color red of light 0, "
                           "found 'x'"),
              std::string::npos)
        << printed;
    // Everything after it failed on the same 'x' until a word read took it.
    EXPECT_EQ(lightColor[0][0], 0);
    EXPECT_EQ(pigmentCount, 0);

    // Warnings are capped at 20 lines and a count of the rest.
    std::string many = "0 0 5 0 0 0 0 1 0 60 0 20 ";
    for (int i = 0; i < 20; ++i) many += "bad" + std::to_string(i) + " ";
    many += "x";
    bool accepted = false;
    const std::string capped = loadScene(many, 4, 3, &accepted);
    EXPECT_TRUE(accepted);
    // 20 lines, then the count of the rest (the 21st word and "no objects").
    EXPECT_EQ(std::count(capped.begin(), capped.end(), '\n'), 22) << capped;
    EXPECT_NE(capped.find("\nscene: note: 2 more warnings not shown\n"), std::string::npos)
        << capped;

    loadScene("0 0 5 0 0 0 0 1 0 60 0 21", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
}

TEST(SceneReader, PositionsForFirstTokenLastTokenAndEndOfFile) {
    bool accepted = false;
    std::string printed = loadScene("eye 0 5", 4, 3, &accepted);
    EXPECT_EQ(printed.rfind("scene:1:1: warning: expected a real number for x of the eye point, "
                            "found 'eye'",
                            0),
              0u)
        << printed;
    EXPECT_FALSE(accepted);  // nothing else converts: no camera

    std::string scene = kWorkedExample;
    scene.replace(scene.rfind("0\n"), 1, "o");  // last token of the file
    printed = loadScene(scene, 4, 3, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_NE(printed.find("scene:15:23: warning: expected a real number for normal z of object 1 "
                           "(disc), found 'o'"),
              std::string::npos)
        << printed;

    printed = loadScene("0 1 6\r\n0 0 0\r\n0 1 0\r\n45\r\n", 4, 3, &accepted);
    EXPECT_NE(printed.find("scene:5:1: warning: file ends early: expected an integer for the "
                           "number of lights"),
              std::string::npos)
        << printed;
}

// Positions count lines by '\n' only and columns by bytes, a tab as one.
TEST(SceneReader, PositionsSurviveCrlfAndTabs) {
    const std::string tail = "0 0 0 0";  // no lights, pigments, finishes, objects
    const struct {
        std::string text;
        std::string expected;
    } rows[] = {
        {"x 1 6 0 0 0 0 1 0 45 " + tail,
         "scene:1:1: warning: expected a real number for x of the eye point, found 'x'"},
        {"0 1 6\r\n0 0 0\r\n0 1 0\r\nfov " + tail,
         "scene:4:1: warning: expected a real number for the field of view, found 'fov'"},
        {"0 1 6\r\n\t0\t0\t?\r\n0 1 0 45 " + tail,
         "scene:2:6: warning: expected a real number for z of the look-at point, found '?'"},
        {"0 1 6 0 0 0 0 1 0 45\r\n0 1 solid 1 1 1 1 1 0 0 0 0 0 1\r\n1\r\n\t\t0 0 sphere 0 0 0 "
         "zero",
         "scene:4:20: warning: expected a real number for the radius of object 0 (sphere), found "
         "'zero'"},
        {"0 1 6 0 0 0 0 1 0 45\r\n0 0 0",
         "scene:2:6: warning: file ends early: expected an integer for the number of objects"},
        {"0 1 6\n0 0 0\n0 1 0\n45\n1\n0 0 0 1 1 1 0 0 0\n5 5 5 1 1 1 1 0 0\n1\nsolid 1 1 1\n"
         "1\n1 0 0 0 0 0 1\n0\n",
         "scene:5:1: warning: the number of lights is 1, but line 7 holds one more light row: "
         "should the count be 2?\n"},
        {"0 1 6\n0 0 0\n0 1 0\n45\n1\n0 0 0 1 1 1 0 0 0\n0\n2\n1 0 0 0 0 0 1\n1\n",
         "scene:8:1: warning: the number of finishes is 2, but line 10 holds a lone number where "
         "finish 1 should start: should the count be 1?\n"},
    };
    for (const auto& row : rows) {
        const std::string printed = loadScene(row.text);
        EXPECT_EQ(printed.rfind(row.expected, 0), 0u) << printed;
    }
}

TEST(SceneReader, LimitsAreRefusedWhereTheyAreRead) {
    const std::string camera = "0 0 5 0 0 0 0 1 0 60\n";
    bool accepted = true;
    // Past the classic sizes a count promises its rows: the file must hold
    // them all, and is refused at the count when it does not.
    std::string printed = loadScene(camera + "11\n", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(printed,
              "scene:2:1: error: 11 lights are counted here, but only 0 complete rows follow "
              "(past 10 lights, every counted row must be in the file)\n");

    // At exactly the classic size a count promises nothing: fewer rows are
    // a warning, and the rest keep their start values.
    for (const std::string& counts : {std::string("10\n0 0 0 1 1 1 1 0 0\n0 0 0"),
                                      std::string("0 20\nsolid 1 0 0\n0 0"),
                                      std::string("0 0 50\n1 0 0 0 0 0 1\n0"),
                                      std::string("0 1 solid 1 1 1 1 1 0 0 0 0 0 1 200\n0 0 sphere 0 0 0 1\n")}) {
        SCOPED_TRACE(counts);
        printed = loadScene(camera + counts, 4, 3, &accepted);
        EXPECT_TRUE(accepted);
        EXPECT_NE(printed.find("warning: file ends early"), std::string::npos) << printed;
        EXPECT_EQ(printed.find("error:"), std::string::npos) << printed;
    }

    printed = loadScene(camera + "0 0 51", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(printed,
              "scene:2:5: error: 51 finishes are counted here, but only 0 complete rows follow "
              "(past 50 finishes, every counted row must be in the file)\n");

    // A value that does not convert past the classic size: refused there.
    std::string lights = "12\n";
    for (int i = 0; i < 12; ++i) lights += i == 7 ? "0 0 0 1 1 x 1 0 0\n" : "0 0 0 0 0 0 1 0 0\n";
    printed = loadScene(camera + lights + "0 0 0", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_NE(printed.find("scene:2:1: error: 12 lights are counted here, but only 7 complete "
                           "rows follow"),
              std::string::npos)
        << printed;

    printed = loadScene(camera + "0 0 0 99999999999999999999", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_NE(printed.find("more than 2147483647 objects, but a table holds at most 2147483647"),
              std::string::npos);

    const std::string tables =
        camera + "1 0 0 0 1 1 1 0 0 0\n1 solid 1 1 1\n2 1 0 0 0 0 0 1 1 0 0 0 0 0 1\n";
    printed = loadScene(tables + "1\n0 2 sphere 0 0 0 1\n", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(
        printed,
        "scene:6:3: error: object 0 names finish 2, but the file defines finishes 0 to 1 only\n");

    printed = loadScene(tables + "2\n0 0 sphere 0 0 0 1\n-1 0 disc\n", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(
        printed,
        "scene:7:1: error: object 1 names pigment -1, but the file defines pigments 0 to 0 only\n");

    printed = loadScene(camera + "0 0 0 1 0 0 sphere", 4, 3, &accepted);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(printed,
              "scene:2:9: error: object 0 names pigment 0, but the file defines no pigments\n");

    // Negative counts read no rows and are fine.
    loadScene(camera + "-3 -1 -7 -2", 4, 3, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(lightCount, -3);
}

// A mesh row is read whole, packed, or refused at the value that breaks
// it: every place a count or a value can end, negative and unfillable
// counts (two billion over a few bytes costs no memory), a face that names
// a vertex the row lacks. Degenerate faces are legal and counted once.
TEST(SceneReader, MeshRowsAreReadWholeOrRefusedWhereTheyBreak) {
    const std::string head = "0 0 5 0 0 0 0 1 0 60\n1 0 0 0 1 1 1 0 0 0\n1 solid 1 1 1\n"
                             "1 1 0 0 0 0 0 1\n2\n0 0 sphere 0 0 -9 1\n";
    const std::string square = "4 0 0 0 1 0 0 1 1 0 0 1 0\n2 0 1 2 0 2 3\n";
    bool accepted = false;
    std::string printed = loadScene(head + "0 0 mesh " + square, 4, 3, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(printed, "");
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_EQ(meshes[0].row, 1);
    EXPECT_FALSE(meshes[0].smooth);
    EXPECT_EQ(meshes[0].points, (std::vector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    EXPECT_EQ(meshes[0].faces, (std::vector<int>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(meshOfRow(1), &meshes[0]);
    EXPECT_EQ(meshOfRow(0), nullptr);

    loadScene(head + "0 0 smooth 3 0 0 0 0 0 2 1 0 0 0 0 1 0 1 0 0 0 -1.5\n1 0 1 2\n", 4, 3,
              &accepted);
    EXPECT_TRUE(accepted);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_TRUE(meshes[0].smooth);
    EXPECT_EQ(meshes[0].normals, (std::vector<double>{0, 0, 2, 0, 0, 1, 0, 0, -1.5}));

    const struct {
        const char* row;
        const char* expected;
    } rows[] = {
        {"0 0 mesh", "scene:7:9: error: object 1 (mesh) needs a count of vertices here, found the "
                     "end of the file\n"},
        {"0 0 mesh -1 0", "scene:7:10: error: object 1 (mesh): -1 vertices is no count (0 to "
                          "2147483647)\n"},
        {"0 0 mesh 3000000000", "scene:7:10: error: object 1 (mesh): 3000000000 vertices is no "
                                "count (0 to 2147483647)\n"},
        {"0 0 mesh 2000000000 1 2 3",
         "scene:7:26: error: object 1 (mesh) counts 2000000000 vertices, but vertex 1 has no "
         "point x: expected a real number, found the end of the file\n"},
        {"0 0 mesh 2 0 0 0 1 0", "scene:7:21: error: object 1 (mesh) counts 2 vertices, but "
                                 "vertex 1 has no point z: expected a real number, found the end "
                                 "of the file\n"},
        {"0 0 smooth 1 0 0 0 0 x 1 0", "scene:7:22: error: object 1 (smooth) counts 1 vertices, "
                                       "but vertex 0 has no normal y: expected a real number, "
                                       "found 'x'\n"},
        {"0 0 mesh 3 0 0 0 1 0 0 0 1 0", "scene:7:29: error: object 1 (mesh) needs a count of "
                                         "faces here, found the end of the file\n"},
        {"0 0 mesh 3 0 0 0 1 0 0 0 1 0 -2", "scene:7:30: error: object 1 (mesh): -2 faces is no "
                                            "count (0 to 2147483647)\n"},
        {"0 0 mesh 3 0 0 0 1 0 0 0 1 0 2000000000 0 1 2",
         "scene:7:46: error: object 1 (mesh) counts 2000000000 faces, but face 1 has no first "
         "corner: expected a vertex number, found the end of the file\n"},
        {"0 0 mesh 3 0 0 0 1 0 0 0 1 0 1 0 1", "scene:7:35: error: object 1 (mesh) counts 1 "
                                               "faces, but face 0 has no third corner: expected a "
                                               "vertex number, found the end of the file\n"},
        {"0 0 mesh 3 0 0 0 1 0 0 0 1 0 1 0 1.5 2", "scene:7:35: error: object 1 (mesh) counts 1 "
                                                   "faces, but face 0 has no third corner: "
                                                   "expected a vertex number, found '.5'\n"},
        {"0 0 mesh 3 0 0 0 1 0 0 0 1 0 1 0 1 3", "scene:7:36: error: object 1 (mesh): face 0 "
                                                 "names vertex 3, but the row has vertices 0 to 2 "
                                                 "only\n"},
        {"0 0 mesh 3 0 0 0 1 0 0 0 1 0 1 0 -1 2", "scene:7:34: error: object 1 (mesh): face 0 "
                                                  "names vertex -1, but the row has vertices 0 "
                                                  "to 2 only\n"},
        {"0 0 mesh 0 1 0 0 0", "scene:7:14: error: object 1 (mesh): face 0 names vertex 0, but "
                               "the row has no vertices\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.row);
        printed = loadScene(head + row.row, 4, 3, &accepted);
        EXPECT_FALSE(accepted);
        EXPECT_EQ(printed, row.expected);
    }
    // Two billion vertices promised over a few bytes: room for what the
    // text can hold, not for the count.
    loadScene(head + "0 0 mesh 2000000000 1 2 3", 4, 3, &accepted);
    ASSERT_EQ(meshes.size(), 1u);
    EXPECT_LT(meshes[0].points.capacity(), 100u);

    // Degenerate faces are legal, never hit, and said once a mesh.
    printed = loadScene(head + "0 0 mesh 3 0 0 0 1 1 1 2 2 2 3 0 1 2 0 0 1 2 1 0\n", 4, 3,
                        &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(printed, "scene:7:1: warning: object 1 (mesh): 3 of its 3 faces can never be hit "
                       "(two corners are the same point or all three lie on one line)\n"
                       "scene: note: read 1 light, 1 pigment, 1 finish and 2 objects\n");
}

// A # starts a comment to the end of its line, which reads as white space
// wherever white space may stand, and ends a number or type word glued to
// it: every placement reads the tables and renders the bytes of the scene
// without comments, and diagnostics count the file's lines as written.
TEST(SceneReader, CommentsReadAsWhiteSpace) {
    const std::string plain = kWorkedExample;
    auto edit = [&](const std::string& from, const std::string& to) {
        std::string scene = plain;
        scene.replace(scene.find(from), from.size(), to);
        return scene;
    };
    std::string crlf;
    for (char c : edit("45\n", "45 # degrees\n")) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const struct {
        const char* name;
        std::string text;
    } rows[] = {
        {"a line of its own first", "# the worked example\n" + plain},
        {"after a value", edit("45\n", "45 # the field of view\n")},
        {"between two values", edit("0 1 6\n", "0 1 # up\n 6\n")},
        {"glued to a number", edit("0 0 sphere 0 0 0 1", "0 0 sphere 0 0 0 1#radius")},
        {"glued to a type word", edit("solid 1 0 0", "solid#red\n1 0 0")},
        {"a # inside a comment", edit("2\nsolid", "2 ## two # pigments\nsolid")},
        {"the last line, no line end", plain + "# end"},
        {"with CRLF line ends", crlf},
    };
    const std::string expected = test::pixels(test::TempDir().write("plain.txt", plain), 8, 6);
    test::TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        bool accepted = false;
        EXPECT_EQ(loadScene(row.text, 4, 3, &accepted), "");
        EXPECT_TRUE(accepted);
        expectWorkedExample();
        EXPECT_TRUE(test::pixels(dir.write("scene.txt", row.text), 8, 6) == expected);
    }
    // Every bundled scene with a comment line first and after every line
    // renders to its own bytes.
    for (const char* name : {"axes", "example", "finishes", "glass", "mesh", "mirrors",
                             "showcase", "smooth"}) {
        SCOPED_TRACE(name);
        const std::string path = test::sourcePath(std::string("scenes/") + name + ".txt");
        std::string commented = "# " + std::string(name) + "\n";
        std::istringstream lines(test::readFile(path));
        for (std::string line; std::getline(lines, line);) commented += line + " # a note\n";
        EXPECT_TRUE(test::pixels(dir.write("commented.txt", commented), 16, 12) ==
                    test::pixels(path, 16, 12));
    }
    // Positions count the comment lines: the sphere row is now line 15.
    const std::string printed =
        loadScene(edit("0 0 sphere 0 0 0 1", "# the sphere\n0 0 sphere 0 0 0 x"), 4, 3);
    EXPECT_EQ(printed.rfind("scene:15:18: warning: expected a real number for the radius", 0), 0u)
        << printed;
}

}  // namespace
}  // namespace fotolume
