#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "image/image.hpp"
#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume {

// The corner is formed in the order of the full expression
// eye - back - right + up + v * right - u * up, so hoisting it out of the
// per-pixel work changes no bit.
PrimaryRays::PrimaryRays()
    : corner_(plain(add(subtract(subtract(eye, cameraBack), cameraRight), cameraUp))),
      right_(plain(cameraRight)),
      up_(plain(cameraUp)),
      eye_(plain(eye)),
      upLength_(length(cameraUp)),
      rightLength_(length(cameraRight)) {}

Vec3 PrimaryRays::down(double y) const {
    const double u = (y * pixelSize) / upLength_;
    return scale(u, up_);
}

void PrimaryRays::ray(const Vec3& down, double x, Vec3& plane, Vec3& direction) const {
    const double v = (x * pixelSize) / rightLength_;
    plane = subtract(add(corner_, scale(v, right_)), down);
    direction = subtract(plane, eye_);
    normalize(direction);
}

// Never inlined: the one deliberate fused multiply-add of the program lives
// here, and a build check looks for fused operations everywhere else.
[[gnu::noinline]] unsigned char channelByte(double value) {
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

Region wholeImage() { return Region{0, 0, imageWidth, imageHeight}; }

namespace {

// The colour seen along one primary ray, clamped above at 1.0 as every
// stored pixel is (there is no lower clamp).
// With a recorder, the trace and the clamped colour are told to it.
Vec3 clampedColor(const Vec3& plane, const Vec3& direction, PixelRecorder* recorder = nullptr) {
    Vec3 color = recorder ? traceRay(*recorder, plane, direction, 0, RayKind::Primary)
                          : traceRay(plane, direction, 0);
    for (int k = 0; k < 3; ++k)
        if (color[k] > 1.0) color[k] = 1.0;
    if (recorder) recorder->clamped(color);
    return color;
}

// One ray through each pixel's centre: `cols` pixels of full-image row
// `row` from column `col` on. Whole numbers below 2^31 are exact doubles:
// the same values the row and column counters of a plain double loop hold.
void traceRow(const PrimaryRays& rays, long long row, long long col, long long cols,
              unsigned char* bytes) {
    Vec3 plane;
    Vec3 direction;
    const Vec3 down = rays.down(static_cast<double>(row) + 0.5);
    traceCounts.primary += cols;
    for (long long n = 0; n < cols; ++n) {
        rays.ray(down, static_cast<double>(col + n) + 0.5, plane, direction);
        const Vec3 color = clampedColor(plane, direction);
        for (int k = 0; k < 3; ++k) *bytes++ = channelByte(color[k]);
    }
}

// A pixel's n x n grid of rays, each through the centre of its cell. The
// grid's four corner rays are traced first: when none of them differs from
// the pixel's one-ray colour by more than the limit, the pixel is taken to
// be even inside (an edge runs beside it, not through it) and is the mean of
// those four rays and its one ray, whose colour is taken as the middle of
// its byte's step (only its bytes are kept); otherwise the rest of the grid
// is traced and the pixel is the mean of all n x n rays, summed row by row
// of the grid. The corner rays are part of the grid, so a pixel that gets
// its grid pays nothing for the test.
class Grid {
public:
    Grid(const PrimaryRays& rays, int n, PixelRecorder* recorder = nullptr)
        : recorder_(recorder),
          rays_(rays),
          n_(n),
          cells_(n),
          colors_(static_cast<std::size_t>(n) * n),
          downs_(static_cast<std::size_t>(n)) {}

    // The pixel's bytes; `limit` below 0 skips the corner test (every
    // pixel gets its whole grid).
    void trace(long long row, long long col, const unsigned char* one, double limit,
               unsigned char* bytes) {
        if (row != downsRow_) {  // the grid's rows are the same for a whole pixel row
            for (int j = 0; j < n_; ++j)
                downs_[j] = rays_.down(static_cast<double>(row) + (j + 0.5) / cells_);
            downsRow_ = row;
        }
        const int last = n_ - 1;
        const int corners[4][2] = {{0, 0}, {0, last}, {last, 0}, {last, last}};
        bool even = limit >= 0.0;
        for (const auto& [j, i] : corners) {
            const Vec3& color = sample(col, j, i);
            for (int k = 0; k < 3; ++k)
                if (std::abs(channelByte(color[k]) - one[k]) > limit) even = false;
        }
        if (recorder_ && limit >= 0.0) recorder_->corners(even, limit);
        double sum[3] = {0.0, 0.0, 0.0};
        if (even) {
            for (int k = 0; k < 3; ++k) {
                sum[k] = (one[k] + 0.5) / 255.0;
                for (const auto& [j, i] : corners) sum[k] += colors_[j * n_ + i][k];
            }
            if (recorder_) recorder_->mean(sum, 5);
            for (int k = 0; k < 3; ++k) bytes[k] = channelByte(sum[k] / 5.0);
            return;
        }
        for (int j = 0; j < n_; ++j)
            for (int i = 0; i < n_; ++i) {
                const bool corner = (j == 0 || j == last) && (i == 0 || i == last);
                const Vec3& color = corner ? colors_[j * n_ + i] : sample(col, j, i);
                for (int k = 0; k < 3; ++k) sum[k] += color[k];
            }
        if (recorder_) recorder_->mean(sum, n_ * n_);
        for (int k = 0; k < 3; ++k) bytes[k] = channelByte(sum[k] / (cells_ * cells_));
    }

private:
    const Vec3& sample(long long col, int j, int i) {
        Vec3 plane;
        Vec3 direction;
        rays_.ray(downs_[j], static_cast<double>(col) + (i + 0.5) / cells_, plane, direction);
        Vec3& color = colors_[static_cast<std::size_t>(j * n_ + i)];
        ++traceCounts.samples;
        if (recorder_) recorder_->gridRay(j, i);
        color = clampedColor(plane, direction, recorder_);
        return color;
    }

    PixelRecorder* recorder_;
    const PrimaryRays& rays_;
    const int n_;
    const double cells_;
    std::vector<Vec3> colors_;
    std::vector<Vec3> downs_;  // the step down to each row of the grid
    long long downsRow_ = -1;  // the pixel row they are for
};

// The one-ray pixels of a tile and of every neighbour it has in the full
// image: the tile grown by one pixel on each side, cut at the image's edges.
class Neighbourhood {
public:
    Neighbourhood(const PrimaryRays& rays, long long row, long long col, long long rows,
                  long long cols, OneRaySource* source = nullptr)
        : top_(std::max(0LL, row - 1)),
          left_(std::max(0LL, col - 1)),
          bottom_(std::min<long long>(imageHeight, row + rows + 1)),
          right_(std::min<long long>(imageWidth, col + cols + 1)),
          bytes_(static_cast<std::size_t>((bottom_ - top_) * (right_ - left_) * 3)) {
        for (long long r = top_; r < bottom_; ++r)
            if (source)
                source->oneRay(r, left_, right_ - left_, at(r, left_));
            else
                traceRow(rays, r, left_, right_ - left_, at(r, left_));
    }

    unsigned char* at(long long row, long long col) {
        return &bytes_[static_cast<std::size_t>(((row - top_) * (right_ - left_) + col - left_) *
                                                3)];
    }

    // Whether a channel of the pixel differs from one of a neighbour's by
    // more than `limit` (in bytes); `which`, when given, gets the first such
    // neighbour's row and column.
    bool isEdge(long long row, long long col, double limit, long long* which = nullptr) {
        const unsigned char* pixel = at(row, col);
        for (long long r = std::max(top_, row - 1); r <= std::min(bottom_ - 1, row + 1); ++r)
            for (long long c = std::max(left_, col - 1); c <= std::min(right_ - 1, col + 1); ++c) {
                const unsigned char* other = at(r, c);
                for (int k = 0; k < 3; ++k)
                    if (std::abs(pixel[k] - other[k]) > limit) {
                        if (which) which[0] = r, which[1] = c;
                        return true;
                    }
            }
        return false;
    }

private:
    long long top_, left_, bottom_, right_;  // full-image pixels, bottom and right excluded
    std::vector<unsigned char> bytes_;
};

void renderSmoothTile(const PrimaryRays& rays, const Frame& frame, long long row, long long col,
                      long long rows, long long cols, unsigned char* bytes, OneRaySource* source) {
    Grid grid(rays, frame.samples);
    if (!(frame.threshold > 0.0)) {  // every pixel gets its whole grid: no one-ray pass
        const unsigned char none[3] = {0, 0, 0};
        for (long long r = row; r < row + rows; ++r)
            for (long long c = col; c < col + cols; ++c, bytes += 3)
                grid.trace(r, c, none, -1.0, bytes);
        return;
    }
    // A pixel is a candidate when it differs from a neighbour by more than
    // the threshold; its corner rays then decide at twice the threshold.
    // Chosen by measurement (bench/aa.py): of the rules tried (neighbours
    // alone, two corners, other corners, the corners' mean against the
    // centre, staged grids, other ratios and thresholds), a low threshold
    // for candidates, a laxer one for the corners and the five-ray mean for
    // an even candidate gave the least error for its cost.
    Neighbourhood around(rays, row, col, rows, cols, source);
    const double limit = frame.threshold * 255.0;
    for (long long r = row; r < row + rows; ++r)
        for (long long c = col; c < col + cols; ++c, bytes += 3) {
            const unsigned char* one = around.at(r, c);
            if (around.isEdge(r, c, limit))
                grid.trace(r, c, one, limit * 2.0, bytes);
            else
                std::copy_n(one, 3, bytes);
        }
}

}  // namespace

void explainPixel(const PrimaryRays& rays, const Frame& frame, long long row, long long col,
                  PixelRecorder& recorder, unsigned char bytes[3]) {
    Grid grid(rays, frame.samples, &recorder);
    if (frame.samples > 1 && !(frame.threshold > 0.0)) {
        const unsigned char none[3] = {0, 0, 0};
        grid.trace(row, col, none, -1.0, bytes);
        return;
    }
    // The pixel's own ray, as traceRow traces it.
    Vec3 plane;
    Vec3 direction;
    rays.ray(rays.down(static_cast<double>(row) + 0.5), static_cast<double>(col) + 0.5, plane,
             direction);
    const Vec3 color = clampedColor(plane, direction, &recorder);
    for (int k = 0; k < 3; ++k) bytes[k] = channelByte(color[k]);
    if (frame.samples == 1) return;
    Neighbourhood around(rays, row, col, 1, 1);
    const unsigned char* one = around.at(row, col);
    const double limit = frame.threshold * 255.0;
    long long which[2] = {-1, -1};
    const bool edge = around.isEdge(row, col, limit, which);
    const unsigned char* other = edge ? around.at(which[0], which[1]) : one;
    recorder.neighbours(one, which[0], which[1], other, limit);
    if (edge) grid.trace(row, col, one, limit * 2.0, bytes);
}

void renderTile(const PrimaryRays& rays, const Frame& frame, const Tile& tile, unsigned char* bytes,
                OneRaySource* source) {
    const long long row = frame.region.top + tile.row;
    const long long col = frame.region.left + tile.col;
    if (tracesGrids(frame)) {
        renderSmoothTile(rays, frame, row, col, tile.rows, tile.cols, bytes, source);
        return;
    }
    for (long long r = row; r < row + tile.rows; ++r, bytes += 3 * tile.cols)
        traceRow(rays, r, col, tile.cols, bytes);
}

}  // namespace fotolume
