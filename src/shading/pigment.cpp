#include <cmath>
#include <cstdint>

#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume {

namespace {

// floor() converted to a 32-bit cell number. NaN and values outside the
// range give INT32_MIN, what x86 hardware conversion gives, so that a huge
// coordinate still has a defined, stable cell.
std::int32_t cellNumber(double q) {
    const double f = std::floor(q);
    if (!(f >= -2147483648.0 && f <= 2147483647.0)) return INT32_MIN;
    return static_cast<std::int32_t>(f);
}

// Sum of three cell numbers with 32-bit wrap-around.
std::int32_t wrappingSum(std::int32_t a, std::int32_t b, std::int32_t c) {
    const std::uint32_t sum = static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b) +
                              static_cast<std::uint32_t>(c);
    return static_cast<std::int32_t>(sum);
}

}  // namespace

Vec3 evalPigment(const Vec3& point, int object) {
    const int g = objectPigment[object];
    switch (pigmentType[g]) {
    case PigmentType::Solid:
        return plain(pigmentColor1[g]);
    case PigmentType::Checker: {
        const double size = pigmentSize[g];
        const std::int32_t s = wrappingSum(cellNumber(point[0] / size), cellNumber(point[1] / size),
                                           cellNumber(point[2] / size));
        return plain(s % 2 == 0 ? pigmentColor1[g] : pigmentColor2[g]);
    }
    case PigmentType::Gradient: {
        const Vec3 direction = plain(pigmentDirection[g]);
        const Vec3 d = subtract(point, plain(pigmentOrigin[g]));
        const double t = dot(d, direction) / dot(direction, direction);
        const double f = (1 - std::cos(t * PI_TEN_DIGITS)) * 0.5;
        return add(scale(1 - f, plain(pigmentColor1[g])), scale(f, plain(pigmentColor2[g])));
    }
    case PigmentType::Unknown:
        break;
    }
    // A pigment with an unrecognised type word (the reader warned) is black.
    return Vec3{{0.0, 0.0, 0.0}};
}

Vetor evalPigment(const Vetor& point, int object) {
    return toVetor(evalPigment(plain(point), object));
}

}  // namespace fotolume
