// How the render cuts its region into tiles. Internal to the image folder.
#pragma once

#include <algorithm>

#include "image/image.hpp"

namespace fotolume {

// The region cut into tiles that follow one another in row-major order:
// bands of whole rows, or, for rows wider than a chunk, pieces of one row.
// So the tiles' bytes, written one after another, are the image's.
class Tiling {
public:
    Tiling(const Region& region, long long target) : width_(region.width), height_(region.height) {
        if (width_ <= target) {
            bandRows_ = std::max(1LL, target / width_);
            count_ = (height_ + bandRows_ - 1) / bandRows_;
            largest_ = std::min(bandRows_, height_) * width_;
        } else {
            pieces_ = (width_ + target - 1) / target;
            pieceCols_ = (width_ + pieces_ - 1) / pieces_;
            count_ = height_ * pieces_;
            largest_ = pieceCols_;
        }
    }

    long long count() const { return count_; }
    long long largest() const { return largest_; }  // pixels in the largest tile
    // Columns of each piece a row is cut into (the whole width for bands).
    long long pieceCols() const { return pieces_ == 0 ? width_ : pieceCols_; }

    Tile tile(long long index) const {
        Tile tile;
        if (pieces_ == 0) {
            tile.row = index * bandRows_;
            tile.rows = std::min(bandRows_, height_ - tile.row);
            tile.cols = width_;
        } else {
            tile.row = index / pieces_;
            tile.col = index % pieces_ * pieceCols_;
            tile.rows = 1;
            tile.cols = std::min(pieceCols_, width_ - tile.col);
        }
        return tile;
    }

private:
    long long width_, height_;
    long long bandRows_ = 1;
    long long pieces_ = 0;  // pieces a row is cut into; 0: bands of whole rows
    long long pieceCols_ = 0;
    long long count_ = 0;
    long long largest_ = 0;
};

}  // namespace fotolume
