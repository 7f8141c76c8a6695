#include <cstdio>

#include "image/image.hpp"

namespace fotolume {

namespace {

// Binary PPM: the header, then three bytes a pixel exactly as rendered.
class PpmEncoder : public Encoder {
public:
    explicit PpmEncoder(ImageFile& out) : out_(out) {}

    bool begin(int width, int height) override {
        char header[64];
        const int size =
            std::snprintf(header, sizeof header, "%s\n%i %i\n%i\n", "P6", width, height, 255);
        return out_.write(header, static_cast<std::size_t>(size));
    }

    bool pixels(const unsigned char* bytes, long long count) override {
        return out_.write(bytes, static_cast<std::size_t>(3 * count));
    }

    bool finish() override { return true; }

private:
    ImageFile& out_;
};

}  // namespace

std::unique_ptr<Encoder> makePpmEncoder(ImageFile& out) {
    return std::make_unique<PpmEncoder>(out);
}

}  // namespace fotolume
