// The lane tests of lanes.hpp. The SSE2 and AVX forms are the same sequence
// of operations on registers of two and four doubles; the differential test
// runs both against the scan.
#include "geometry/lanes.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/geometry.hpp"

#if FOTOLUME_SSE2
#include <immintrin.h>
#endif

namespace fotolume::detail {

void Lanes::push(const double centre[3], const double normal[3], double radius, int object) {
    for (int k = 0; k < 3; ++k) {
        a[k].push_back(centre[k]);
        n[k].push_back(normal[k]);
    }
    r.push_back(radius);
    row.push_back(object);
}

void Lanes::pad(int width) {
    const double zero[3] = {0.0, 0.0, 0.0};
    while (size() % width != 0) push(zero, zero, 0.0, row.back());
}

namespace {

// One child's box, one axis at a time: the reference the lanes follow.
// std::min(t1, t2) is (t2 < t1 ? t2 : t1), the minimum instruction's
// operand order below; std::max(near, m) is (near < m ? m : near).
int enterOne(const Node& node, int c, const double o[3], const double inv[3], double& entry) {
    double near = -INFINITY;
    double far = INFINITY;
    for (int k = 0; k < 3; ++k) {
        const double t1 = (node.lo[k][c] - o[k]) * inv[k];
        const double t2 = (node.hi[k][c] - o[k]) * inv[k];
        near = std::max(near, std::min(t1, t2));
        far = std::min(far, std::max(t1, t2));
    }
    entry = near;
    return far < near || far < 0.0 ? 0 : 1;
}

}  // namespace

#if FOTOLUME_SSE2

namespace {

void foldHits(int hits, const double* t, const int* rows, double& best, int& bestRow) {
    for (int c = 0; hits != 0; ++c, hits >>= 1)
        if (hits & 1) consider(t[c], rows[c], best, bestRow);
}

// Spheres: tca = D.L, perp = L - tca D, h2 = r r - |perp| |perp|; a miss
// when h2 < MIN_DISCRIMINANT, else the near root if it is beyond
// MIN_HIT_DISTANCE, else the far one if it is.
int spheres2(const Lanes& s, int i, const double o[3], const double d[3], double t[2]) {
    __m128d l[3], dk[3];
    __m128d tca = _mm_setzero_pd();
    for (int k = 0; k < 3; ++k) {
        dk[k] = _mm_set1_pd(d[k]);
        l[k] = _mm_sub_pd(_mm_loadu_pd(&s.a[k][i]), _mm_set1_pd(o[k]));
        tca = _mm_add_pd(_mm_mul_pd(dk[k], l[k]), tca);
    }
    __m128d pp = _mm_setzero_pd();
    for (int k = 0; k < 3; ++k) {
        const __m128d perp = _mm_sub_pd(l[k], _mm_mul_pd(tca, dk[k]));
        pp = _mm_add_pd(_mm_mul_pd(perp, perp), pp);
    }
    const __m128d r = _mm_loadu_pd(&s.r[i]);
    const __m128d len = _mm_sqrt_pd(pp);
    const __m128d h2 = _mm_sub_pd(_mm_mul_pd(r, r), _mm_mul_pd(len, len));
    const __m128d root = _mm_sqrt_pd(h2);
    const __m128d t0 = _mm_sub_pd(tca, root);
    const __m128d t1 = _mm_add_pd(tca, root);
    const __m128d least = _mm_set1_pd(MIN_HIT_DISTANCE);
    const __m128d wide = _mm_cmpnlt_pd(h2, _mm_set1_pd(MIN_DISCRIMINANT));
    const __m128d nearOk = _mm_cmpgt_pd(t0, least);
    const __m128d farOk = _mm_cmpgt_pd(t1, least);
    _mm_storeu_pd(t, _mm_or_pd(_mm_and_pd(nearOk, t0), _mm_andnot_pd(nearOk, t1)));
    return _mm_movemask_pd(_mm_and_pd(wide, _mm_or_pd(nearOk, farOk)));
}

// Discs: den = D.N (zero: a miss), t = ((C - O).N) / den, P = O + t D; a
// hit when t is beyond MIN_HIT_DISTANCE and |P - C| < r.
int discs2(const Lanes& s, int i, const double o[3], const double d[3], double t[2]) {
    __m128d den = _mm_setzero_pd();
    __m128d num = _mm_setzero_pd();
    __m128d a[3];
    for (int k = 0; k < 3; ++k) {
        const __m128d n = _mm_loadu_pd(&s.n[k][i]);
        a[k] = _mm_loadu_pd(&s.a[k][i]);
        den = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(d[k]), n), den);
        num = _mm_add_pd(_mm_mul_pd(_mm_sub_pd(a[k], _mm_set1_pd(o[k])), n), num);
    }
    const __m128d candidate = _mm_div_pd(num, den);
    __m128d qq = _mm_setzero_pd();
    for (int k = 0; k < 3; ++k) {
        const __m128d p = _mm_add_pd(_mm_set1_pd(o[k]), _mm_mul_pd(candidate, _mm_set1_pd(d[k])));
        const __m128d q = _mm_sub_pd(p, a[k]);
        qq = _mm_add_pd(_mm_mul_pd(q, q), qq);
    }
    const __m128d inside = _mm_cmplt_pd(_mm_sqrt_pd(qq), _mm_loadu_pd(&s.r[i]));
    const __m128d ahead = _mm_cmpgt_pd(candidate, _mm_set1_pd(MIN_HIT_DISTANCE));
    const __m128d facing = _mm_cmpneq_pd(den, _mm_setzero_pd());
    _mm_storeu_pd(t, candidate);
    return _mm_movemask_pd(_mm_and_pd(_mm_and_pd(inside, ahead), facing));
}

// The same two tests on four lanes; the comparison predicates are the
// ordered/unordered forms of the ones above (NLT_UQ is cmpnlt, and so on).
[[gnu::target("avx")]] int spheres4(const Lanes& s, int i, const double o[3], const double d[3],
                                    double t[4]) {
    __m256d l[3], dk[3];
    __m256d tca = _mm256_setzero_pd();
    for (int k = 0; k < 3; ++k) {
        dk[k] = _mm256_set1_pd(d[k]);
        l[k] = _mm256_sub_pd(_mm256_loadu_pd(&s.a[k][i]), _mm256_set1_pd(o[k]));
        tca = _mm256_add_pd(_mm256_mul_pd(dk[k], l[k]), tca);
    }
    __m256d pp = _mm256_setzero_pd();
    for (int k = 0; k < 3; ++k) {
        const __m256d perp = _mm256_sub_pd(l[k], _mm256_mul_pd(tca, dk[k]));
        pp = _mm256_add_pd(_mm256_mul_pd(perp, perp), pp);
    }
    const __m256d r = _mm256_loadu_pd(&s.r[i]);
    const __m256d len = _mm256_sqrt_pd(pp);
    const __m256d h2 = _mm256_sub_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(len, len));
    const __m256d root = _mm256_sqrt_pd(h2);
    const __m256d t0 = _mm256_sub_pd(tca, root);
    const __m256d t1 = _mm256_add_pd(tca, root);
    const __m256d least = _mm256_set1_pd(MIN_HIT_DISTANCE);
    const __m256d wide = _mm256_cmp_pd(h2, _mm256_set1_pd(MIN_DISCRIMINANT), _CMP_NLT_UQ);
    const __m256d nearOk = _mm256_cmp_pd(t0, least, _CMP_GT_OQ);
    const __m256d farOk = _mm256_cmp_pd(t1, least, _CMP_GT_OQ);
    _mm256_storeu_pd(t, _mm256_or_pd(_mm256_and_pd(nearOk, t0), _mm256_andnot_pd(nearOk, t1)));
    return _mm256_movemask_pd(_mm256_and_pd(wide, _mm256_or_pd(nearOk, farOk)));
}

[[gnu::target("avx")]] int discs4(const Lanes& s, int i, const double o[3], const double d[3],
                                  double t[4]) {
    __m256d den = _mm256_setzero_pd();
    __m256d num = _mm256_setzero_pd();
    __m256d a[3];
    for (int k = 0; k < 3; ++k) {
        const __m256d n = _mm256_loadu_pd(&s.n[k][i]);
        a[k] = _mm256_loadu_pd(&s.a[k][i]);
        den = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(d[k]), n), den);
        num = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(a[k], _mm256_set1_pd(o[k])), n), num);
    }
    const __m256d candidate = _mm256_div_pd(num, den);
    __m256d qq = _mm256_setzero_pd();
    for (int k = 0; k < 3; ++k) {
        const __m256d p =
            _mm256_add_pd(_mm256_set1_pd(o[k]), _mm256_mul_pd(candidate, _mm256_set1_pd(d[k])));
        const __m256d q = _mm256_sub_pd(p, a[k]);
        qq = _mm256_add_pd(_mm256_mul_pd(q, q), qq);
    }
    const __m256d inside = _mm256_cmp_pd(_mm256_sqrt_pd(qq), _mm256_loadu_pd(&s.r[i]), _CMP_LT_OQ);
    const __m256d ahead = _mm256_cmp_pd(candidate, _mm256_set1_pd(MIN_HIT_DISTANCE), _CMP_GT_OQ);
    const __m256d facing = _mm256_cmp_pd(den, _mm256_setzero_pd(), _CMP_NEQ_UQ);
    _mm256_storeu_pd(t, candidate);
    return _mm256_movemask_pd(_mm256_and_pd(_mm256_and_pd(inside, ahead), facing));
}

[[gnu::target("avx")]] int enterChildren4(const Node& node, const double o[3], const double inv[3],
                                          double entry[4]) {
    __m256d near = _mm256_set1_pd(-INFINITY);
    __m256d far = _mm256_set1_pd(INFINITY);
    for (int k = 0; k < 3; ++k) {
        const __m256d origin = _mm256_set1_pd(o[k]);
        const __m256d scale = _mm256_set1_pd(inv[k]);
        const __m256d t1 = _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(node.lo[k]), origin), scale);
        const __m256d t2 = _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(node.hi[k]), origin), scale);
        near = _mm256_max_pd(_mm256_min_pd(t2, t1), near);
        far = _mm256_min_pd(_mm256_max_pd(t2, t1), far);
    }
    _mm256_storeu_pd(entry, near);
    const __m256d entered = _mm256_and_pd(_mm256_cmp_pd(far, near, _CMP_NLT_UQ),
                                          _mm256_cmp_pd(far, _mm256_setzero_pd(), _CMP_NLT_UQ));
    return _mm256_movemask_pd(entered);
}

[[gnu::target("avx")]] void searchLanes4(const Lanes& spheres, const Lanes& discs,
                                         const double o[3], const double d[3], double& best,
                                         int& bestRow) {
    double t[4];
    for (int i = 0; i < spheres.size(); i += 4)
        if (const int hits = spheres4(spheres, i, o, d, t))
            foldHits(hits, t, &spheres.row[i], best, bestRow);
    for (int i = 0; i < discs.size(); i += 4)
        if (const int hits = discs4(discs, i, o, d, t))
            foldHits(hits, t, &discs.row[i], best, bestRow);
}

}  // namespace

int widestLanes() {
    static const int width = __builtin_cpu_supports("avx") ? 4 : 2;
    return width;
}

int enterChildren(int width, const Node& node, const double o[3], const double inv[3],
                  double entry[4]) {
    if (width == 4) return enterChildren4(node, o, inv, entry);
    int entered = 0;
    for (int c = 0; c < 4; ++c) entered |= enterOne(node, c, o, inv, entry[c]) << c;
    return entered;
}

void searchLanes(int width, const Lanes& spheres, const Lanes& discs, const double o[3],
                 const double d[3], double& best, int& bestRow) {
    if (width == 4) {
        searchLanes4(spheres, discs, o, d, best, bestRow);
        return;
    }
    double t[2];
    for (int i = 0; i < spheres.size(); i += 2)
        if (const int hits = spheres2(spheres, i, o, d, t))
            foldHits(hits, t, &spheres.row[i], best, bestRow);
    for (int i = 0; i < discs.size(); i += 2)
        if (const int hits = discs2(discs, i, o, d, t))
            foldHits(hits, t, &discs.row[i], best, bestRow);
}

#else

int widestLanes() { return 1; }

int enterChildren(int, const Node& node, const double o[3], const double inv[3], double entry[4]) {
    int entered = 0;
    for (int c = 0; c < 4; ++c) entered |= enterOne(node, c, o, inv, entry[c]) << c;
    return entered;
}

void searchLanes(int, const Lanes&, const Lanes&, const double*, const double*, double&, int&) {}

#endif

}  // namespace fotolume::detail
