// Vetor's arithmetic on three doubles held in place. A Vetor owns a block
// of its own, so each result costs an allocation; the tracer's inner loops
// work on Vec3 instead. Every operation below is the Vetor operation of the
// same name in the same order, so results agree to the last bit; mixing the
// two types does not compile, and conversions are written out.
#pragma once

#include <cmath>

#include "geometry/vetor.hpp"

namespace fotolume {

struct Vec3 {
    double v[3];
    double& operator[](int i) { return v[i]; }
    const double& operator[](int i) const { return v[i]; }
};

inline Vec3 plain(const Vetor& a) { return Vec3{{a[0], a[1], a[2]}}; }
inline Vetor toVetor(const Vec3& a) { return Vetor(a[0], a[1], a[2]); }

inline double dot(const Vec3& a, const Vec3& b) {
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) sum = a[i] * b[i] + sum;
    return sum;
}

inline double length(const Vec3& v) { return std::sqrt(dot(v, v)); }

inline void normalize(Vec3& v) {
    const double r = 1.0 / length(v);
    v[0] = r * v[0];
    v[1] = r * v[1];
    v[2] = r * v[2];
}

inline Vec3 add(const Vec3& a, const Vec3& b) {
    return Vec3{{a[0] + b[0], a[1] + b[1], a[2] + b[2]}};
}

inline Vec3 subtract(const Vec3& a, const Vec3& b) {
    return Vec3{{a[0] - b[0], a[1] - b[1], a[2] - b[2]}};
}

inline Vec3 scale(double s, const Vec3& v) { return Vec3{{s * v[0], s * v[1], s * v[2]}}; }

}  // namespace fotolume
