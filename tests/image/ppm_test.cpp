#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "image/image.hpp"
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
std::string streamed(const test::TempDir& dir, int threads) {
    const std::string file = dir.path("streamed.ppm");
    ImageFile image;
    EXPECT_TRUE(image.open(file.c_str()));
    RenderSettings settings;
    settings.threads = threads;
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

}  // namespace
}  // namespace fotolume
