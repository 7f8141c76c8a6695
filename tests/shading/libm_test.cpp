// The three functions of the C maths library whose results decide image
// bytes (pow for highlights, cos for gradient pigments, tan for the field of
// view), on inputs drawn from the ranges the program gives them, compared
// with the results recorded on the machine the checksums were recorded on.
// A library that rounds any of them differently would change images; this
// names the function and the input. FOTOLUME_RECORD_LIBM=FILE writes a new
// record instead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "scene/scene.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

constexpr int SAMPLES = 30000;  // a function; a record keeps each result's lowest byte

// A fixed stream of numbers in [0, 1) (splitmix64), the same everywhere.
struct Draw {
    std::uint64_t state;
    double next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1p-53;
    }
};

struct Call {
    double x, y, result;
};

// Sample k of function `f` ("pow", "cos" or "tan"), as the program calls it.
Call sample(const std::string& f, Draw& draw) {
    if (f == "pow") {  // a half-vector cosine to the power of a finish's shininess
        const double nh = 1.0 - draw.next();
        const double u = draw.next();
        const double shininess = u < 0.5 ? std::floor(u * 400) + 1 : u * 1000;
        return {nh, shininess, std::pow(nh, shininess)};
    }
    if (f == "cos") {  // a gradient's position along its direction, times pi
        const double t = draw.next() * 40 - 20;
        const double x = t * PI_TEN_DIGITS;
        return {x, 0, std::cos(x)};
    }
    const double fov = draw.next() * 180;  // half the field of view, in radians
    const double half = fov * PI_TEN_DIGITS * (1.0 / 180.0) * 0.5;
    return {half, 0, std::tan(half)};
}

unsigned lowByte(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return static_cast<unsigned>(bits & 0xff);
}

std::string hexfloat(double value) {
    std::ostringstream text;
    text << std::hexfloat << value;
    return text.str();
}

std::string recordPath() { return test::sourcePath("tests/shading/libm_results.txt"); }

TEST(MathLibrary, PowCosAndTanGiveTheRecordedResults) {
    const char* const functions[] = {"pow", "cos", "tan"};
    if (const char* out = std::getenv("FOTOLUME_RECORD_LIBM")) {
        std::ofstream record(out);
        for (const char* f : functions) {
            Draw draw{static_cast<std::uint64_t>(f[0])};
            record << f;
            for (int k = 0; k < SAMPLES; ++k) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%s%02x", k % 40 == 0 ? "\n" : "",
                              lowByte(sample(f, draw).result));
                record << hex;
            }
            record << "\n";
        }
        GTEST_SKIP() << "recorded in " << out;
    }
    std::ifstream in(recordPath());
    ASSERT_TRUE(in) << recordPath();
    std::stringstream text;
    text << in.rdbuf();
    const std::string record = text.str();
    for (const char* f : functions) {
        std::size_t at = record.find(std::string(f) + "\n");
        ASSERT_NE(at, std::string::npos) << f;
        at += 4;
        Draw draw{static_cast<std::uint64_t>(f[0])};
        int differing = 0;
        for (int k = 0; k < SAMPLES; ++k) {
            while (record[at] == '\n') ++at;
            const unsigned expected = std::stoul(record.substr(at, 2), nullptr, 16);
            at += 2;
            const Call call = sample(f, draw);
            if (lowByte(call.result) == expected) continue;
            if (++differing <= 5)
                ADD_FAILURE() << f << "(" << std::hexfloat << call.x
                              << (std::string(f) == "pow" ? ", " + hexfloat(call.y) : "")
                              << ") = " << call.result << " here, a result ending in byte 0x"
                              << std::hex << expected << " where the checksums were recorded";
        }
        EXPECT_EQ(differing, 0) << f << " differs on " << differing << " of " << SAMPLES
                                << " inputs: images using it may differ here";
    }
}

}  // namespace
}  // namespace fotolume
