// Searching the meshes: each mesh's hierarchy, nearer boxes first, with
// the box tests that mesh_search.hpp argues never skip a face the scan
// would take.
#include "geometry/mesh_search.hpp"

#include <cmath>
#include <utility>

#include "geometry/accel.hpp"

namespace fotolume::detail {

namespace {

struct Waiting {
    int first;
    int count;
    double entry;  // where the ray enters the box along its dominant axis
};

// Whether the ray's line meets child `c`'s box and the box's interval on
// the dominant axis reaches past the least hit distance; `entry` is that
// interval's start. A NaN (a zero direction component and the origin on a
// face) ignores its axis: never a wrong skip.
bool entered(const MeshNode& node, int c, const double o[3], const double inv[3], int kz,
             double& entry) {
    double near = -INFINITY, far = INFINITY;
    for (int k = 0; k < 3; ++k) {
        double a = (static_cast<double>(node.lo[k][c]) - o[k]) * inv[k];
        double b = (static_cast<double>(node.hi[k][c]) - o[k]) * inv[k];
        if (a > b) std::swap(a, b);
        if (a > near) near = a;
        if (b < far) far = b;
        if (k == kz) {
            if (b < MIN_HIT_DISTANCE) return false;
            entry = std::isnan(a) ? -INFINITY : a;
        }
    }
    return !(near > far);
}

void searchOne(const MeshSearch& search, const Shear& shear, const double o[3],
               const double inv[3], double& best, int& bestRow, int& bestFace) {
    const MeshRow& mesh = meshes[search.mesh];
    thread_local std::vector<Waiting> waiting;
    const std::size_t need = 3 * static_cast<std::size_t>(search.depth) + 4;
    if (waiting.size() < need) waiting.resize(need);
    Waiting* const stack = waiting.data();
    int top = 0;
    stack[top++] = Waiting{0, 0, -INFINITY};
    long long boxes = 0, objects = 0;
    FaceHit hit;
    while (top > 0) {
        const Waiting next = stack[--top];
        if (bestRow >= 0 && next.entry > best) continue;
        if (next.count > 0) {
            objects += next.count;
            for (int i = next.first; i < next.first + next.count; ++i) {
                const int f = search.order[i];
                if (faceHit(mesh, f, shear, o, hit))
                    considerFace(hit.t, search.row, f, best, bestRow, bestFace);
            }
            continue;
        }
        const MeshNode& node = search.nodes[next.first];
        const int base = top;
        for (int c = 0; c < 4; ++c) {
            if (node.count[c] < 0) continue;
            ++boxes;
            double entry = -INFINITY;
            if (!entered(node, c, o, inv, shear.kz, entry)) continue;
            int at = top++;  // farther children first on the stack
            while (at > base && entry > stack[at - 1].entry) {
                stack[at] = stack[at - 1];
                --at;
            }
            stack[at] = Waiting{node.first[c], node.count[c], entry};
        }
    }
    traceCounts.boxes += boxes;
    traceCounts.objects += objects;
}

}  // namespace

void searchMeshes(const std::vector<MeshSearch>& all, const double o[3], const double d[3],
                  double& best, int& bestRow, int& bestFace) {
    const Shear shear = shearOf(d);
    if (!shear.usable) return;
    const double inv[3] = {1.0 / d[0], 1.0 / d[1], 1.0 / d[2]};
    FaceHit hit;
    for (const MeshSearch& search : all) {
        if (!search.scan) {
            if (!search.nodes.empty()) searchOne(search, shear, o, inv, best, bestRow, bestFace);
            continue;
        }
        const MeshRow& mesh = meshes[search.mesh];
        const int faces = static_cast<int>(mesh.faceCount());
        traceCounts.objects += faces;
        for (int f = 0; f < faces; ++f)
            if (faceHit(mesh, f, shear, o, hit))
                considerFace(hit.t, search.row, f, best, bestRow, bestFace);
    }
}

}  // namespace fotolume::detail
