// Tables of every size the file gives: the rows past the classic sizes
// render exactly as the same rows within them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "scene/scene.hpp"
#include "scene/text.hpp"
#include "scene/tokens.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

// Tables past the classic sizes (10 lights, 20 pigments, 50 finishes, 200
// objects): at them, one past them and far past them, the rows render
// exactly as the same rows within them. The scene's own rows come last in
// each table, after rows that change nothing (black lights, unused pigments
// and finishes, small spheres out of every ray's way), so the rows past the
// classic sizes are the ones that make the image.
TEST(SceneTables, PastTheClassicSizesEveryRowRenders) {
    const auto scene = [](int lights, int pigments, int finishes, int objects) {
        std::string text =
            "0 1 6\n0 0 0\n0 1 0\n40\n" + std::to_string(lights) + "\n0 0 0 .2 .2 .2 0 0 0\n";
        for (int i = 2; i < lights; ++i) text += "5 5 5 0 0 0 1 0 0\n";
        text += "10 10 10 1 1 1 1 0 0\n" + std::to_string(pigments) + "\n";
        for (int i = 2; i < pigments; ++i) text += "solid 0 1 0\n";
        text += "solid 1 0 0\nchecker 1 1 1 0 0 0 0.5\n" + std::to_string(finishes) + "\n";
        for (int i = 1; i < finishes; ++i) text += "0 0 0 1 0 0 1\n";
        text += "1 0.7 0.3 20 0 0 1\n" + std::to_string(objects) + "\n";
        const std::string finish = std::to_string(finishes - 1);
        for (int i = 2; i < objects; ++i)
            text += "0 " + finish + " sphere " + std::to_string(i % 7) + " 0 1000 0.1\n";
        text += std::to_string(pigments - 2) + " " + finish + " sphere 0 0 0 1\n" +
                std::to_string(pigments - 1) + " " + finish + " disc 0 -1 0 5 0 1 0\n";
        return text;
    };
    test::TempDir dir;
    const std::string reference = test::pixels(dir.write("classic.txt", scene(2, 2, 1, 2)), 16, 12);
    const struct {
        int lights, pigments, finishes, objects;
    } rows[] = {
        {10, 20, 50, 200}, {11, 21, 51, 201},    {2, 2, 1, 20000},
        {3000, 2, 1, 2},   {2, 20000, 20000, 2}, {300, 300, 300, 3000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.lights) + " lights, " + std::to_string(row.pigments) +
                     " pigments, " + std::to_string(row.finishes) + " finishes, " +
                     std::to_string(row.objects) + " objects");
        const std::string file =
            dir.write("scene.txt", scene(row.lights, row.pigments, row.finishes, row.objects));
        EXPECT_TRUE(test::pixels(file, 16, 12) == reference);
    }
}

// Values are read as the C library's formatted conversions read them, one
// at a time: every token below (plain numbers the reader takes itself, and
// the rest) leaves the same values, and the same text for what follows, as
// "%lld" for the light count and "%lf" for each of the 18 light values.
TEST(SceneTables, NumbersReadAsTheCLibraryReadsThem) {
    const std::vector<std::string> tokens = {
        "1", "+1", "-0", "0.1", ".5", "5.", "1.e3", "00012", "1e5", "1E-5", "-2.5e+3",
        // correctly rounded: a halfway case, the least subnormal, past the range
        "1.00000000000000011102230246251565404236316680908203125", "4.9e-324", "2e-324",
        "1e-400", "1e308", "1e309", "123456789012345678901234567890.5",
        // not plain: read (or refused) by the library itself
        "0x1p3", "inf", "-nan", "1e", "1e+", "1.5x", "--1", "+-1", "+", ".", "1e5.5", "x"};
    const std::vector<std::string> counts = {"2", "+2", "002", "2.5", "2x", "-0"};
    const auto bits = [](double v) {
        std::uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    for (const std::string& count : counts)
        for (const std::string& token : tokens) {
            const std::string rows = count + "\n" + token + " 7 " + token + " 1 1 1 1 0 0\n" +
                                     token + "\t" + token + " 8 1 1 1 1 0 0\n0\n0\n0\n";
            test::loadScene("0 0 5 0 0 0 0 1 0 60\n" + rows);
            std::FILE* in = fmemopen(const_cast<char*>(rows.data()), rows.size(), "r");
            ASSERT_NE(in, nullptr);
            long long lights = 0;
            std::fscanf(in, "%lld", &lights);
            double expected[18] = {};
            for (double& value : expected) std::fscanf(in, "%lf", &value);
            std::fclose(in);
            SCOPED_TRACE("count " + count + ", token " + token);
            EXPECT_EQ(lightCount, static_cast<int>(lights));
            for (int i = 0; i < 18 && lights >= 2; ++i) {
                const std::vector<Vetor>& column =
                    i % 9 < 3 ? lightPosition : i % 9 < 6 ? lightColor : lightAttenuation;
                EXPECT_EQ(bits(column[i / 9][i % 3]), bits(expected[i])) << "value " << i;
            }
        }
}

// A file is read a page at a time, a stream is held whole: the two read the
// same text alike, to every value, position and diagnostic, whatever
// straddles a page (64 KiB) or lies pages behind the last value read: a
// scene of several pages with CRLF and tab rows, a run of blank lines
// longer than a page, and mistakes near its end and in rows that are only
// checked once everything is read.
TEST(SceneTables, AFileReadByPagesReadsAsAStream) {
    std::string text = "0 1 6\r\n0 0 0\n0 1 0\n40\n2\n0 0 0 .2 .2 .2 0 0 0\n"
                       "10 10 10 1 1 1 1 0 0\n1\nsolid 1 0 0\n1\n1 0.7 0.3 20 0 0 1\n9003\n";
    std::vector<std::size_t> starts;  // of the object rows
    for (int i = 0; i < 9000; ++i) {
        starts.push_back(text.size());
        const std::string x = std::to_string(i % 97) + "." + std::to_string(i);
        text += (i % 13 == 0 ? "0\t0 triangle " : "0 0 triangle ") + x + " 0 -5 " + x +
                (i % 11 == 0 ? " 1 -5\r\n" : " 1 -5 ") + "1.5 0 -5\n";
        if (i == 4000) text += std::string(70000, '\n');
        if (i == 6000) {  // a CRLF pair astride a page edge is one line end
            text += std::string(SceneText::PAGE - 1 - text.size() % SceneText::PAGE, ' ');
            text += "\r\n";
        }
        if (i == 8000) {  // degenerate, said after reading, after a page start in its line
            text += std::string(70000, ' ');
            starts.push_back(text.size());
            text += "0 0 triangle 1 1 1 1 1 1 1 1 1\n";
        }
    }
    text += "0 0 sphere 0 0 -5 inf\n0 0 disc 1 2 3 4 5 6 7\ntrailing words\n";
    test::TempDir dir;
    const std::string file = dir.write("scene.txt", text);
    const test::RunResult paged = test::runFotolume({"--check", "--dump", file});
    const test::RunResult held =
        test::runFotolume({"--check", "--dump", "-"}, "", "cat '" + file + "'");
    std::string err = paged.err;
    for (std::size_t at; (at = err.find(file)) != std::string::npos;) err.replace(at, file.size(), "-");
    EXPECT_EQ(paged.status, held.status);
    EXPECT_EQ(err, held.err);
    EXPECT_TRUE(paged.out == held.out);  // the dump: every row's line, column and values
    // Each object row's line and column, counted here: "L:C: object N:".
    std::size_t line = 1, lineStart = 0, at = 0;
    std::vector<std::string> where;
    for (std::size_t row = 0; row < starts.size(); ++row) {
        for (; at < starts[row]; ++at)
            if (text[at] == '\n') {
                ++line;
                lineStart = at + 1;
            }
        where.push_back(std::to_string(line) + ":" + std::to_string(starts[row] - lineStart + 1));
        const std::string expected = where.back() + ": object " + std::to_string(row) + ":";
        ASSERT_NE(paged.out.find("\n" + expected), std::string::npos) << expected;
    }
    // said once everything was read, of a row pages behind
    EXPECT_NE(err.find("-:" + where[8001] + ": warning: object 8001 (triangle) can never be hit"),
              std::string::npos)
        << err;
}

// The pages of a file give its bytes wherever they are asked for: forward,
// backward over more pages than are kept, across page boundaries; a file
// that shrinks while it is read is said to have failed, and its text ends
// where the file now does (never stale content, never a stretch of blanks
// that every backward look would have to cross).
TEST(SceneTables, PagesGiveAFilesBytesAndSayWhenItShrinks) {
    std::string content;
    for (long i = 0; i < 6 * SceneText::PAGE + 123; ++i)
        content += static_cast<char>('a' + (i * 7 + i / SceneText::PAGE) % 26);
    test::TempDir dir;
    const std::string file = dir.write("text.txt", content);
    const int fd = open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    {
        const SceneText text(fd, static_cast<long>(content.size()));
        const long size = text.size();
        for (long step : {1L, -1L, 4099L, -SceneText::PAGE - 1})
            for (long i = step > 0 ? 0 : size - 1; i >= 0 && i < size; i += step)
                ASSERT_EQ(text[i], content[i]) << "byte " << i << ", step " << step;
        const long edge = 3 * SceneText::PAGE - 5;
        EXPECT_EQ(text.substr(edge, 10), content.substr(edge, 10));
        EXPECT_EQ(std::string(text.bytes(edge), 5), content.substr(edge, 5));
        EXPECT_FALSE(text.failed());
    }
    const SceneText shrunk(fd, static_cast<long>(content.size()));
    EXPECT_EQ(shrunk[0], content[0]);
    EXPECT_FALSE(shrunk.failed());
    ASSERT_EQ(truncate(file.c_str(), 2 * SceneText::PAGE + 10), 0);
    EXPECT_EQ(shrunk[5 * SceneText::PAGE], ' ');  // never stale content
    EXPECT_LE(shrunk.size(), 5 * SceneText::PAGE);
    EXPECT_EQ(shrunk[2 * SceneText::PAGE + 9], content[2 * SceneText::PAGE + 9]);
    EXPECT_EQ(shrunk.size(), 2 * SceneText::PAGE + 10);
    EXPECT_EQ(shrunk[2 * SceneText::PAGE + 10], ' ');
    EXPECT_TRUE(shrunk.failed());
    close(fd);
}

// A scene cut short while it is read (its size taken at the start, its
// text then gone) ends with a diagnostic at once, wherever the cut falls:
// through the camera, the counts, the rows, with the objects' count past
// the classic size or within it. The bound is generous: before, a cut
// after the first rows cost every row a look back over all that was lost.
TEST(SceneTables, AFileCutWhileItIsReadEndsAtOnce) {
    std::string text = "0 1 6\n0 0 0\n0 1 0\n45\n1\n0 0 0 1 1 1 1 0 0\n1\nsolid 1 0 0\n1\n"
                       "1 0.7 0.3 20 0 0 1\n";
    std::string small = text + "150\n", large = text + "60000\n";
    for (int i = 0; i < 60000; ++i) {
        const std::string row = "0 0 triangle " + std::to_string(i % 89) + " 0 -5 1 1 -5 0 1 -5\n";
        if (i < 150) small += row;
        large += row;
    }
    test::TempDir dir;
    for (const std::string* scene : {&small, &large})
        for (const long cut : {0L, 40L, 150L, 400L, 2000L, 70000L}) {
            if (cut >= static_cast<long>(scene->size())) continue;
            SCOPED_TRACE(std::to_string(scene->size()) + " bytes cut at " + std::to_string(cut));
            const std::string file = dir.write("cut.txt", scene->substr(0, cut));
            std::FILE* in = std::fopen(file.c_str(), "r");
            ASSERT_NE(in, nullptr);
            std::FILE* said = std::tmpfile();
            const auto start = std::chrono::steady_clock::now();
            bool cutSeen = false;
            {
                resetScene();
                imageWidth = imageHeight = 1;
                SceneReader reader(in, static_cast<long>(scene->size()), "cut.txt", said);
                Vetor lookAt, up;
                double fov = 0;
                long cameraStarts[3] = {};
                std::vector<long> lights, objects;
                readCamera(reader, lookAt, up, fov, cameraStarts);
                const bool read = readLights(reader, lights) && readPigments(reader) &&
                                  readFinishes(reader) && readObjects(reader, objects);
                reader.lookPastTheFirstMistake();
                // The reading says it could not read to the end (as a run
                // does, from readError), or it stopped at a mistake.
                cutSeen = reader.readError();
                reader.finish(!read || cutSeen);
                EXPECT_TRUE(!read || reader.warnings() > 0 || cutSeen);
            }
            EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                      10.0);
            std::rewind(said);
            std::string told;
            for (int c; (c = std::fgetc(said)) != EOF;) told += static_cast<char>(c);
            EXPECT_TRUE(cutSeen || !told.empty()) << "nothing said";
            std::fclose(said);
            std::fclose(in);
        }
}

}  // namespace
}  // namespace fotolume
