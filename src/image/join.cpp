// One image from bands rendered apart (--region, each a full-width band):
// every band checked against the image it belongs to before a byte is
// written, then copied through the chosen encoder a slice at a time.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/image.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

// A whole number of the PPM header, after blanks and comments.
bool headerNumber(std::FILE* in, long long& value) {
    int c = std::fgetc(in);
    for (;;) {
        while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            c = std::fgetc(in);
        if (c != '#') break;
        while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(in);
    }
    if (c < '0' || c > '9') return false;
    value = 0;
    for (; c >= '0' && c <= '9'; c = std::fgetc(in)) {
        value = value * 10 + (c - '0');
        if (value > 2147483647LL) return false;
    }
    // One blank ends the header's last number; the pixels follow it.
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

struct OpenBand {
    std::FILE* file = nullptr;
    long long width = 0, height = 0;
};

// Opens the band and reads its header: "" or what is wrong with it.
std::string openBand(const Band& band, OpenBand& open) {
    const std::string name = printable(band.file);
    open.file = std::fopen(band.file.c_str(), "rb");
    if (open.file == nullptr) return "cannot read the band " + name + ": " + std::strerror(errno);
    long long maximum = 0;
    if (std::fgetc(open.file) != 'P' || std::fgetc(open.file) != '6' ||
        !headerNumber(open.file, open.width) || !headerNumber(open.file, open.height) ||
        !headerNumber(open.file, maximum) || maximum != 255)
        return "the band " + name + " is not a binary PPM of bytes (P6, 255) as fotolume writes";
    return "";
}

}  // namespace

std::string joinBands(ImageFile& out, ImageFormat format, long long width, long long height,
                      const std::vector<Band>& bands) {
    std::vector<OpenBand> open(bands.size());
    struct Closer {
        std::vector<OpenBand>& bands;
        ~Closer() {
            for (OpenBand& band : bands)
                if (band.file != nullptr) std::fclose(band.file);
        }
    } closer{open};
    long long next = 0;  // the first row no band has covered yet
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const std::string problem = openBand(bands[k], open[k]);
        if (!problem.empty()) return problem;
        const std::string name = printable(bands[k].file);
        if (open[k].width != width)
            return "the band " + name + " is " + std::to_string(open[k].width) +
                   " pixels wide, the image " + std::to_string(width) + ": a band of another image";
        if (bands[k].top != next)
            return "the band " + name + " starts at row " + std::to_string(bands[k].top) +
                   ", but the bands before it end at row " + std::to_string(next) +
                   (bands[k].top > next ? ": a band is missing, or the bands are out of order"
                                        : ": bands overlap or are out of order");
        next += open[k].height;
        if (next > height)
            return "the band " + name + " ends at row " + std::to_string(next) + ", past the " +
                   std::to_string(height) + " rows of the image";
    }
    if (next != height)
        return "the bands end at row " + std::to_string(next) + " of " + std::to_string(height) +
               ": the last band is missing";
    std::unique_ptr<Encoder> encoder =
        format == ImageFormat::Png ? makePngEncoder(out) : makePpmEncoder(out);
    if (!encoder->begin(static_cast<int>(width), static_cast<int>(height))) return "";
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    for (std::size_t k = 0; k < bands.size(); ++k)
        for (long long r = 0; r < open[k].height; ++r) {
            if (std::fread(row.data(), 1, row.size(), open[k].file) != row.size())
                return "the band " + printable(bands[k].file) + " ends after " + std::to_string(r) +
                       " of its " + std::to_string(open[k].height) + " rows: it is incomplete";
            if (!encoder->pixels(row.data(), width)) return "";
        }
    encoder->finish();
    return "";
}

}  // namespace fotolume
