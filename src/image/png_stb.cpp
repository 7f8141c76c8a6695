// PNG through stb's image writer, for the builds where libpng is not to be
// had (the Windows build): the same pixels, 8-bit RGB, not interlaced. The
// writer compresses a whole image at once, so the pixels are held until
// the last row: memory grows with the image's size, as it does not with
// libpng.
#include <cerrno>
#include <new>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#include "image/image.hpp"

namespace fotolume {

namespace {

class StbPngEncoder : public Encoder {
public:
    explicit StbPngEncoder(ImageFile& out) : out_(out) {}

    bool begin(int width, int height) override {
        width_ = width;
        height_ = height;
        try {
            pixels_.reserve(static_cast<std::size_t>(width) * height * 3);
        } catch (const std::bad_alloc&) {
            out_.fail(ENOMEM);
            return false;
        }
        return true;
    }

    bool pixels(const unsigned char* bytes, long long count) override {
        pixels_.insert(pixels_.end(), bytes, bytes + count * 3);
        return true;
    }

    bool finish() override {
        if (stbi_write_png_to_func(onWrite, this, width_, height_, 3, pixels_.data(),
                                   width_ * 3) == 0) {
            out_.fail(ENOMEM);
            return false;
        }
        return !failed_;
    }

private:
    static void onWrite(void* context, void* data, int size) {
        auto* self = static_cast<StbPngEncoder*>(context);
        if (!self->out_.write(data, static_cast<std::size_t>(size))) self->failed_ = true;
    }

    ImageFile& out_;
    int width_ = 0, height_ = 0;
    std::vector<unsigned char> pixels_;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<Encoder> makePngEncoder(ImageFile& out) {
    return std::make_unique<StbPngEncoder>(out);
}

}  // namespace fotolume
