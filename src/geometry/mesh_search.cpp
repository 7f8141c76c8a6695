// Searching the meshes: each mesh's hierarchy, nearer boxes first, with
// the box tests that mesh_search.hpp argues never skip a face the scan
// would take.
#include "geometry/mesh_search.hpp"

#include <cmath>
#include <utility>

#include "geometry/accel.hpp"

#if FOTOLUME_SSE2
#include <immintrin.h>
#endif

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

// The four children at once (bit c for child c), each by the rule of
// entered(); with AVX the same comparisons in lanes, NaN ignored as there.
int enterAll(int width, const MeshNode& node, const double o[3], const double inv[3], int kz,
             double entry[4]);

void searchOne(const MeshSearch& search, const Shear& shear, const double o[3], const double inv[3],
               double& best, int& bestRow, int& bestFace) {
    const MeshRow& mesh = meshes[search.mesh];
    thread_local std::vector<Waiting> waiting;
    const std::size_t need = 3 * static_cast<std::size_t>(search.depth) + 4;
    if (waiting.size() < need) waiting.resize(need);
    Waiting* const stack = waiting.data();
    int top = 0;
    stack[top++] = Waiting{0, 0, -INFINITY};
    long long boxes = 0, objects = 0;
    const int width = accel.laneWidth;
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
        double entry[4];
        int inside = enterAll(width, node, o, inv, shear.kz, entry);
        boxes += 4;
        for (int c = 0; inside != 0; ++c, inside >>= 1) {
            if (!(inside & 1) || node.count[c] < 0) continue;
            int at = top++;  // farther children first on the stack
            while (at > base && entry[c] > stack[at - 1].entry) {
                stack[at] = stack[at - 1];
                --at;
            }
            stack[at] = Waiting{node.first[c], node.count[c], entry[c]};
        }
    }
    traceCounts.boxes += boxes;
    traceCounts.objects += objects;
}

#if FOTOLUME_SSE2
[[gnu::target("avx")]] int enterAll4(const MeshNode& node, const double o[3], const double inv[3],
                                     int kz, double entry[4]) {
    __m256d near = _mm256_set1_pd(-INFINITY), far = _mm256_set1_pd(INFINITY);
    __m256d start = near, end = far;
    for (int k = 0; k < 3; ++k) {
        const __m256d origin = _mm256_set1_pd(o[k]), scale = _mm256_set1_pd(inv[k]);
        const __m256d lo = _mm256_cvtps_pd(_mm_loadu_ps(node.lo[k]));
        const __m256d hi = _mm256_cvtps_pd(_mm_loadu_ps(node.hi[k]));
        const __m256d t1 = _mm256_mul_pd(_mm256_sub_pd(lo, origin), scale);
        const __m256d t2 = _mm256_mul_pd(_mm256_sub_pd(hi, origin), scale);
        // min and max give their second operand when either is NaN: a NaN
        // slab leaves near and far as they were.
        const __m256d low = _mm256_min_pd(t2, t1), high = _mm256_max_pd(t2, t1);
        near = _mm256_max_pd(low, near);
        far = _mm256_min_pd(high, far);
        if (k == kz) {
            start = low;
            end = high;
        }
    }
    _mm256_storeu_pd(entry, start);
    const __m256d met =
        _mm256_and_pd(_mm256_cmp_pd(near, far, _CMP_NGT_UQ),
                      _mm256_cmp_pd(end, _mm256_set1_pd(MIN_HIT_DISTANCE), _CMP_NLT_UQ));
    return _mm256_movemask_pd(met);
}
#endif

int enterAll(int width, const MeshNode& node, const double o[3], const double inv[3], int kz,
             double entry[4]) {
#if FOTOLUME_SSE2
    if (width == 4) return enterAll4(node, o, inv, kz, entry);
#endif
    (void)width;
    int met = 0;
    for (int c = 0; c < 4; ++c) {
        entry[c] = -INFINITY;
        met |= entered(node, c, o, inv, kz, entry[c]) << c;
    }
    return met;
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

}  // namespace fotolume::detail
