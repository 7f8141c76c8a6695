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

TEST(PpmWriter, WritesHeaderAndPixelsInBufferOrder) {
    test::TempDir dir;
    const std::string file = dir.path("two.ppm");
    const double red[] = {1, 0}, green[] = {0, 0.5}, blue[] = {0, 1};
    ASSERT_EQ(writePPM(file.c_str(), red, green, blue, 2, 1), WriteStatus::Ok);
    const std::string expected =
        std::string("P6\n2 1\n255\n") + std::string("\xFF\0\0\0\x7F\xFF", 6);
    EXPECT_EQ(expected.size(), 17u);
    EXPECT_EQ(test::readFile(file), expected);

    std::vector<double> black(640 * 480, 0.0);
    ASSERT_EQ(writePPM(file.c_str(), black.data(), black.data(), black.data(), 640, 480),
              WriteStatus::Ok);
    const std::string big = test::readFile(file);
    EXPECT_EQ(big.substr(0, 15), "P6\n640 480\n255\n");
    EXPECT_EQ(big.size(), 15u + 640 * 480 * 3);
}

TEST(PpmWriter, FailuresAreReportedAndLeaveNoFile) {
    test::TempDir dir;
    const double pixel[] = {0.5};
    const std::string missing = dir.path("no/such/dir/out.ppm");
    EXPECT_EQ(writePPM(missing.c_str(), pixel, pixel, pixel, 1, 1), WriteStatus::CannotOpen);
    EXPECT_FALSE(test::exists(missing));
    EXPECT_EQ(writePPM(dir.path("").c_str(), pixel, pixel, pixel, 1, 1), WriteStatus::CannotOpen);
    // A device that is full: the error is caught at flush or close, and the
    // device itself is not removed.
    if (test::exists("/dev/full")) {
        EXPECT_EQ(writePPM("/dev/full", pixel, pixel, pixel, 1, 1), WriteStatus::WriteError);
        EXPECT_TRUE(test::exists("/dev/full"));
    }
}

}  // namespace
}  // namespace fotolume
