// The fast nearest-hit search's data: plain-double copies of the objects
// and a bounding-volume hierarchy over them. Internal to the geometry folder.
//
// Why it returns exactly what the table-order scan of intersect.cpp
// returns: each object test (shape_tests.hpp, and each lane of lanes.hpp)
// is the same sequence of IEEE operations as the Vetor form, on plain
// doubles; hits are kept by least distance and then lowest row, in
// whatever order they are found; and the hierarchy only skips objects that
// cannot hold a nearer hit. Every accepted hit puts the
// computed point within the object (spheres and discs test it against the
// radius, triangles against the barycentric range), so its distance is
// bounded by the scene's size and the rounding error of that distance is a
// few ulps of that size. Boxes are widened by far more than that (1e-7 of
// the scene's extent). Rays for which that argument does not hold
// (non-finite values, a direction far from unit length, an origin far
// outside the scene) take the scan, and so do objects with non-finite or
// enormous coordinates.
#pragma once

#include <cmath>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "geometry/geometry.hpp"
#include "geometry/lanes.hpp"
#include "geometry/mesh_search.hpp"
#include "scene/scene.hpp"

namespace fotolume::detail {

// No member has a default value, so that a million of them can be made
// without writing them twice: a Shape{} is all zeros.
struct Shape {
    ObjectType type;
    // Triangle pre-filter: whether it may be used (beside the type, so the
    // two take one word).
    bool filter;
    double a[3];  // centre or first vertex
    union {
        double n[3];   // disc: the normal as given
        double e1[3];  // triangle: B - A
    };
    double e2[3];    // triangle: C - A
    double unit[3];  // triangle: normalized E1 x E2; disc: normalized normal
    double r;        // sphere and disc radius
    // Triangle pre-filter: in-plane unit normals of the edges AB, BC and CA,
    // pointing out of the triangle.
    double edge[3][3];
};

// An allocator that leaves elements of a type like Shape unwritten when a
// vector grows, for arrays whose every element is written right after.
template <typename T>
struct Uninitialised : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = Uninitialised<U>;
    };
    Uninitialised() = default;
    template <typename U>
    Uninitialised(const Uninitialised<U>&) {}
    template <typename U>
    void construct(U* place) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

struct Acceleration {
    unsigned version = 0;       // the sceneVersion it was built for (0: never built)
    // The objects of the hierarchy's leaves in `order`'s order, so that a
    // leaf's lie side by side in memory, then the rest by row; `slot` says
    // where each row's is.
    std::vector<Shape, Uninitialised<Shape>> shapes;
    std::vector<int> slot;
    std::vector<int> always;    // rows tested for every ray, in table order
    // The spheres and discs of `always` in lanes of laneWidth (when it is
    // more than one), and the rows tested one by one: the rest.
    int laneWidth = 1;  // also the width of the node tests
    Lanes sphereLanes, discLanes;
    std::vector<int> alwaysRest;
    std::vector<int> order;    // rows in the hierarchy's leaves
    std::vector<Node> nodes;   // the hierarchy, its root first (none: empty)
    int depth = 0;             // inner nodes on the longest path from the root
    double originLimit = 0.0;  // beyond this the scan is used
    // Bound on how far the point of an accepted hit can lie from its object.
    double slack = 0.0;
    // Each mesh row's faces, searched apart from the other objects.
    std::vector<MeshSearch> meshSearch;
};

// Whether a row of this type is one of the search's shapes (mesh rows are
// searched through meshSearch instead).
inline bool isShape(ObjectType type) {
    return type == ObjectType::Sphere || type == ObjectType::Triangle || type == ObjectType::Disc;
}

extern Acceleration accel;

// An object's box while the hierarchy is built.
struct Item {
    int row;
    double lo[3];
    double hi[3];
    // Worked out when asked rather than kept: a million items' worth of
    // memory, for a few operations in the build.
    double centre(int k) const { return 0.5 * (lo[k] + hi[k]); }
};

// Puts the objects of `items` into the hierarchy (accel.nodes and
// accel.order), or into accel.always: objects as large as a floor, and all
// of them in a scene of a dozen or fewer, where a hierarchy costs more than
// it saves. Takes `items` apart: it may be empty afterwards.
void buildHierarchy(std::vector<Item>& items);

// The binned surface-area split of items[begin, end): the objects whose
// centroid falls in a bin below the best plane are moved first. Returns how
// many they are, or 0 when all centroids coincide (no plane separates them).
int binnedSplit(std::vector<Item>& items, int begin, int end);

// Builds `accel` from the object table and the camera (for the scene's extent).
void buildAcceleration();

inline double dot3(const double a[3], const double b[3]) {
    double sum = 0.0;
    sum = a[0] * b[0] + sum;
    sum = a[1] * b[1] + sum;
    sum = a[2] * b[2] + sum;
    return sum;
}

// Half the surface area of a box: the surface-area heuristic's measure.
inline double halfArea(const double lo[3], const double hi[3]) {
    const double x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
    return x * y + y * z + z * x;
}

inline double length3(const double v[3]) { return std::sqrt(dot3(v, v)); }

inline void normalized(double v[3]) {
    const double r = 1.0 / length3(v);
    v[0] = r * v[0];
    v[1] = r * v[1];
    v[2] = r * v[2];
}

inline bool finite3(const double v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace fotolume::detail
