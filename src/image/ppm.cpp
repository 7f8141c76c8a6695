#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "image/image.hpp"

namespace fotolume {

unsigned char channelByte(double value) {
    if (!(value > 0.0)) return 0;  // negative, zero or NaN: never a wrapped bright byte
    // Far beyond anything the render loop stores (it clamps at 1.0); saturate
    // so the conversion to an integer is always defined.
    if (value >= 2147483647.0 / 255.0) return 255;
    const double product = value * 255.0;
    double whole = std::trunc(product);
    // Rounding the product can only cross an integer by landing on it; the
    // residual of the exact product tells which side it really lies on
    // (0.6 * 255 is just below 153).
    if (whole == product && std::fma(value, 255.0, -product) < 0.0) whole -= 1.0;
    return static_cast<unsigned char>(static_cast<long>(whole) & 0xFF);
}

namespace {
// Only a regular file is ours to delete; /dev/full and the like stay.
bool discard(const char* fileName) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(fileName, ignored) && std::remove(fileName) == 0;
}
}  // namespace

WriteStatus writePPM(const char* fileName, const double* red, const double* green,
                     const double* blue, int width, int height) {
    std::FILE* out = std::fopen(fileName, "wb");
    if (out == nullptr) {
        std::printf("Can't open file %s \n", fileName);
        std::fflush(stdout);
        return WriteStatus::CannotOpen;
    }
    std::fprintf(out, "%s\n%i %i\n%i\n", "P6", width, height, 255);
    // Converted in chunks: an image of any size needs no second buffer.
    const long long n = static_cast<long long>(width) * height;
    unsigned char chunk[3 * 4096];
    std::size_t used = 0;
    for (long long i = 0; i < n; ++i) {
        chunk[used++] = channelByte(red[i]);
        chunk[used++] = channelByte(green[i]);
        chunk[used++] = channelByte(blue[i]);
        if (used == sizeof chunk) {
            std::fwrite(chunk, 1, used, out);
            used = 0;
        }
    }
    if (used > 0) std::fwrite(chunk, 1, used, out);
    const bool failed = std::fflush(out) != 0 || std::ferror(out) != 0;
    const int error = errno;
    const bool closeFailed = std::fclose(out) != 0;
    if (failed || closeFailed) {
        const char* reason = std::strerror(failed ? error : errno);
        if (discard(fileName))
            std::fprintf(stderr, "Can't write file %s: %s; the incomplete file was removed\n",
                         fileName, reason);
        else
            std::fprintf(stderr, "Can't write file %s: %s\n", fileName, reason);
        return WriteStatus::WriteError;
    }
    return WriteStatus::Ok;
}

}  // namespace fotolume
