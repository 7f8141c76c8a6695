#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "image/image.hpp"
#include "scene/scene.hpp"
#include "shading/shading.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

TEST(PpmWriter, ChannelBytesUseTheExactProduct) {
    EXPECT_EQ(channelByte(0.6), 152);  // 0.6 * 255 rounds to 153.0 but is below it
    EXPECT_EQ(channelByte(0.2), 51);
    EXPECT_EQ(channelByte(0.999), 254);
    EXPECT_EQ(channelByte(1.0), 255);
    EXPECT_EQ(channelByte(0.5), 127);
    EXPECT_EQ(channelByte(0.0), 0);
    EXPECT_EQ(channelByte(std::nextafter(1.0 / 255, 1.0)), 1);
    // Negative values and NaN are black, not a wrapped bright byte.
    EXPECT_EQ(channelByte(-0.1), 0);
    EXPECT_EQ(channelByte(-0.003), 0);
    EXPECT_EQ(channelByte(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(channelByte(-std::numeric_limits<double>::infinity()), 0);
    // Never undefined, even far outside what the render loop stores.
    EXPECT_EQ(channelByte(std::numeric_limits<double>::infinity()), 255);
    EXPECT_EQ(channelByte(1e300), 255);
}

TEST(PpmWriter, ChannelBytesMatchAWiderExactProduct) {
    if (std::numeric_limits<long double>::digits < 61) GTEST_SKIP() << "no 64-bit mantissa here";
    // A 53-bit value times 255 fits a 64-bit mantissa exactly; the k/255
    // values sit right at the integer boundaries where rounding would cross.
    for (int k = 0; k <= 255; ++k) {
        for (double x :
             {k / 255.0, std::nextafter(k / 255.0, 0.0), std::nextafter(k / 255.0, 2.0)}) {
            if (x > 1.0) continue;
            const long double exact = static_cast<long double>(x) * 255.0L;
            EXPECT_EQ(channelByte(x), static_cast<int>(exact)) << x;
        }
    }
}

// Renders the loaded scene through the chunked writer into a string.
std::string streamed(const test::TempDir& dir, int threads, const Frame& frame = Frame{}) {
    const std::string file = dir.path("streamed.ppm");
    ImageFile image;
    EXPECT_TRUE(image.open(file.c_str()));
    RenderSettings settings;
    settings.threads = threads;
    settings.frame = frame;
    EXPECT_EQ(writeImage(image, settings), WriteStatus::Ok);
    EXPECT_TRUE(image.commit());
    return test::readFile(file);
}

// Chunks are traced in any order on any number of threads, but each pixel
// must land at its own place: every pixel of the streamed image equals that
// pixel rendered on its own, for sizes that end inside a chunk, thin images
// and a single pixel.
TEST(PpmWriter, EveryPixelLandsInPlaceWhateverTheThreadsAndSize) {
    test::TempDir dir;
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 2500}, {2500, 1}, {33, 33}, {64, 16}};
    for (const auto& [width, height] : sizes) {
        test::loadScene(test::kWorkedExample, width, height);
        const std::string header =
            "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
        const PrimaryRays rays;
        const Frame frame{wholeImage()};
        std::string alone;
        for (long long i = 0; i < static_cast<long long>(width) * height; ++i) {
            unsigned char pixel[3];
            renderTile(rays, frame, Tile{i / width, i % width, 1, 1}, pixel);
            alone.append(reinterpret_cast<const char*>(pixel), 3);
        }
        for (int threads : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + ", " +
                         std::to_string(threads) + " threads");
            EXPECT_EQ(streamed(dir, threads), header + alone);
        }
    }
}

// Pixel (col, row) as the mean of its n x n sub-rays, each traced alone;
// with `one` (the pixel's one-ray bytes), the mean of only the grid's four
// corner rays and the one ray, read back from the middle of its bytes.
std::string gridMean(long long col, long long row, int n, const char* one = nullptr) {
    const PrimaryRays rays;
    double sum[3] = {0.0, 0.0, 0.0};
    if (one)
        for (int k = 0; k < 3; ++k) sum[k] = (static_cast<unsigned char>(one[k]) + 0.5) / 255.0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            if (one && ((j != 0 && j != n - 1) || (i != 0 && i != n - 1))) continue;
            Vec3 plane, direction;
            rays.ray(rays.down(row + (j + 0.5) / n), col + (i + 0.5) / n, plane, direction);
            const Vetor color = traceRay(toVetor(plane), toVetor(direction), 0);
            for (int k = 0; k < 3; ++k) sum[k] += std::min(color[k], 1.0);
        }
    std::string bytes;
    for (int k = 0; k < 3; ++k)
        bytes += static_cast<char>(channelByte(sum[k] / (one ? 5 : n * n)));
    return bytes;
}

// With a grid of rays, a pixel is its one-ray colour, the mean of its grid's
// corners and its one ray, or the mean of its whole grid; the whole grid
// wherever the threshold is 0, and the one-ray colour where its
// neighbourhood is even. None depends on the tiles or the threads: each
// pixel rendered alone is the same.
TEST(AntiAliasing, PixelsAreTheirOneRayColourOrTheMeanOfTheirGrid) {
    test::TempDir dir;
    const int width = 33, height = 25;
    test::loadScene(test::kWorkedExample, width, height);
    const std::string header = "P6\n33 25\n255\n";
    const std::string one = streamed(dir, 1).substr(header.size());
    for (int n : {3, 4}) {
        for (double threshold : {0.0, DEFAULT_AA_THRESHOLD}) {
            SCOPED_TRACE(std::to_string(n) + "x" + std::to_string(n) + ", threshold " +
                         std::to_string(threshold));
            const Frame frame{wholeImage(), n, threshold};
            const std::string image = streamed(dir, 1, frame).substr(header.size());
            int grids = 0, even = 0, corners = 0;
            for (long long p = 0; p < width * height; ++p) {
                const long long row = p / width, col = p % width;
                const std::string pixel = image.substr(3 * p, 3);
                const std::string mean = gridMean(col, row, n);
                bool flat = true;  // the 3 x 3 one-ray neighbourhood is one colour
                for (long long r = std::max(0LL, row - 1); r <= std::min(height - 1LL, row + 1);
                     ++r)
                    for (long long c = std::max(0LL, col - 1); c <= std::min(width - 1LL, col + 1);
                         ++c)
                        flat = flat && one.compare(3 * (r * width + c), 3, one, 3 * p, 3) == 0;
                const std::string five = gridMean(col, row, n, one.data() + 3 * p);
                if (threshold == 0.0) {
                    EXPECT_EQ(pixel, mean) << col << "," << row;
                } else if (!flat) {
                    EXPECT_TRUE(pixel == mean || pixel == five || pixel == one.substr(3 * p, 3))
                        << col << "," << row;
                    corners += pixel == five && pixel != mean && pixel != one.substr(3 * p, 3);
                } else {
                    EXPECT_EQ(pixel, one.substr(3 * p, 3)) << col << "," << row;
                }
                grids += pixel == mean && mean != one.substr(3 * p, 3);
                even += flat;
                unsigned char alone[3];
                renderTile(PrimaryRays(), frame, Tile{row, col, 1, 1}, alone);
                EXPECT_EQ(std::string(reinterpret_cast<char*>(alone), 3), pixel)
                    << col << "," << row;
            }
            EXPECT_GT(grids, 20);
            EXPECT_GT(even, 100);
            if (threshold > 0.0) {
                EXPECT_GT(corners, 5);
            }
            for (int threads : {2, 3, 7})
                EXPECT_EQ(streamed(dir, threads, frame).substr(header.size()), image) << threads;
        }
    }
}

TEST(PpmWriter, FailuresAreReportedAndLeaveNoFile) {
    test::TempDir dir;
    const std::string missing = dir.path("no/such/dir/out.ppm");
    {
        ImageFile image;
        EXPECT_FALSE(image.open(missing.c_str()));
    }
    EXPECT_FALSE(test::exists(dir.path("no")));
    {
        ImageFile image;
        EXPECT_FALSE(image.open(dir.path("").c_str()));
    }
    // A device that is full: the error is caught when the buffer is written,
    // and the device itself is not removed.
    if (test::exists("/dev/full")) {
        ImageFile image;
        ASSERT_TRUE(image.open("/dev/full"));
        image.write("P6\n", 3);
        EXPECT_FALSE(image.commit());
        EXPECT_TRUE(test::exists("/dev/full"));
    }
}

// With several rays a pixel, each one-ray colour the decisions need (the
// region's and the ring around it inside the image) is traced once, whatever
// the tiles (bands, pieces of wide rows) and threads. And the decision itself:
// a tiny sphere seen by one pixel's centre ray alone makes that pixel and each
// of its neighbours, in all eight directions, a candidate; the pixel's corner
// rays miss the sphere (its whole grid, 16 rays), each neighbour's agree with
// its own colour (4 rays). Two slivers through the centres of the outer
// columns of a 3 x 3 image: their pixels' corners miss them (16 rays each);
// the middle column's corners see what its centre sees, so each of its
// pixels is the five-ray mean though the slivers lie a pixel away on both
// sides (4 rays).
TEST(AntiAliasing, OneRayColoursAreTracedOnceAndEveryNeighbourCounts) {
    test::TempDir dir;
    const std::string camera =
        "0 0 5 0 0 0 0 1 0 45 1 0 0 9 1 1 1 1 0 0 1 solid 1 0 0 "
        "1 1 0 0 1 0 0 1 1 0 0 sphere ";
    const std::string big = dir.write("big.txt", camera + "0 0 0 1");
    const std::string middle = dir.write("middle.txt", camera + "0 0 0 0.1");
    // On the ray through the centre of the top-left pixel of a 3 x 3 image.
    const std::string corner = dir.write("corner.txt", camera + "-1.3807 1.3807 0 0.1");
    const std::string slivers =
        dir.write("slivers.txt",
                  "0 0 5 0 0 0 0 1 0 45 1 0 0 9 1 1 1 1 0 0 1 solid 1 0 0 1 1 0 0 1 0 0 1 2 "
                  "0 0 triangle -1.39 -5 0 -1.37 -5 0 -1.3807 5 0 "
                  "0 0 triangle 1.37 -5 0 1.39 -5 0 1.3807 5 0");
    const struct {
        std::string scene;
        std::vector<std::string> options;
        std::string width, height;
        std::string rays;
    } rows[] = {
        {big, {"--samples", "2"}, "8", "6", "48 primary"},
        {big, {"--samples", "3", "-t", "3", "--region", "3,2,4,3"}, "8", "6", "30 primary"},
        {big, {"--samples", "2", "-t", "7"}, "300", "200", "60000 primary"},
        {big, {"--samples", "2", "-t", "2"}, "20000", "2", "40000 primary"},
        {big,
         {"--samples", "2", "-t", "2", "--region", "5000,1,12000,1"},
         "20000",
         "2",
         "24004 primary"},
        {middle, {"--samples", "4"}, "3", "3", "9 primary, 48 anti-aliasing samples"},
        {middle, {"--samples", "4"}, "9", "9", "81 primary, 48 anti-aliasing samples"},
        {corner, {"--samples", "4"}, "3", "3", "9 primary, 28 anti-aliasing samples"},
        {slivers, {"--samples", "4"}, "3", "3", "9 primary, 108 anti-aliasing samples"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"--stats", row.scene, dir.path("out.ppm"), row.width, row.height});
        const test::RunResult run = test::runFotolume(args);
        EXPECT_NE(run.err.find("rays: " + row.rays), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace fotolume
