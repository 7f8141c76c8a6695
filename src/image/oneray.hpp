// The one-ray bytes a render with several rays a pixel decides on, shared
// between its tiles. Internal to the image folder.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "image/image.hpp"
#include "image/tiling.hpp"

namespace fotolume {

// The one-ray bytes of a frame's region and of the one-pixel ring around it
// (where the image has one), each pixel traced once, by whichever thread
// first needs it, in segments of a row: the tiling's pieces (a whole row of
// the region for bands), and the ring's single columns. A segment is kept
// only while a tile still to be rendered may need it.
class SharedOneRay : public OneRaySource {
public:
    SharedOneRay(const PrimaryRays& rays, const Frame& frame, const Tiling& tiling);

    void oneRay(long long row, long long col, long long cols, unsigned char* bytes) override;

    // Every tile before `next` is rendered: rows no later tile needs go.
    void release(const Tile& next);

private:
    struct Segment {
        bool claimed = false;  // a thread is tracing it, or has
        bool ready = false;
        std::vector<unsigned char> bytes;
    };
    const Segment& obtain(long long row, std::size_t segment);

    const PrimaryRays& rays_;
    const long long regionTop_;
    std::vector<long long> starts_;  // each segment's first full-image column, then the end
    std::map<long long, std::vector<Segment>> rows_;
    std::mutex mutex_;
    std::condition_variable ready_;
};

}  // namespace fotolume
