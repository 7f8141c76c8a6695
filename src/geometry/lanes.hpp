// The spheres and discs tested for every ray, two at a time in the lanes of
// SSE2 registers. Each lane makes exactly the IEEE operations of the Vetor
// test in intersect.cpp, in its order (the products of a sum are formed as
// written, the square roots and quotients are the correctly rounded ones),
// so each lane's distance is the scan's to the last bit. What the scalar
// tests of shape_tests.hpp skip with early rejections is computed here and
// then masked: a negative discriminant gives a NaN root, which no distance
// test accepts. Internal to the geometry folder.
#pragma once

#include <vector>

#include "geometry/simd.hpp"

namespace fotolume::detail {

// Objects of one kind, component by component, padded to an even count
// with lanes that can never hit (radius 0, normal 0).
struct Lanes {
    std::vector<double> a[3];  // centre
    std::vector<double> n[3];  // disc: the normal as given
    std::vector<double> r;     // radius
    std::vector<int> row;      // object row (the padding repeats the last)

    int size() const { return static_cast<int>(r.size()); }
    void push(const double centre[3], const double normal[3], double radius, int object) {
        for (int k = 0; k < 3; ++k) {
            a[k].push_back(centre[k]);
            n[k].push_back(normal[k]);
        }
        r.push_back(radius);
        row.push_back(object);
    }
    void pad() {
        const double zero[3] = {0.0, 0.0, 0.0};
        if (size() % 2 != 0) push(zero, zero, 0.0, row.back());
    }
};

#if FOTOLUME_SSE2

// The two lanes' hits (bit c for lane c) and distances, for spheres i, i+1.
inline int sphereLanesHit(const Lanes& s, int i, const double o[3], const double d[3],
                          double t[2]) {
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
    // h2 < MIN_DISCRIMINANT misses; otherwise the near root if it is far
    // enough, else the far one.
    const __m128d wide = _mm_cmpnlt_pd(h2, _mm_set1_pd(MIN_DISCRIMINANT));
    const __m128d nearOk = _mm_cmpgt_pd(t0, least);
    const __m128d farOk = _mm_cmpgt_pd(t1, least);
    const __m128d chosen = _mm_or_pd(_mm_and_pd(nearOk, t0), _mm_andnot_pd(nearOk, t1));
    _mm_storeu_pd(t, chosen);
    return _mm_movemask_pd(_mm_and_pd(wide, _mm_or_pd(nearOk, farOk)));
}

// The same for discs i, i+1. A zero denominator is a miss; the lane's
// quotient is then infinite or NaN and is masked away.
inline int discLanesHit(const Lanes& s, int i, const double o[3], const double d[3], double t[2]) {
    __m128d den = _mm_setzero_pd();
    __m128d num = _mm_setzero_pd();
    __m128d n[3], a[3];
    for (int k = 0; k < 3; ++k) {
        n[k] = _mm_loadu_pd(&s.n[k][i]);
        a[k] = _mm_loadu_pd(&s.a[k][i]);
        den = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(d[k]), n[k]), den);
        num = _mm_add_pd(_mm_mul_pd(_mm_sub_pd(a[k], _mm_set1_pd(o[k])), n[k]), num);
    }
    const __m128d candidate = _mm_div_pd(num, den);
    __m128d qq = _mm_setzero_pd();
    for (int k = 0; k < 3; ++k) {
        const __m128d ok = _mm_set1_pd(o[k]);
        const __m128d p = _mm_add_pd(ok, _mm_mul_pd(candidate, _mm_set1_pd(d[k])));
        const __m128d q = _mm_sub_pd(p, a[k]);
        qq = _mm_add_pd(_mm_mul_pd(q, q), qq);
    }
    const __m128d inside = _mm_cmplt_pd(_mm_sqrt_pd(qq), _mm_loadu_pd(&s.r[i]));
    const __m128d ahead = _mm_cmpgt_pd(candidate, _mm_set1_pd(MIN_HIT_DISTANCE));
    const __m128d facing = _mm_cmpneq_pd(den, _mm_setzero_pd());
    _mm_storeu_pd(t, candidate);
    return _mm_movemask_pd(_mm_and_pd(_mm_and_pd(inside, ahead), facing));
}

#endif

}  // namespace fotolume::detail
