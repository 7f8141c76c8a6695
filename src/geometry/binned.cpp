// The binned surface-area split that large hierarchy nodes use: centroids
// counted into bins along each axis, the planes between bins costed.
#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/accel.hpp"

namespace fotolume::detail {

namespace {

constexpr int BINS = 32;

struct Bin {
    double lo[3] = {INFINITY, INFINITY, INFINITY};
    double hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    int count = 0;
};

}  // namespace

int binnedSplit(std::vector<Item>& items, int begin, int end) {
    double clo[3] = {INFINITY, INFINITY, INFINITY}, chi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (int i = begin; i < end; ++i)
        for (int k = 0; k < 3; ++k) {
            clo[k] = std::min(clo[k], items[i].centre(k));
            chi[k] = std::max(chi[k], items[i].centre(k));
        }
    double bestCost = INFINITY;
    int bestAxis = -1, bestPlane = 0;
    double scale[3];
    for (int k = 0; k < 3; ++k) scale[k] = BINS / (chi[k] - clo[k]);
    const auto binOf = [&](const Item& item, int axis) {
        return std::min(BINS - 1, static_cast<int>((item.centre(axis) - clo[axis]) * scale[axis]));
    };
    // Every axis's bins in one pass over the items.
    Bin binsOf[3][BINS];
    for (int i = begin; i < end; ++i)
        for (int axis = 0; axis < 3; ++axis) {
            if (!(chi[axis] > clo[axis])) continue;
            Bin& bin = binsOf[axis][binOf(items[i], axis)];
            ++bin.count;
            for (int k = 0; k < 3; ++k) {
                bin.lo[k] = std::min(bin.lo[k], items[i].lo[k]);
                bin.hi[k] = std::max(bin.hi[k], items[i].hi[k]);
            }
        }
    for (int axis = 0; axis < 3; ++axis) {
        if (!(chi[axis] > clo[axis])) continue;
        const Bin* bins = binsOf[axis];
        double rightArea[BINS];
        int rightCount[BINS];
        Bin right;
        for (int b = BINS - 1; b >= 1; --b) {
            right.count += bins[b].count;
            for (int k = 0; k < 3; ++k) {
                right.lo[k] = std::min(right.lo[k], bins[b].lo[k]);
                right.hi[k] = std::max(right.hi[k], bins[b].hi[k]);
            }
            rightArea[b] = halfArea(right.lo, right.hi);
            rightCount[b] = right.count;
        }
        Bin left;
        for (int b = 1; b < BINS; ++b) {
            left.count += bins[b - 1].count;
            for (int k = 0; k < 3; ++k) {
                left.lo[k] = std::min(left.lo[k], bins[b - 1].lo[k]);
                left.hi[k] = std::max(left.hi[k], bins[b - 1].hi[k]);
            }
            if (left.count == 0 || rightCount[b] == 0) continue;
            const double cost =
                halfArea(left.lo, left.hi) * left.count + rightArea[b] * rightCount[b];
            if (cost < bestCost) {
                bestCost = cost;
                bestAxis = axis;
                bestPlane = b;
            }
        }
    }
    if (bestAxis < 0) return 0;
    // Not a stable partition: that borrows a buffer as large as the run
    // (60 MB for a million objects). The order left is as repeatable, and
    // the smaller nodes sort their items by centre and row anyway.
    const auto middle =
        std::partition(items.begin() + begin, items.begin() + end,
                       [&](const Item& item) { return binOf(item, bestAxis) < bestPlane; });
    return static_cast<int>(middle - (items.begin() + begin));
}

}  // namespace fotolume::detail
