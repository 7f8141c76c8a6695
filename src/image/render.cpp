#include "image/image.hpp"
#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume {

// The corner is formed in the order of the full expression
// eye - back - right + up + v * right - u * up, so hoisting it out of the
// per-pixel work changes no bit.
PrimaryRays::PrimaryRays()
    : corner_(add(subtract(subtract(eye, cameraBack), cameraRight), cameraUp)),
      upLength_(length(cameraUp)),
      rightLength_(length(cameraRight)) {}

Vetor PrimaryRays::down(double row) const {
    const double u = ((row + 0.5) * pixelSize) / upLength_;
    return scale(u, cameraUp);
}

void PrimaryRays::ray(const Vetor& down, double col, Vetor& plane, Vetor& direction) const {
    const double v = ((col + 0.5) * pixelSize) / rightLength_;
    plane = subtract(add(corner_, scale(v, cameraRight)), down);
    direction = subtract(plane, eye);
    normalize(direction);
}

void renderPixels(const PrimaryRays& rays, long long first, long long count, unsigned char* bytes) {
    Vetor plane;
    Vetor direction;
    Vetor color;
    // Whole numbers below 2^31 are exact doubles: the same values the row
    // and column counters of a plain double loop would hold.
    long long row = first / imageWidth;
    long long col = first % imageWidth;
    Vetor down = rays.down(static_cast<double>(row));
    for (long long n = 0; n < count; ++n) {
        if (col == imageWidth) {
            col = 0;
            down = rays.down(static_cast<double>(++row));
        }
        rays.ray(down, static_cast<double>(col++), plane, direction);
        color = traceRay(plane, direction, 0);
        for (int k = 0; k < 3; ++k) {
            if (color[k] > 1.0) color[k] = 1.0;
            *bytes++ = channelByte(color[k]);
        }
    }
}

}  // namespace fotolume
