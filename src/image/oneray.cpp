#include "image/oneray.hpp"

#include <algorithm>
#include <cstring>

#include "scene/scene.hpp"

namespace fotolume {

SharedOneRay::SharedOneRay(const PrimaryRays& rays, const Frame& frame, const Tiling& tiling)
    : rays_(rays), regionTop_(frame.region.top) {
    const long long left = frame.region.left;
    const long long right = left + frame.region.width;
    if (left > 0) starts_.push_back(left - 1);
    for (long long start = left; start < right; start += tiling.pieceCols())
        starts_.push_back(start);
    starts_.push_back(right);
    if (right < imageWidth) starts_.push_back(right + 1);
}

void SharedOneRay::oneRay(long long row, long long col, long long cols, unsigned char* bytes) {
    const long long end = col + cols;
    // The last segment starting at or before `col`.
    std::size_t s = static_cast<std::size_t>(
        std::upper_bound(starts_.begin(), starts_.end() - 1, col) - starts_.begin() - 1);
    for (; col < end; ++s) {
        const Segment& segment = obtain(row, s);
        const long long last = std::min(end, starts_[s + 1]);
        std::memcpy(bytes, &segment.bytes[static_cast<std::size_t>(col - starts_[s]) * 3],
                    static_cast<std::size_t>(last - col) * 3);
        bytes += (last - col) * 3;
        col = last;
    }
}

// Traced here when no thread has claimed it yet; waited for when another
// thread is tracing it. Its bytes stay put until release() drops its row.
const SharedOneRay::Segment& SharedOneRay::obtain(long long row, std::size_t s) {
    const long long cols = starts_[s + 1] - starts_[s];
    std::vector<unsigned char> bytes;
    Segment* segment = nullptr;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        auto found = rows_.find(row);
        if (found == rows_.end())
            found = rows_.emplace(row, std::vector<Segment>(starts_.size() - 1)).first;
        segment = &found->second[s];
        if (segment->claimed) {
            ready_.wait(lock, [&] { return segment->ready; });
            return *segment;
        }
    }
    // Memory is taken before the segment is claimed: a thread that runs out
    // of it leaves nothing half-claimed for others to wait on.
    bytes.resize(static_cast<std::size_t>(cols) * 3);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (segment->claimed) {
            ready_.wait(lock, [&] { return segment->ready; });
            return *segment;
        }
        segment->claimed = true;
    }
    Frame whole;
    whole.region = wholeImage();
    renderTile(rays_, whole, Tile{row, starts_[s], 1, cols}, bytes.data());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        segment->bytes = std::move(bytes);
        segment->ready = true;
    }
    ready_.notify_all();
    return *segment;
}

void SharedOneRay::release(const Tile& next) {
    const long long keep = regionTop_ + next.row - 1;
    std::lock_guard<std::mutex> lock(mutex_);
    while (!rows_.empty() && rows_.begin()->first < keep) rows_.erase(rows_.begin());
}

}  // namespace fotolume
