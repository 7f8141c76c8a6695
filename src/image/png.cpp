#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <vector>

#include "image/image.hpp"

#ifndef FOTOLUME_VERSION
#define FOTOLUME_VERSION "unknown"
#endif

namespace fotolume {

namespace {

// PNG, 8-bit RGB, not interlaced: the same pixel bytes as the PPM, through
// libpng, one row at a time as rows are finished, so memory stays at one
// row and the compressor's window whatever the image's height.
class PngEncoder : public Encoder {
public:
    explicit PngEncoder(ImageFile& out) : out_(out) {}

    ~PngEncoder() override {
        if (png_ != nullptr) png_destroy_write_struct(&png_, &info_);
    }

    bool begin(int width, int height) override {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, onError, onWarning);
        if (png_ == nullptr) return false;
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) return false;
        row_.resize(static_cast<std::size_t>(width) * 3);
        return start(width, height);
    }

    bool pixels(const unsigned char* bytes, long long count) override {
        long long left = count * 3;
        while (left > 0) {
            const long long room = static_cast<long long>(row_.size()) - filled_;
            const long long take = std::min(room, left);
            std::copy_n(bytes, take, row_.begin() + filled_);
            bytes += take;
            left -= take;
            filled_ += take;
            if (filled_ == static_cast<long long>(row_.size())) {
                if (!writeRow()) return false;
                filled_ = 0;
            }
        }
        return !failed_;
    }

    bool finish() override {
        if (failed_) return false;
        if (setjmp(png_jmpbuf(png_))) return false;
        png_write_end(png_, info_);
        return !failed_;
    }

private:
    // libpng reports its own errors by a long jump back here; nothing with
    // a destructor lives between the setjmp and the call that may jump.
    bool start(int width, int height) {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_set_write_fn(png_, this, onWrite, onFlush);
        // Any height; the width is bounded by the caller (one row is held).
        png_set_user_limits(png_, MAX_PNG_WIDTH, 0x7fffffff);
        png_set_IHDR(png_, info_, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_text text{};
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<char*>("Software");
        text.text = const_cast<char*>("fotolume " FOTOLUME_VERSION);
        png_set_text(png_, info_, &text, 1);
        png_write_info(png_, info_);
        return !failed_;
    }

    bool writeRow() {
        if (failed_) return false;
        if (setjmp(png_jmpbuf(png_))) return false;
        png_write_row(png_, row_.data());
        return !failed_;
    }

    static void onWrite(png_structp png, png_bytep data, png_size_t size) {
        auto* self = static_cast<PngEncoder*>(png_get_io_ptr(png));
        if (!self->out_.write(data, size)) self->failed_ = true;
    }
    static void onFlush(png_structp) {}
    // With valid parameters libpng fails only when memory runs short.
    static void onError(png_structp png, png_const_charp) {
        auto* self = static_cast<PngEncoder*>(png_get_error_ptr(png));
        self->failed_ = true;
        self->out_.fail(ENOMEM);
        png_longjmp(png, 1);
    }
    static void onWarning(png_structp, png_const_charp) {}

    ImageFile& out_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    std::vector<unsigned char> row_;
    long long filled_ = 0;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<Encoder> makePngEncoder(ImageFile& out) {
    return std::make_unique<PngEncoder>(out);
}

}  // namespace fotolume
