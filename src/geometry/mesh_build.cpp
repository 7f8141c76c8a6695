// Building a mesh's hierarchy: binned surface-area splits of the faces'
// numbers in place, four children a node, faces' boxes worked out from the
// corners whenever they are needed instead of kept (a million faces keep
// only their numbers and the nodes).
#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

#include "geometry/accel.hpp"
#include "geometry/mesh_search.hpp"

namespace fotolume::detail {

namespace {

constexpr int LEAF = 4;   // faces a leaf holds at most
constexpr int BINS = 16;  // candidate planes a split weighs, less one

struct Box {
    double lo[3] = {INFINITY, INFINITY, INFINITY};
    double hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    void grow(const Box& other) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], other.lo[k]);
            hi[k] = std::max(hi[k], other.hi[k]);
        }
    }
    void growPoint(const double p[3]) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    double area() const { return lo[0] > hi[0] ? 0.0 : halfArea(lo, hi); }
};

// A run of `order` with the box of its faces and that of their centres.
struct Run {
    int begin = 0, end = 0;
    Box box, centres;
    int size() const { return end - begin; }
};

struct Builder {
    const MeshRow& mesh;
    std::vector<int>& order;
    double margin;
    std::vector<MeshNode> nodes;
    int depth = 0;

    Box faceBox(int f) const {
        Box box;
        for (int c = 0; c < 3; ++c) box.growPoint(mesh.point(mesh.faces[3 * std::size_t(f) + c]));
        return box;
    }
    static void centre(const Box& box, double c[3]) {
        for (int k = 0; k < 3; ++k) c[k] = 0.5 * (box.lo[k] + box.hi[k]);
    }
};

Run runOf(const Builder& b, int begin, int end) {
    Run run;
    run.begin = begin;
    run.end = end;
    for (int i = begin; i < end; ++i) {
        const Box box = b.faceBox(b.order[i]);
        double c[3];
        Builder::centre(box, c);
        run.box.grow(box);
        run.centres.growPoint(c);
    }
    return run;
}

// The bin of a centre along `axis`; the same formula sorts and counts.
int binOf(double c, double lo, double scale) {
    const int bin = static_cast<int>((c - lo) * scale);
    return std::min(BINS - 1, std::max(0, bin));
}

// The faces of a run counted into bins along each axis of their centres.
struct Bins {
    double lo[3], scale[3];
    bool used[3];
    Box boxes[3][BINS], centres[3][BINS];
    int counts[3][BINS] = {};
};

void fill(const Builder& b, const Run& run, Bins& bins) {
    for (int k = 0; k < 3; ++k) {
        const double extent = run.centres.hi[k] - run.centres.lo[k];
        bins.used[k] = extent > 0;
        bins.lo[k] = run.centres.lo[k];
        bins.scale[k] = bins.used[k] ? BINS / extent : 0.0;
    }
    for (int i = run.begin; i < run.end; ++i) {
        const Box box = b.faceBox(b.order[i]);
        double c[3];
        Builder::centre(box, c);
        for (int k = 0; k < 3; ++k) {
            if (!bins.used[k]) continue;
            const int bin = binOf(c[k], bins.lo[k], bins.scale[k]);
            bins.boxes[k][bin].grow(box);
            bins.centres[k][bin].growPoint(c);
            ++bins.counts[k][bin];
        }
    }
}

// The cheapest plane: the axis, and the first bin above it (0: none).
int cheapest(const Bins& bins, int size, int& axis) {
    int best = 0;
    double bestCost = INFINITY;
    for (int k = 0; k < 3; ++k) {
        if (!bins.used[k]) continue;
        double after[BINS];  // cost of the bins from each on
        Box right;
        int rightCount = 0;
        for (int i = BINS - 1; i > 0; --i) {
            right.grow(bins.boxes[k][i]);
            rightCount += bins.counts[k][i];
            after[i] = right.area() * rightCount;
        }
        Box left;
        int leftCount = 0;
        for (int i = 1; i < BINS; ++i) {
            left.grow(bins.boxes[k][i - 1]);
            leftCount += bins.counts[k][i - 1];
            const double cost = left.area() * leftCount + after[i];
            if (leftCount > 0 && leftCount < size && cost < bestCost) {
                bestCost = cost;
                best = i;
                axis = k;
            }
        }
    }
    return best;
}

// Splits `run` in two at the cheapest of the binned planes of its centres,
// or in halves by position when they all coincide.
void split(const Builder& b, const Run& run, Run& first, Run& second) {
    Bins bins;
    fill(b, run, bins);
    int axis = 0;
    const int best = cheapest(bins, run.size(), axis);
    if (best == 0) {
        const int middle = run.begin + run.size() / 2;
        first = runOf(b, run.begin, middle);
        second = runOf(b, middle, run.end);
        return;
    }
    const double lo = bins.lo[axis], scale = bins.scale[axis];
    const auto middle =
        std::partition(b.order.begin() + run.begin, b.order.begin() + run.end, [&](int f) {
            double c[3];
            Builder::centre(b.faceBox(f), c);
            return binOf(c[axis], lo, scale) < best;
        });
    first = Run{};
    second = Run{};
    first.begin = run.begin;
    first.end = second.begin = static_cast<int>(middle - b.order.begin());
    second.end = run.end;
    for (int i = 0; i < BINS; ++i) {
        (i < best ? first : second).box.grow(bins.boxes[axis][i]);
        (i < best ? first : second).centres.grow(bins.centres[axis][i]);
    }
}

// The lower bound rounded down to a float, the upper one up, both widened.
float below(double x) {
    float f = static_cast<float>(x);
    while (static_cast<double>(f) > x) f = std::nextafter(f, -INFINITY);
    return f;
}
float above(double x) {
    float f = static_cast<float>(x);
    while (static_cast<double>(f) < x) f = std::nextafter(f, INFINITY);
    return f;
}

// The up to four runs of a node: `run` split, and its larger halves split
// again.
int childrenOf(const Builder& b, const Run& run, Run (&children)[4]) {
    split(b, run, children[0], children[1]);
    int count = 2;
    for (int c = 0; c < 2; ++c)
        if (children[c].size() > LEAF) {
            const Run whole = children[c];
            Run second;
            split(b, whole, children[c], second);
            children[count++] = second;
        }
    return count;
}

int buildNode(Builder& b, const Run& run, int depth);

// Writes child `c` of node `index`: a leaf, or an inner node built now.
void placeChild(Builder& b, int index, int c, const Run& child, int depth) {
    for (int k = 0; k < 3; ++k) {
        b.nodes[index].lo[k][c] = below(child.box.lo[k] - b.margin);
        b.nodes[index].hi[k][c] = above(child.box.hi[k] + b.margin);
    }
    const bool leaf = child.size() <= LEAF;
    if (leaf) searchPlaced.fetch_add(child.size(), std::memory_order_relaxed);
    const int first = leaf ? child.begin : buildNode(b, child, depth + 1);
    b.nodes[index].first[c] = first;
    b.nodes[index].count[c] = leaf ? child.size() : 0;
}

MeshNode emptyNode() {
    MeshNode node{};
    for (int c = 0; c < 4; ++c) {
        for (int k = 0; k < 3; ++k) node.lo[k][c] = node.hi[k][c] = INFINITY;
        node.count[c] = -1;
    }
    return node;
}

int buildNode(Builder& b, const Run& run, int depth) {
    b.depth = std::max(b.depth, depth);
    const int index = static_cast<int>(b.nodes.size());
    b.nodes.push_back(emptyNode());
    Run children[4];
    const int count = run.size() <= LEAF ? 1 : childrenOf(b, run, children);
    if (count == 1) children[0] = run;
    for (int c = 0; c < count; ++c) placeChild(b, index, c, children[c], depth);
    return index;
}

// The root's children: the later half of them on a second thread, into
// nodes of its own that are then appended (their inner indices moved
// along), when the mesh is large and a thread is to be had.
void buildRoot(Builder& b, const Run& run) {
    b.nodes.push_back(emptyNode());
    Run children[4];
    const int count = run.size() <= LEAF ? 1 : childrenOf(b, run, children);
    if (count == 1) children[0] = run;
    int own = count;
    Builder second{b.mesh, b.order, b.margin, {}, 0};
    // Room made at once (a node holds at least two faces' worth, so a
    // sixth of the faces' count is more than the nodes need): growing
    // would copy the nodes and hold both copies at once.
    second.nodes.reserve(b.order.size() / 12 + 1);
    std::thread worker;
    if (count > 2 && run.size() > 50000) {
        try {
            worker = std::thread([&] {
                second.nodes.push_back(emptyNode());  // a stand-in root, dropped below
                for (int c = 2; c < count; ++c) placeChild(second, 0, c, children[c], 1);
            });
            own = 2;
        } catch (const std::system_error&) {
            // no thread to be had: all of them on this one
        }
    }
    for (int c = 0; c < own; ++c) placeChild(b, 0, c, children[c], 1);
    if (own == count) return;
    worker.join();
    const int shift = static_cast<int>(b.nodes.size()) - 1;
    for (std::size_t i = 1; i < second.nodes.size(); ++i) {
        MeshNode node = second.nodes[i];
        for (int c = 0; c < 4; ++c)
            if (node.count[c] == 0) node.first[c] += shift;
        b.nodes.push_back(node);
    }
    for (int c = 2; c < count; ++c) {
        MeshNode& root = b.nodes[0];
        for (int k = 0; k < 3; ++k) {
            root.lo[k][c] = second.nodes[0].lo[k][c];
            root.hi[k][c] = second.nodes[0].hi[k][c];
        }
        root.count[c] = second.nodes[0].count[c];
        root.first[c] = second.nodes[0].first[c] + (root.count[c] == 0 ? shift : 0);
    }
    b.depth = std::max(b.depth, second.depth);
}

}  // namespace

void buildMeshSearch(MeshSearch& search, int index, double margin) {
    const MeshRow& mesh = meshes[index];
    search.mesh = index;
    search.row = mesh.row;
    const int faces = static_cast<int>(mesh.faceCount());
    if (search.scan || faces == 0) return;
    search.order.resize(faces);
    for (int f = 0; f < faces; ++f) search.order[f] = f;
    Builder b{mesh, search.order, margin, {}, 1};
    b.nodes.reserve(faces / 6 + 1);
    buildRoot(b, runOf(b, 0, faces));
    search.nodes = std::move(b.nodes);
    search.depth = b.depth;
}

}  // namespace fotolume::detail
