// Building the search structure: plain-double copies of the objects and a
// surface-area-heuristic hierarchy over their boxes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/accel.hpp"

namespace fotolume::detail {

Acceleration accel;

int laneLimit = 4;  // see limitSearchLanes

namespace {

// The hierarchy as the heuristic builds it: binary, each inner node's
// first child right after it.
struct BinaryNode {
    double lo[3];
    double hi[3];
    int first;  // leaf: first entry of `order`; inner: index of the second child
    int count;  // leaf: number of objects; inner: 0
};

struct Item {
    int row;
    double lo[3];
    double hi[3];
    double centre[3];
};

double halfArea(const double lo[3], const double hi[3]) {
    const double x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
    return x * y + y * z + z * x;
}

void grow(double lo[3], double hi[3], const Item& item) {
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], item.lo[k]);
        hi[k] = std::max(hi[k], item.hi[k]);
    }
}

// Centroid order along one axis, the row breaking ties so builds repeat.
void sortByCentre(std::vector<Item>& items, int begin, int end, int axis) {
    std::sort(items.begin() + begin, items.begin() + end, [axis](const Item& x, const Item& y) {
        return x.centre[axis] < y.centre[axis] ||
               (x.centre[axis] == y.centre[axis] && x.row < y.row);
    });
}

constexpr double SPLIT_COST = 2.0;

// Surface-area heuristic over at most 200 objects: every split of the
// centroid order on every axis is costed.
int buildNode(std::vector<BinaryNode>& tree, std::vector<Item>& items, int begin, int end) {
    const int index = static_cast<int>(tree.size());
    tree.push_back(BinaryNode{});
    BinaryNode node{};
    for (int k = 0; k < 3; ++k) {
        node.lo[k] = INFINITY;
        node.hi[k] = -INFINITY;
    }
    for (int i = begin; i < end; ++i) grow(node.lo, node.hi, items[i]);
    const int count = end - begin;

    double bestCost = INFINITY;
    int bestAxis = -1, bestSplit = -1;
    std::vector<double> rightArea(count + 1);
    for (int axis = 0; axis < 3 && count > 1; ++axis) {
        sortByCentre(items, begin, end, axis);
        double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        for (int i = count - 1; i >= 1; --i) {
            grow(lo, hi, items[begin + i]);
            rightArea[i] = halfArea(lo, hi);
        }
        for (int k = 0; k < 3; ++k) {
            lo[k] = INFINITY;
            hi[k] = -INFINITY;
        }
        for (int i = 1; i < count; ++i) {
            grow(lo, hi, items[begin + i - 1]);
            const double cost = halfArea(lo, hi) * i + rightArea[i] * (count - i);
            if (cost < bestCost) {
                bestCost = cost;
                bestAxis = axis;
                bestSplit = i;
            }
        }
    }
    // A split costs its children's tests and a visit to each child's box,
    // which measured about as dear as two object tests; small leaves pay.
    const double leafCost = halfArea(node.lo, node.hi) * (count - SPLIT_COST);
    if (count <= 1 || bestAxis < 0 || (count <= 4 && bestCost >= leafCost)) {
        node.first = static_cast<int>(accel.order.size());
        node.count = count;
        for (int i = begin; i < end; ++i) accel.order.push_back(items[i].row);
        tree[index] = node;
        return index;
    }
    sortByCentre(items, begin, end, bestAxis);
    node.count = 0;
    buildNode(tree, items, begin, begin + bestSplit);
    node.first = buildNode(tree, items, begin + bestSplit, end);
    tree[index] = node;
    return index;
}

// A four-child node from binary node `index`: its two children, then,
// while there is room, the inner child with the largest box replaced by its
// own two. Appends the node and those below it to accel.nodes.
int widen(const std::vector<BinaryNode>& tree, int index) {
    std::vector<int> children;
    if (tree[index].count > 0) {
        children.push_back(index);  // a tree that is one leaf
    } else {
        children = {index + 1, tree[index].first};
    }
    while (children.size() < 4) {
        int widest = -1;
        for (int i = 0; i < static_cast<int>(children.size()); ++i) {
            const BinaryNode& child = tree[children[i]];
            if (child.count == 0 &&
                (widest < 0 || halfArea(child.lo, child.hi) >
                                   halfArea(tree[children[widest]].lo, tree[children[widest]].hi)))
                widest = i;
        }
        if (widest < 0) break;
        const int opened = children[widest];
        children[widest] = opened + 1;
        children.push_back(tree[opened].first);
    }
    const int slot = static_cast<int>(accel.nodes.size());
    accel.nodes.push_back(Node{});
    Node node{};
    for (int c = 0; c < 4; ++c) {
        const bool used = c < static_cast<int>(children.size());
        for (int k = 0; k < 3; ++k) {
            node.lo[k][c] = used ? tree[children[c]].lo[k] : INFINITY;
            node.hi[k][c] = used ? tree[children[c]].hi[k] : INFINITY;
        }
        node.count[c] = used ? tree[children[c]].count : -1;
        node.first[c] = used && tree[children[c]].count > 0 ? tree[children[c]].first : 0;
    }
    for (int c = 0; c < static_cast<int>(children.size()); ++c)
        if (node.count[c] == 0) node.first[c] = widen(tree, children[c]);
    accel.nodes[slot] = node;
    return slot;
}

void outwardEdge(const Shape& s, const double along[3], const double inside[3], double out[3]) {
    out[0] = along[1] * s.unit[2] - along[2] * s.unit[1];
    out[1] = along[2] * s.unit[0] - along[0] * s.unit[2];
    out[2] = along[0] * s.unit[1] - along[1] * s.unit[0];
    normalized(out);
    if (dot3(out, inside) > 0)
        for (int k = 0; k < 3; ++k) out[k] = -out[k];
}

void prepareFilter(Shape& s) {
    const double bc[3] = {s.e2[0] - s.e1[0], s.e2[1] - s.e1[1], s.e2[2] - s.e1[2]};
    const double aFromB[3] = {-s.e1[0], -s.e1[1], -s.e1[2]};
    outwardEdge(s, s.e1, s.e2, s.edge[0]);
    outwardEdge(s, bc, aFromB, s.edge[1]);
    outwardEdge(s, s.e2, s.e1, s.edge[2]);
    s.filter = finite3(s.unit) && finite3(s.edge[0]) && finite3(s.edge[1]) && finite3(s.edge[2]);
}

// Objects past this size are tested for every ray instead: their boxes and
// rounding are no longer meaningful at the widening used.
constexpr double HUGE_COORDINATE = 1e12;

// Box of a sphere or disc; a disc spans r * sqrt(1 - u_k^2) along axis k
// (u its unit normal): a floor is a flat box, not a cube.
bool roundBox(Shape& s, Item& item) {
    const double r = std::fabs(s.r);
    const bool bounded = finite3(s.a) && std::isfinite(r) && r < HUGE_COORDINATE;
    double half[3] = {r, r, r};
    if (s.type == ObjectType::Disc) {
        for (int k = 0; k < 3; ++k) s.unit[k] = s.n[k];
        normalized(s.unit);
        if (finite3(s.unit))
            for (int k = 0; k < 3; ++k)
                half[k] = r * std::sqrt(std::max(0.0, 1 - s.unit[k] * s.unit[k])) + r * 1e-6;
    }
    for (int k = 0; k < 3; ++k) {
        item.lo[k] = s.a[k] - half[k];
        item.hi[k] = s.a[k] + half[k];
    }
    return bounded;
}

bool triangleBox(Shape& s, Item& item, int row) {
    const double b[3] = {objectPointB[row][0], objectPointB[row][1], objectPointB[row][2]};
    const double c[3] = {objectPointC[row][0], objectPointC[row][1], objectPointC[row][2]};
    for (int k = 0; k < 3; ++k) {
        item.lo[k] = std::min({s.a[k], b[k], c[k]});
        item.hi[k] = std::max({s.a[k], b[k], c[k]});
    }
    s.unit[0] = s.e1[1] * s.e2[2] - s.e1[2] * s.e2[1];
    s.unit[1] = s.e1[2] * s.e2[0] - s.e1[0] * s.e2[2];
    s.unit[2] = s.e1[0] * s.e2[1] - s.e1[1] * s.e2[0];
    normalized(s.unit);
    prepareFilter(s);
    return finite3(s.a) && finite3(b) && finite3(c);
}

// Copies object `row` into its Shape and sets its box; false when the box
// is not usable (non-finite or enormous), so the object is tested always.
bool describe(int row, Shape& s, Item& item) {
    s.type = objectType[row];
    s.r = objectRadius[row];
    for (int k = 0; k < 3; ++k) {
        s.a[k] = objectPointA[row][k];
        s.n[k] = objectPointB[row][k];
        s.e1[k] = objectPointB[row][k] - objectPointA[row][k];
        s.e2[k] = objectPointC[row][k] - objectPointA[row][k];
    }
    item.row = row;
    bool bounded = s.type == ObjectType::Triangle ? triangleBox(s, item, row) : roundBox(s, item);
    for (int k = 0; k < 3 && bounded; ++k)
        bounded =
            std::fabs(item.lo[k]) < HUGE_COORDINATE && std::fabs(item.hi[k]) < HUGE_COORDINATE;
    return bounded;
}

// An object whose box is a large part of the whole (a floor under the
// scene) would be entered by nearly every ray and would widen every box
// above it: it is tested for every ray instead.
void keepLargeApart(std::vector<Item>& items) {
    if (items.size() <= 12) return;
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const Item& item : items) grow(lo, hi, item);
    const double whole = halfArea(lo, hi);
    std::vector<Item> rest;
    for (const Item& item : items) {
        if (halfArea(item.lo, item.hi) > 0.25 * whole)
            accel.always.push_back(item.row);
        else
            rest.push_back(item);
    }
    items.swap(rest);
    std::sort(accel.always.begin(), accel.always.end());
}

// Puts the spheres and discs of `always` into lanes where the build tests
// two at a time and there are two or more of a kind; the rest one by one.
void fillLanes() {
    accel.laneWidth = std::min(widestLanes(), laneLimit);
    const bool lanes = accel.laneWidth > 1;
    int spheres = 0, discs = 0;
    for (int row : accel.always) {
        spheres += objectType[row] == ObjectType::Sphere;
        discs += objectType[row] == ObjectType::Disc;
    }
    for (int row : accel.always) {
        const Shape& s = accel.shapes[row];
        if (lanes && s.type == ObjectType::Sphere && spheres >= 2)
            accel.sphereLanes.push(s.a, s.n, s.r, row);
        else if (lanes && s.type == ObjectType::Disc && discs >= 2)
            accel.discLanes.push(s.a, s.n, s.r, row);
        else
            accel.alwaysRest.push_back(row);
    }
    if (accel.sphereLanes.size() > 0) accel.sphereLanes.pad(accel.laneWidth);
    if (accel.discLanes.size() > 0) accel.discLanes.pad(accel.laneWidth);
}

}  // namespace

void buildAcceleration() {
    accel = Acceleration{};
    const int count = std::max(0, std::min(objectCount, MAX_OBJECTS));
    accel.shapes.resize(count);
    std::vector<Item> items;
    double extent = 1.0;
    for (int k = 0; k < 3; ++k) extent = std::max(extent, std::fabs(eye[k]));
    extent = std::max(extent, std::fabs(planeWidth) + std::fabs(planeHeight));
    if (!std::isfinite(extent)) extent = 1.0;

    for (int i = 0; i < count; ++i) {
        if (objectType[i] == ObjectType::Unknown) continue;  // never hit
        Shape& s = accel.shapes[i];
        Item item{};
        if (!describe(i, s, item)) {
            s.filter = false;  // the slack argument needs bounded coordinates
            accel.always.push_back(i);
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            extent = std::max({extent, std::fabs(item.lo[k]), std::fabs(item.hi[k])});
            item.centre[k] = 0.5 * (item.lo[k] + item.hi[k]);
        }
        items.push_back(item);
    }

    const double margin = 1e-7 * extent;
    accel.slack = margin;
    for (Item& item : items)
        for (int k = 0; k < 3; ++k) {
            item.lo[k] -= margin;
            item.hi[k] += margin;
        }
    accel.originLimit = 1e3 * extent;
    keepLargeApart(items);
    if (items.size() <= 12) {
        for (const Item& item : items) accel.always.push_back(item.row);
        std::sort(accel.always.begin(), accel.always.end());
    } else if (!items.empty()) {
        std::vector<BinaryNode> tree;
        buildNode(tree, items, 0, static_cast<int>(items.size()));
        widen(tree, 0);
    }
    fillLanes();
    accel.version = sceneVersion;
}

}  // namespace fotolume::detail

namespace fotolume {

void limitSearchLanes(int width) {
    detail::laneLimit = width;
    detail::accel.version = 0;  // rebuilt on the next search
}

}  // namespace fotolume
