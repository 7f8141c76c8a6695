// Image output: primary rays, the render loop that turns pixels into bytes
// (one ray a pixel, or adaptive grids of rays) on one or more threads, the
// PPM and PNG encoders and the image file they write to, which replaces an
// existing image only once the new one is whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "geometry/geometry.hpp"
#include "os/os.hpp"
#include "shading/shading.hpp"

namespace fotolume {

// The primary rays of the camera set up for the current image size. Built
// once per render; afterwards only read, so threads may share one.
class PrimaryRays {
public:
    PrimaryRays();
    // The step from the top edge down to height `y` in pixels (row + 0.5 is
    // the centre of row `row`, 0 the top row), the same for a whole row.
    Vec3 down(double y) const;
    // The ray through the point `x` pixels from the left edge (col + 0.5 is
    // the centre of column `col`), given down(y): it starts on the image
    // plane, one unit in front of the eye, not at the eye, so a surface
    // between the eye and the plane is not seen.
    void ray(const Vec3& down, double x, Vec3& plane, Vec3& direction) const;

private:
    Vec3 corner_;      // eye - back - right + up: the plane's top-left corner
    Vec3 right_, up_;  // cameraRight and cameraUp
    Vec3 eye_;
    double upLength_;
    double rightLength_;
};

// The byte for one channel value: the exact product value * 255 truncated
// toward zero (not rounded to a double first); negative values and NaN give 0.
unsigned char channelByte(double value);

// A rectangle of the full image, in pixels; left and top are 0-based.
struct Region {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The whole imageWidth x imageHeight image as a region.
Region wholeImage();

// The threshold a pixel's one-ray colour must differ from a neighbour's by
// (in some channel, on the 0..1 scale) before it is considered for its grid
// of rays.
constexpr double DEFAULT_AA_THRESHOLD = 0.03;
constexpr int MAX_SAMPLES = 16;

// What is traced: a region of the full image (every ray is the full
// image's), and how many rays a pixel gets.
struct Frame {
    Region region;
    // 1: one ray through each pixel's centre. N > 1: a pixel whose one-ray
    // colour differs from a neighbour's by more than `threshold` (every
    // pixel when it is 0) is considered for an N x N grid of rays through
    // the centres of N x N equal cells of the pixel: it gets it when one of
    // the grid's corner rays differs from its one ray by more than twice the
    // threshold, else it is the mean of those four rays and its one ray.
    int samples = 1;
    double threshold = DEFAULT_AA_THRESHOLD;
};

// Whether any pixel of the frame can get more than its one ray: at a
// threshold of 1 no byte can differ from another's by more, so such a frame
// is traced as one ray a pixel, at that render's cost.
inline bool tracesGrids(const Frame& frame) {
    return frame.samples > 1 && frame.threshold < 1.0;
}

// A rectangle of a frame's region, in pixels relative to the region.
struct Tile {
    long long row = 0;
    long long col = 0;
    long long rows = 0;
    long long cols = 0;
};

// Where a tile rendered with several rays a pixel finds the one-ray bytes
// of its pixels and their neighbours.
class OneRaySource {
public:
    virtual ~OneRaySource() = default;
    // The one-ray bytes of `cols` pixels of full-image row `row` from
    // full-image column `col` on.
    virtual void oneRay(long long row, long long col, long long cols, unsigned char* bytes) = 0;
};

// Traces the tile and stores three bytes (red, green, blue) per pixel, row
// by row. The bytes of a pixel depend only on the scene, the full image size
// and the pixel's place in the full image: never on the tile around it, nor
// on where the one-ray bytes come from (`source`, or traced by the tile
// itself when it is null).
void renderTile(const PrimaryRays& rays, const Frame& frame, const Tile& tile, unsigned char* bytes,
                OneRaySource* source = nullptr);

// What the render does for one pixel, told for an explanation: besides the
// trace of every primary ray (TraceRecorder), the adaptive decision around
// them and the bytes that result.
class PixelRecorder : public TraceRecorder {
public:
    // The pixel's one-ray bytes, and the first neighbour (full-image row and
    // column) whose one-ray bytes differ from them by more than the limit,
    // or row -1 when none does.
    virtual void neighbours(const unsigned char one[3], long long row, long long col,
                            const unsigned char other[3], double limit) = 0;
    virtual void gridRay(int j, int i) = 0;  // the next primary ray is the grid's cell j, i
    // Whether the four corner rays all stayed within `limit` of the one-ray
    // bytes (the pixel is their mean with its one ray), or not (the whole
    // grid is traced).
    virtual void corners(bool even, double limit) = 0;
    virtual void mean(const double sum[3], int rays) = 0;
    virtual void clamped(const Vec3& color) = 0;  // after each primary ray's trace
};

// The bytes of one pixel exactly as a render of `frame` makes them, with
// every ray and decision told to `recorder`.
void explainPixel(const PrimaryRays& rays, const Frame& frame, long long row, long long col,
                  PixelRecorder& recorder, unsigned char bytes[3]);

// Where the image goes. A descriptor's name ("-", /dev/stdout, /dev/stderr,
// /dev/fd/N), a pipe, a FIFO, a socket or a device is written in place. A
// regular file, or a name that does not exist yet, is written to a new
// temporary file in the same directory (through symbolic links: the file
// they point to) that replaces the target only when every byte is written,
// keeping its mode; on any failure, or any signal that would end the
// process, the temporary file is removed and the target is left as it was.
// A file that cannot be replaced (its folder is not writable, a sticky
// folder's other user's file, a mount point) but may be written is written
// in place, with a warning.
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
    // Records a failure found outside the file (errno value `error`), so that
    // commit() reports it and leaves any previous image in place.
    void fail(int error) {
        if (error_ == 0) error_ = error;
    }
    // Writes what is buffered and puts the image in place; reports a failure
    // on standard error and returns false.
    bool commit();

private:
    int openTarget();
    int openTemporary();
    bool flush();
    bool writeAll(const void* data, std::size_t size);
    void discard();

    std::string name_;
    os::Temporary temporary_;  // no path when written in place
    std::string target_;     // what the temporary file replaces
    std::string reason_;     // why it cannot be written, when errno does not say
    bool hadTarget_ = false;
    bool inPlace_ = false;  // an existing file that could not be replaced, written over
    int fd_ = -1;
    bool ownsFd_ = false;
    int error_ = 0;  // errno of the first failure
    std::vector<unsigned char> buffer_;
};

// Set on a thread while running out of memory may end just its own part of
// the work (a render thread, or the start of one): the program's
// new-handler then throws std::bad_alloc instead of ending the run.
inline thread_local bool allocationMayFail = false;

// Removes the temporary file of an image being written, if there is one.
// Safe to call from a signal handler or when memory has run out.
void discardPendingImage();

enum class ImageFormat { Ppm, Png };

// What a render did, for --stats.
struct RenderReport {
    double building = 0.0;    // seconds building the search structure
    double tracing = 0.0;     // seconds from the first ray to the last pixel, less writing
    double tracingCpu = 0.0;  // processor seconds of all threads over the same span
    double writing = 0.0;     // seconds the writer spent encoding and writing
    int threads = 0;          // threads that traced
    TraceCounts counts;       // summed over the threads
};

// What --stats prints: where the time went (`reading` the scene included),
// the rays of each kind, the search's work and the speed.
std::string describeReport(double reading, const RenderReport& report);

struct RenderSettings {
    int threads = 1;  // 1: traced on the calling thread, no other thread
    // Fewer threads than asked could be started, or some ran out of memory:
    // the render goes on with the rest (at least the calling thread) and
    // says so on standard error.
    bool progress = false;  // a progress line on standard error (a terminal)
    Frame frame;            // region empty (0 x 0): the whole image
    ImageFormat format = ImageFormat::Ppm;
    RenderReport* report = nullptr;  // filled in when given
    // Set by another thread to abandon the render (between chunks).
    const std::atomic<bool>* cancel = nullptr;
};

// Turns rows of pixels (three bytes each, top row first) into an image file
// format. Each format is one encoder.
class Encoder {
public:
    virtual ~Encoder() = default;
    virtual bool begin(int width, int height) = 0;
    // The next `count` pixels in row-major order; rows may arrive in pieces.
    virtual bool pixels(const unsigned char* bytes, long long count) = 0;
    virtual bool finish() = 0;
};

std::unique_ptr<Encoder> makePpmEncoder(ImageFile& out);
std::unique_ptr<Encoder> makePngEncoder(ImageFile& out);

// The widest PNG that is written (libpng's own limit on rows it will write).
constexpr long long MAX_PNG_WIDTH = 1000000;
// The most rows common PNG readers (libpng's default user limit) accept
// without being told otherwise; taller images are written with a warning.
constexpr long long PNG_READERS_MAX_ROWS = 1000000;

enum class WriteStatus { Ok, WriteError, Cancelled };

// Renders the frame of the scene and camera as read and writes it to `out`
// in the chosen format, the pixels in order as they are finished. Memory
// stays bounded whatever the size; the bytes are the same for every thread
// count.
WriteStatus writeImage(ImageFile& out, const RenderSettings& settings);

// The same render handed to any encoder (a preview that keeps the pixels in
// memory, say) instead of a file's.
WriteStatus renderImage(Encoder& encoder, const RenderSettings& settings);

// A band of an image rendered apart: a binary PPM of full-width rows from
// row `top` on.
struct Band {
    long long top = 0;
    std::string file;
};

// Writes the WIDTH x HEIGHT image the bands make, in order, to `out`; each
// band must be as wide as the image and start where the one before it
// ends, and together they must cover every row. "" when written (or when
// writing failed: `out` then reports it), else what is wrong, before a
// byte is written.
std::string joinBands(ImageFile& out, ImageFormat format, long long width, long long height,
                      const std::vector<Band>& bands);

// A self-overwriting progress line on standard error: percent done, time
// spent and time left, shown once the work has run for a second.
class Progress {
public:
    explicit Progress(bool enabled);
    ~Progress();  // clears the line
    void update(long long done, long long total);

private:
    bool enabled_;
    int shown_ = 0;  // the widest line shown, to clear
    double start_;
    double lastShown_ = 0.0;
};

}  // namespace fotolume
