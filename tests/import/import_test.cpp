// fotolume-import: models it writes itself in each format, placed where
// asked, broken files refused, and a model added to a scene rendered as the
// same rows written in by hand. Runs the built program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace fotolume {
namespace {

test::RunResult runImport(const std::string& args) {
    test::TempDir capture;
    const std::string command = std::string("'") + FOTOLUME_IMPORT_BINARY + "' " + args + " >'" +
                                capture.path("out") + "' 2>'" + capture.path("err") + "'";
    const int raw = std::system(command.c_str());
    test::RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = test::readFile(capture.path("out"));
    result.err = test::readFile(capture.path("err"));
    return result;
}

// Every corner of the rows, as "x y z", sorted: the triangles whatever their
// order in the file.
std::vector<std::string> corners(const std::string& rows) {
    std::vector<std::string> all;
    std::istringstream in(rows);
    std::string pigment, finish, word;
    while (in >> pigment >> finish >> word) {
        EXPECT_EQ(word, "triangle");
        for (int k = 0; k < 3; ++k) {
            std::string x, y, z;
            in >> x >> y >> z;
            all.push_back(x + " " + y + " " + z);
        }
    }
    std::sort(all.begin(), all.end());
    return all;
}

const char* const kCube =
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
    "f 1 2 3 4\nf 5 8 7 6\nf 1 5 6 2\nf 2 6 7 3\nf 3 7 8 4\nf 5 1 4 8\n";

// A tetrahedron with corners at the origin and on the three axes.
std::string tetrahedron(const std::string& format) {
    const char* faces[4] = {"0 2 1", "0 1 3", "0 3 2", "1 2 3"};
    const float v[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    if (format == "ply" || format == "binary ply") {
        std::string text = std::string("ply\nformat ") +
                           (format == "ply" ? "ascii" : "binary_little_endian") +
                           " 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
                           "property float z\nelement face 4\nproperty list uchar int "
                           "vertex_indices\nend_header\n";
        for (const auto& p : v)
            if (format == "ply")
                text += std::to_string(p[0]) + " " + std::to_string(p[1]) + " " +
                        std::to_string(p[2]) + "\n";
            else
                text.append(reinterpret_cast<const char*>(p), sizeof p);
        for (const char* face : faces) {
            int a, b, c;
            std::istringstream(face) >> a >> b >> c;
            if (format == "ply") {
                text += std::string("3 ") + face + "\n";
            } else {
                text += '\3';
                for (int index : {a, b, c}) text.append(reinterpret_cast<const char*>(&index), 4);
            }
        }
        return text;
    }
    std::string text = "solid t\n";
    if (format != "stl") text = std::string(80, ' ') + std::string("\4\0\0\0", 4);
    for (const char* face : faces) {
        int index[3];
        std::istringstream(face) >> index[0] >> index[1] >> index[2];
        if (format == "stl") {
            text += "facet normal 0 0 0\nouter loop\n";
            for (int i : index)
                text += "vertex " + std::to_string(v[i][0]) + " " + std::to_string(v[i][1]) + " " +
                        std::to_string(v[i][2]) + "\n";
            text += "endloop\nendfacet\n";
        } else {
            const float normal[3] = {0, 0, 0};
            text.append(reinterpret_cast<const char*>(normal), sizeof normal);
            for (int i : index) text.append(reinterpret_cast<const char*>(v[i]), sizeof v[i]);
            text.append(2, '\0');
        }
    }
    return format == "stl" ? text + "endsolid t\n" : text;
}

TEST(Import, EachFormatAndItsPlacement) {
    test::TempDir dir;
    const std::string cube = dir.write("cube.obj", kCube);
    test::RunResult run = runImport("--triangles '" + cube + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "fotolume-import: 12 faces from " + cube + ", placed from -1 -1 -1 to 1 1 1\n");
    std::vector<std::string> all = corners(run.out);
    EXPECT_EQ(all.size(), 36u);  // six quads, two triangles each
    EXPECT_EQ(all.front(), "-1 -1 -1");
    EXPECT_EQ(all.back(), "1 1 1");
    // Fit into the cube of edge 4 centred at (1, 2, 3): corners at +-2.
    run = runImport("--triangles --fit '1 2 3 4' --pigment 3 --finish 2 '" + cube + "'");
    all = corners(run.out);
    EXPECT_EQ(all.front(), "-1 0 1");
    EXPECT_EQ(all.back(), "3 4 5");
    EXPECT_EQ(run.out.rfind("3 2 triangle ", 0), 0u);
    run = runImport("--triangles --scale 0.5 --translate '0,10,0' '" + cube + "'");
    all = corners(run.out);
    EXPECT_NE(std::find(all.begin(), all.end(), "-0.5 9.5 -0.5"), all.end());
    EXPECT_NE(std::find(all.begin(), all.end(), "0.5 10.5 0.5"), all.end());

    for (const char* format : {"ply", "binary ply", "stl", "binary stl"}) {
        SCOPED_TRACE(format);
        const std::string ending =
            std::string(format).find("ply") != std::string::npos ? ".ply" : ".stl";
        const std::string file = dir.write("t" + ending, tetrahedron(format));
        run = runImport("--triangles '" + file + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        all = corners(run.out);
        ASSERT_EQ(all.size(), 12u);
        EXPECT_EQ(all[0], "0 0 0");
        EXPECT_EQ(all[11], "1 0 0");
        // A z-up file: its z axis becomes y.
        run = runImport("--triangles --up z '" + file + "'");
        all = corners(run.out);
        EXPECT_NE(std::find(all.begin(), all.end(), "0 1 0"), all.end());
        EXPECT_NE(std::find(all.begin(), all.end(), "0 0 -1"), all.end());
        // A quarter turn about z takes x to y.
        run = runImport("--triangles --rotate '0 0 1 90' --fit '0 0 0 1' '" + file + "'");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(corners(run.out).size(), 12u);
    }
}

TEST(Import, BrokenFilesAndDegenerateFaces) {
    test::TempDir dir;
    for (const char* name : {"bad.obj", "bad.ply", "bad.stl", "empty.obj", "missing.obj"}) {
        SCOPED_TRACE(name);
        const std::string file =
            std::string(name) == "missing.obj"
                ? dir.path(name)
                : dir.write(name, name[0] == 'e' ? "" : "ply\nformat binary 9\nv x\n\x01\x02");
        const test::RunResult run = runImport("'" + file + "'");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("fotolume-import: cannot read " + file + ": ", 0), 0u) << run.err;
    }
    // Two faces that span nothing: said once, with their count.
    const std::string file =
        dir.write("flat.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 0 1 0\nf 1 2 3\nf 1 1 4\nf 1 2 4\n");
    const test::RunResult run = runImport("--triangles '" + file + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(corners(run.out).size(), 3u);
    EXPECT_NE(run.err.find("fotolume-import: 2 degenerate faces dropped"), std::string::npos)
        << run.err;
    EXPECT_EQ(runImport("").status, 2);
    EXPECT_EQ(runImport("--fit '1 2' '" + file + "'").status, 2);
    EXPECT_EQ(runImport("--up w '" + file + "'").status, 2);
}

// --into: the scene with the rows added and its count raised renders as the
// same rows added by hand; a scene with a warning is not changed.
TEST(Import, IntoASceneIsTheRowsWrittenByHand) {
    test::TempDir dir;
    const std::string cube = dir.write("cube.obj", kCube);
    const std::string example = test::sourcePath("scenes/example.txt");
    const std::string rows = runImport("--triangles --fit '1.5 0 0 1' '" + cube + "'").out;
    test::RunResult run =
        runImport("--triangles --into '" + example + "' --fit '1.5 0 0 1' '" + cube + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    // By hand: the object count 2 becomes 14 and the rows follow the last.
    std::string byHand = test::readFile(example);
    const std::size_t count = byHand.find("\n2\n0 0 sphere");
    ASSERT_NE(count, std::string::npos);
    byHand.replace(count, 3, "\n14\n");
    byHand += rows;
    const std::string imported = dir.write("imported.txt", run.out);
    const std::string written = dir.write("written.txt", byHand);
    const test::RunResult a = test::runFotolume({imported, "-", "32", "24"});
    const test::RunResult b = test::runFotolume({written, "-", "32", "24"});
    const test::RunResult plain = test::runFotolume({example, "-", "32", "24"});
    EXPECT_EQ(a.err, "");
    EXPECT_EQ(a.status, 0);
    EXPECT_TRUE(a.out == b.out);
    EXPECT_FALSE(a.out == plain.out);  // the cube is in the picture

    // Per material: a solid pigment of each material's colour, after the
    // scene's own.
    dir.write("two.mtl", "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n");
    const std::string two =
        dir.write("two.obj",
                  "mtllib two.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nusemtl red\nf 1 2 3\n"
                  "usemtl blue\nf 1 2 4\n");
    run = runImport("--triangles --into '" + example + "' --per-material '" + two + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("solid 1 0 0\nsolid 0 0 1\n"), std::string::npos) << run.out;
    EXPECT_EQ(test::runFotolume({dir.write("two.txt", run.out), "-", "8", "6"}).err, "");

    const std::string warned = dir.write("warned.txt", test::readFile(example) + "7\n");
    run = runImport("--into '" + warned + "' '" + cube + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("must read without a warning"), std::string::npos) << run.err;
}

// The words of a mesh or smooth row as written.
std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> all;
    for (std::string word; in >> word;) all.push_back(word);
    return all;
}

// By default a model is one smooth row of shared corners with normals: the
// file's own, turned with the model and flipped by a mirror; made from the
// faces where it has none, sharp past the crease angle. --flat and
// --triangles give the other rows; --floor stands the model on a height.
TEST(Import, ModelsBecomeSmoothRowsOfSharedCorners) {
    test::TempDir dir;
    const std::string quad = dir.write(
        "quad.obj", "v 1 0 0\nv 2 0 0\nv 2 1 0\nv 1 1 0\nvn 0 0 3\nf 1//1 2//1 3//1 4//1\n");
    test::RunResult run = runImport("'" + quad + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "0 0 smooth 4\n1 0 0  0 0 1\n2 0 0  0 0 1\n2 1 0  0 0 1\n1 1 0  0 0 1\n"
              "2\n0 1 2\n0 2 3\n");
    // A quarter turn about z takes the corner (1, 0, 0) to (0, 1, 0); the
    // normal along z stays; a turn about x takes it to -y.
    run = runImport("--rotate '0 0 1 90' '" + quad + "'");
    std::vector<std::string> w = words(run.out);
    ASSERT_GE(w.size(), 10u);
    EXPECT_EQ(std::abs(std::stod(w[4])) < 1e-6 && w[5] == "1" && w[6] == "0", true) << run.out;
    EXPECT_EQ(w[9], "1");
    run = runImport("--rotate '1 0 0 90' '" + quad + "'");
    w = words(run.out);
    EXPECT_EQ(w[8], "-1") << run.out;
    // A mirror flips the normals; a floor moves the lowest point there.
    w = words(runImport("--scale -2 '" + quad + "'").out);
    EXPECT_EQ(w[4] + " " + w[9], "-2 -1");
    run = runImport("--floor 2.5 '" + quad + "'");
    EXPECT_NE(run.out.find("\n1 2.5 0  0 0 1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("placed from 1 2.5 0 to 2 3.5 0"), std::string::npos) << run.err;
    EXPECT_EQ(runImport("--fit '0 0 0 1' --scale 2 '" + quad + "'").status, 2);

    // No normals in the file: the tetrahedron's faces meet at 109.5
    // degrees, past the default crease, so each face keeps its own corners;
    // --crease 180 shares them. --flat: one mesh row of the four corners.
    const std::string tet = dir.write("t.ply", tetrahedron("ply"));
    w = words(runImport("'" + tet + "'").out);
    ASSERT_GE(w.size(), 4u);
    EXPECT_EQ(w[2] + " " + w[3], "smooth 12");
    w = words(runImport("--crease 180 '" + tet + "'").out);
    EXPECT_EQ(w[2] + " " + w[3], "smooth 4");
    run = runImport("--flat '" + tet + "'");
    w = words(run.out);
    ASSERT_EQ(w.size(), 4u + 12 + 1 + 12);
    EXPECT_EQ(w[2] + " " + w[3] + " " + w[16], "mesh 4 4");
    // Each form added to a scene renders without a word.
    for (const char* form : {"", "--flat", "--triangles"}) {
        run = runImport(std::string(form) + " --into '" + test::sourcePath("scenes/example.txt") +
                        "' --fit '1.5 0 0 1' '" + tet + "'");
        ASSERT_EQ(run.status, 0) << form << run.err;
        const test::RunResult render =
            test::runFotolume({dir.write("scene.txt", run.out), "-", "16", "12"});
        EXPECT_EQ(render.status, 0) << form;
        EXPECT_EQ(render.err, "") << form;
    }
}

}  // namespace
}  // namespace fotolume

namespace fotolume {
namespace {

// A binary PLY of the corners and faces, its header promising `promised`
// faces (the faces given, when negative).
std::string binaryPly(const std::vector<float>& points, const std::vector<int>& faces,
                      int promised = -1) {
    std::string text =
        "ply\nformat binary_little_endian 1.0\nelement vertex " +
        std::to_string(points.size() / 3) +
        "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
        std::to_string(promised >= 0 ? promised : static_cast<int>(faces.size() / 3)) +
        "\nproperty list uchar int vertex_indices\nend_header\n";
    text.append(reinterpret_cast<const char*>(points.data()), points.size() * sizeof(float));
    for (std::size_t f = 0; f < faces.size(); f += 3) {
        text += '\3';
        text.append(reinterpret_cast<const char*>(&faces[f]), 3 * sizeof(int));
    }
    return text;
}

// Hostile models, placements and targets: each refused with status 1 (2 for
// a command line that cannot be) and its reason, none writing a row.
TEST(Import, NothingInventedLeakedOrWrapped) {
    test::TempDir dir;
    const std::vector<float> three = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::string ok = dir.write("ok.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    dir.write("m.mtl", "newmtl a\nKd nan 0 1e39\n");
    const std::string badColour =
        dir.write("mat.obj", "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\n");
    const std::string bare =
        dir.write("bare.txt",
                  "0 1 6\n0 0 0\n0 1 0\n45\n1\n0 0 0 1 1 1 1 0 0\n1\nsolid 1 0 "
                  "0\n1\n1 0 0 0 0 0 1\n0\n");
    const struct {
        const char* name;
        std::string args;
        int status;
        const char* said;
    } rows[] = {
        {"a face naming corner -5", "'" + dir.write("neg.ply", binaryPly(three, {0, 1, -5})) + "'",
         1, "out of range"},
        {"a face naming corner 2e9",
         "'" + dir.write("huge.ply", binaryPly(three, {0, 1, 2000000000})) + "'", 1,
         "out of range"},
        {"a face naming corner 7 of 3",
         "'" + dir.write("seven.ply", binaryPly(three, {0, 1, 7})) + "'", 1, "out of range"},
        {"five faces promised, one there",
         "'" + dir.write("short.ply", binaryPly(three, {0, 1, 2}, 5)) + "'", 1, "cannot read"},
        {"a corner of 1e39",
         "'" + dir.write("inf.obj", "v 0 0 0\nv 1 0 0\nv 1e39 1 0\nf 1 2 3\n") + "'", 1,
         "not a finite number"},
        {"a scale past single precision", "--scale 1e300 '" + ok + "'", 1,
         "beyond the largest coordinate"},
        {"a scale that squeezes every face to nothing", "--scale 1e-300 '" + ok + "'", 1,
         "no face spans an area"},
        {"--pigment near the largest row number",
         "--per-material --pigment 2147483647 '" + badColour + "'", 1,
         "past the largest row number"},
        {"a material colour of nan and 1e39",
         "--per-material --into '" + bare + "' '" + badColour + "'", 1, "not a finite number"},
        {"--pigment one past the scene's last", "--pigment 1 --into '" + bare + "' '" + ok + "'", 1,
         "has no pigment 1"},
        {"--finish one past the scene's last", "--finish 1 --into '" + bare + "' '" + ok + "'", 1,
         "has no finish 1"},
        {"--into a folder", "--into '" + dir.path("") + "' '" + ok + "'", 1, "is a folder"},
        {"--fit with --scale", "--fit '0 0 0 1' --scale 2 '" + ok + "'", 2, "not with --scale"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string before = test::readFile(bare);
        const test::RunResult run = runImport(row.args);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
        EXPECT_EQ(test::readFile(bare), before);
    }
    // Written after the very scene it reads (>> SCENE): refused, the scene kept.
    const std::string before = test::readFile(bare);
    const std::string appended = std::string("'") + FOTOLUME_IMPORT_BINARY + "' --into '" + bare +
                                 "' '" + ok + "' >>'" + bare + "' 2>'" + dir.path("err") + "'";
    EXPECT_EQ(WEXITSTATUS(std::system(appended.c_str())), 1);
    EXPECT_NE(test::readFile(dir.path("err")).find("is the scene"), std::string::npos);
    EXPECT_EQ(test::readFile(bare), before);
    // A scene of a camera and lights only is the most natural target.
    const test::RunResult into = runImport("--into '" + bare + "' '" + ok + "'");
    EXPECT_EQ(into.status, 0) << into.err;
    EXPECT_EQ(into.err.find("no objects"), std::string::npos) << into.err;
    EXPECT_NE(into.out.find("\n1\n# ok.obj: 1 faces"), std::string::npos) << into.out;
    // Turns are turns, not mirrors: where a quarter turn puts the corner on
    // the x axis, and an axis too small or too large to square still turns.
    const struct {
        const char* turn;
        double x, y, z;
    } turns[] = {{"--up x", 0, 1, 0},
                 {"--up z", 1, 0, 0},
                 {"--rotate '0 0 1 90'", 0, 1, 0},
                 {"--rotate '0 1 0 90'", 0, 0, -1},
                 {"--rotate '1e-320 0 0 90'", 1, 0, 0},
                 {"--rotate '0 0 1e200 90'", 0, 1, 0}};
    for (const auto& turn : turns) {
        SCOPED_TRACE(turn.turn);
        const test::RunResult run =
            runImport(std::string("--triangles ") + turn.turn + " '" + ok + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        std::istringstream in(run.out);
        std::string word;
        in >> word >> word >> word;  // pigment, finish, "triangle"
        double c[9];
        for (double& v : c) in >> v;
        EXPECT_NEAR(c[3], turn.x, 1e-6);  // the second corner is the x axis's
        EXPECT_NEAR(c[4], turn.y, 1e-6);
        EXPECT_NEAR(c[5], turn.z, 1e-6);
        // A turn keeps the face's winding: its normal stays on the turned +z side.
        const double ux = c[3] - c[0], uy = c[4] - c[1], uz = c[5] - c[2];
        const double vx = c[6] - c[0], vy = c[7] - c[1], vz = c[8] - c[2];
        const double n[3] = {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
        EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-6);
    }
}

}  // namespace
}  // namespace fotolume
