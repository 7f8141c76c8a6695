// Tables of every size the file gives: the rows past the classic sizes
// render exactly as the same rows within them.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace fotolume
