// Building the search structure: plain-double copies of the objects, their
// boxes, and which are tested for every ray and in which lanes (the
// hierarchy itself is tree.cpp's).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <system_error>
#include <thread>
#include <vector>

#include "geometry/accel.hpp"

#ifdef __GLIBC__  // defined by the headers above
#include <malloc.h>
#endif

namespace fotolume::detail {

Acceleration accel;

namespace {

int laneLimit = 4;  // see limitSearchLanes

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
    const bool triangle = s.type == ObjectType::Triangle;
    for (int k = 0; k < 3; ++k) {
        s.a[k] = objectPointA[row][k];
        if (triangle) {
            s.e1[k] = objectPointB[row][k] - objectPointA[row][k];
            s.e2[k] = objectPointC[row][k] - objectPointA[row][k];
        } else {
            s.n[k] = objectPointB[row][k];
        }
    }
    item.row = row;
    bool bounded = triangle ? triangleBox(s, item, row) : roundBox(s, item);
    for (int k = 0; k < 3 && bounded; ++k)
        bounded =
            std::fabs(item.lo[k]) < HUGE_COORDINATE && std::fabs(item.hi[k]) < HUGE_COORDINATE;
    return bounded;
}

// Puts the spheres and discs of `always` into lanes where the build tests
// several at a time and there are two or more of a kind (a lone floor is
// quicker on its own); the rest are tested one by one.
void fillLanes() {
    accel.laneWidth = std::min(widestLanes(), laneLimit);
    const bool lanes = accel.laneWidth > 1;
    int spheres = 0, discs = 0;
    for (int row : accel.always) {
        spheres += accel.shapes[accel.slot[row]].type == ObjectType::Sphere;
        discs += accel.shapes[accel.slot[row]].type == ObjectType::Disc;
    }
    for (int row : accel.always) {
        const Shape& s = accel.shapes[accel.slot[row]];
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

// Runs work(begin, end) over [0, count): on two threads when there is much
// of it (each part must write only its own places), else on this one.
template <typename Work>
void inTwo(int count, const Work& work) {
    if (count > 50000) {
        try {
            std::thread second([&] { work(count / 2, count); });
            work(0, count / 2);
            second.join();
            return;
        } catch (const std::system_error&) {
            // no thread to be had: all of it on this one
        }
    }
    work(0, count);
}

// Each row's box, in its own place, with row -1 for an object tested for
// every ray and -2 for one never hit. (Its shape is made later, where the
// search wants it.)
std::vector<Item> boxes(int count) {
    std::vector<Item> items(count);
    inTwo(count, [&items](int begin, int end) {
        for (int i = begin; i < end; ++i) {
            Shape scratch{};
            if (!isShape(objectType[i]))
                items[i].row = -2;
            else if (!describe(i, scratch, items[i]))
                items[i].row = -1;
        }
    });
    return items;
}

// The shapes in the places accel.shapes's comment gives, each written once:
// a million objects' shapes are made where they stay, on both threads.
void placeShapes(int count, const std::vector<char>& unbounded) {
    std::vector<int> rowAt;
    rowAt.reserve(count);
    accel.slot.assign(count, -1);
    for (int row : accel.order) {
        accel.slot[row] = static_cast<int>(rowAt.size());
        rowAt.push_back(row);
    }
    for (int row = 0; row < count; ++row)
        if (accel.slot[row] < 0) {
            accel.slot[row] = static_cast<int>(rowAt.size());
            rowAt.push_back(row);
        }
    accel.shapes.resize(count);  // left unwritten: see Uninitialised
    inTwo(count, [&](int begin, int end) {
        for (int k = begin; k < end; ++k) {
            const int row = rowAt[k];
            Shape s{};
            Item scratch{};
            if (isShape(objectType[row])) describe(row, s, scratch);
            if (unbounded[row]) s.filter = false;  // the slack argument needs bounded coordinates
            accel.shapes[k] = s;
        }
    });
}

}  // namespace

void buildAcceleration() {
    searchPlaced = 0;
    accel = Acceleration{};
    const int count = std::max(0, std::min(objectCount, static_cast<int>(objectType.size())));
    std::vector<Item> items = boxes(count);
    std::vector<char> unbounded(count);
    double extent = 1.0;
    for (int k = 0; k < 3; ++k) extent = std::max(extent, std::fabs(eye[k]));
    extent = std::max(extent, std::fabs(planeWidth) + std::fabs(planeHeight));
    if (!std::isfinite(extent)) extent = 1.0;
    std::size_t kept = 0;  // the items of the hierarchy, moved to the front
    for (int i = 0; i < count; ++i) {
        const Item item = items[i];
        unbounded[i] = item.row == -1;
        if (item.row == -1) accel.always.push_back(i);
        if (item.row < 0) continue;
        for (int k = 0; k < 3; ++k)
            extent = std::max({extent, std::fabs(item.lo[k]), std::fabs(item.hi[k])});
        items[kept++] = item;
    }
    items.resize(kept);
    accel.meshSearch.resize(meshes.size());
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        accel.meshSearch[m].scan = !meshBounds(meshes[m], HUGE_COORDINATE, lo, hi);
        if (accel.meshSearch[m].scan) continue;
        for (int k = 0; k < 3 && lo[k] <= hi[k]; ++k)
            extent = std::max({extent, std::fabs(lo[k]), std::fabs(hi[k])});
    }

    const double margin = 1e-7 * extent;
    accel.slack = margin;
    for (Item& item : items)
        for (int k = 0; k < 3; ++k) {
            item.lo[k] -= margin;
            item.hi[k] += margin;
        }
    accel.originLimit = std::min(1e3 * extent, DBL_MAX);  // finite: see usable()
    buildHierarchy(items);
#ifdef __GLIBC__
    // What reading and the build freed (row records, the binary tree, in
    // small blocks the allocator keeps) goes back to the system before the
    // largest array is made, so the peak is not their sum: 60 MB less for a
    // million triangles.
    malloc_trim(0);
#endif
    placeShapes(count, unbounded);
    fillLanes();
    for (std::size_t m = 0; m < meshes.size(); ++m)
        buildMeshSearch(accel.meshSearch[m], static_cast<int>(m), margin);
    accel.version = sceneVersion;
}

}  // namespace fotolume::detail

namespace fotolume {

void limitSearchLanes(int width) {
    detail::laneLimit = width;
    detail::accel.version = 0;  // rebuilt on the next search
}

}  // namespace fotolume
