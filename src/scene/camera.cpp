#include <cmath>

#include "scene/scene.hpp"

namespace fotolume {

namespace {
bool finite(const Vetor& v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}
}  // namespace

CameraStatus setupCamera(const Vetor& lookAt, const Vetor& upVector, double fieldOfView) {
    cameraBack = subtract(eye, lookAt);
    const double backLength = length(cameraBack);
    normalize(cameraBack);

    const double d = dot(upVector, cameraBack);
    cameraUp = subtract(upVector, scale(d, cameraBack));
    const double upLength = length(cameraUp);
    normalize(cameraUp);

    cameraRight = cross(cameraUp, cameraBack);
    normalize(cameraRight);

    const double half = fieldOfView * PI_TEN_DIGITS * (1.0 / 180.0) * 0.5;
    planeHeight = std::tan(half) * 2;
    pixelSize = planeHeight / imageHeight;
    planeWidth = imageWidth * pixelSize;
    cameraRight = scale(planeWidth * 0.5, cameraRight);
    cameraUp = scale(planeHeight * 0.5, cameraUp);
    traceDepth = 0;

    if (!(fieldOfView > 0.0 && fieldOfView < 180.0)) return CameraStatus::BadFieldOfView;
    if (!finite(eye) || !finite(lookAt) || !finite(upVector)) return CameraStatus::NotFinite;
    if (backLength == 0.0) return CameraStatus::EyeAtLookAt;
    // Rounding leaves a residue of a few ulps when the up vector is parallel
    // to the view; only that is refused. A part across the view of 1e-9 of
    // the length still gives an exact basis.
    if (!(upLength > 1e-12 * length(upVector))) return CameraStatus::UpAlongView;
    if (!finite(cameraBack) || !finite(cameraUp) || !finite(cameraRight) ||
        !std::isfinite(pixelSize) || !(pixelSize > 0.0))
        return CameraStatus::NotFinite;
    return CameraStatus::Ok;
}

}  // namespace fotolume
