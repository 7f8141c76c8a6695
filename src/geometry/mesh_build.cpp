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

// Splits `run` in two at the cheapest of the binned planes along its
// centres' widest axis, or in halves by position when they all coincide.
void split(const Builder& b, const Run& run, Run& first, Run& second) {
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (run.centres.hi[k] - run.centres.lo[k] > run.centres.hi[axis] - run.centres.lo[axis])
            axis = k;
    const double lo = run.centres.lo[axis], extent = run.centres.hi[axis] - lo;
    if (!(extent > 0)) {
        const int middle = run.begin + run.size() / 2;
        first = runOf(b, run.begin, middle);
        second = runOf(b, middle, run.end);
        return;
    }
    const double scale = BINS / extent;
    Box boxes[BINS], centres[BINS];
    int counts[BINS] = {};
    for (int i = run.begin; i < run.end; ++i) {
        const Box box = b.faceBox(b.order[i]);
        double c[3];
        Builder::centre(box, c);
        const int bin = binOf(c[axis], lo, scale);
        boxes[bin].grow(box);
        centres[bin].growPoint(c);
        ++counts[bin];
    }
    double after[BINS];  // cost of the bins from each on
    Box right;
    int rightCount = 0;
    for (int i = BINS - 1; i > 0; --i) {
        right.grow(boxes[i]);
        rightCount += counts[i];
        after[i] = right.area() * rightCount;
    }
    Box left;
    int leftCount = 0, best = 1;
    double bestCost = INFINITY;
    for (int i = 1; i < BINS; ++i) {
        left.grow(boxes[i - 1]);
        leftCount += counts[i - 1];
        const double cost = left.area() * leftCount + after[i];
        if (leftCount > 0 && leftCount < run.size() && cost < bestCost) {
            bestCost = cost;
            best = i;
        }
    }
    const auto middle = std::partition(b.order.begin() + run.begin, b.order.begin() + run.end,
                                       [&](int f) {
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
        (i < best ? first : second).box.grow(boxes[i]);
        (i < best ? first : second).centres.grow(centres[i]);
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

}  // namespace

bool meshBounds(const MeshRow& mesh, double huge, double lo[3], double hi[3]) {
    bool bounded = true;
    for (std::size_t i = 0; i < mesh.points.size(); i += 3)
        for (int k = 0; k < 3; ++k) {
            const double x = mesh.points[i + k];
            bounded = bounded && std::isfinite(x) && std::fabs(x) < huge;
            lo[k] = std::min(lo[k], x);
            hi[k] = std::max(hi[k], x);
        }
    return bounded;
}

void buildMeshSearch(MeshSearch& search, int index, double margin) {
    const MeshRow& mesh = meshes[index];
    search.mesh = index;
    search.row = mesh.row;
    const int faces = static_cast<int>(mesh.faceCount());
    if (search.scan || faces == 0) return;
    search.order.resize(faces);
    for (int f = 0; f < faces; ++f) search.order[f] = f;
    Builder b{mesh, search.order, margin, {}, 0};
    b.nodes.reserve(faces / 6 + 1);
    buildNode(b, runOf(b, 0, faces), 1);
    search.nodes = std::move(b.nodes);
    search.depth = b.depth;
}

}  // namespace fotolume::detail
