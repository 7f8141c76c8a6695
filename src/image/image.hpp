// Image output: primary rays, the render loop that turns pixels into bytes
// on one or more threads, the binary PPM writer and the image file it
// writes to, which replaces an existing image only once the new one is whole.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "geometry/geometry.hpp"

namespace fotolume {

// The primary rays of the camera set up for the current image size. Built
// once per render; afterwards only read, so threads may share one.
class PrimaryRays {
public:
    PrimaryRays();
    // The step from the top edge down to the centres of row `row` (0 the
    // top row), the same for every pixel of the row.
    Vetor down(double row) const;
    // The ray through the centre of pixel (col, row), given down(row): it
    // starts on the image plane, one unit in front of the eye, not at the
    // eye, so a surface between the eye and the plane is not seen.
    void ray(const Vetor& down, double col, Vetor& plane, Vetor& direction) const;

private:
    Vetor corner_;  // eye - back - right + up: the plane's top-left corner
    double upLength_;
    double rightLength_;
};

// The byte for one channel value: the exact product value * 255 truncated
// toward zero (not rounded to a double first); negative values and NaN give 0.
unsigned char channelByte(double value);

// Traces pixels first .. first + count - 1 in row-major order (index
// row * imageWidth + col) and stores three bytes (red, green, blue) for each.
void renderPixels(const PrimaryRays& rays, long long first, long long count, unsigned char* bytes);

// Where the image goes. Standard output ("-", /dev/stdout, /dev/fd/1), a
// pipe, a FIFO or a device is written in place. A regular file, or a name
// that does not exist yet, is written to a new temporary file in the same
// directory (through symbolic links: the file they point to) that replaces
// the target only when every byte is written; on any failure, or SIGINT,
// SIGTERM or SIGHUP, the temporary file is removed and the target is left as
// it was.
class ImageFile {
public:
    ImageFile() = default;
    ~ImageFile();  // removes the temporary file unless committed
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // Prints "Can't open file NAME" on standard output, then the reason on
    // standard error, and returns false when the image cannot be written.
    bool open(const char* name);
    // False after a write error; the error is reported by commit().
    bool write(const void* data, std::size_t size);
    // Writes what is buffered and puts the image in place; reports a failure
    // on standard error and returns false.
    bool commit();

private:
    bool flush();
    void discard();
    void reportWriteError() const;

    std::string name_;
    std::string temporary_;  // empty when written in place
    std::string target_;     // what the temporary file replaces
    bool hadTarget_ = false;
    int fd_ = -1;
    bool ownsFd_ = false;
    int error_ = 0;  // errno of the first failure
    std::vector<unsigned char> buffer_;
};

// Removes the temporary file of an image being written, if there is one.
// Safe to call from a signal handler or when memory has run out.
void discardPendingImage();

struct RenderSettings {
    int threads = 1;        // 1: traced on the calling thread, no other thread
    bool progress = false;  // a progress line on standard error (a terminal)
};

enum class WriteStatus { Ok, WriteError };

// Renders the image of the scene and camera as read (imageWidth x
// imageHeight) and writes it to `out` as a binary PPM: the header, then the
// pixels in order as they are finished. Memory stays bounded whatever the
// size; the bytes are the same for every thread count.
WriteStatus writePPM(ImageFile& out, const RenderSettings& settings);

// A self-overwriting progress line on standard error: percent done, time
// spent and time left, shown once the work has run for a second.
class Progress {
public:
    explicit Progress(bool enabled);
    ~Progress();  // clears the line
    void update(long long done, long long total);

private:
    bool enabled_;
    bool shown_ = false;
    double start_;
    double lastShown_ = 0.0;
};

}  // namespace fotolume
