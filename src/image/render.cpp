#include "image/image.hpp"
#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume {

// Primary rays start on the image plane at distance 1 in front of the eye,
// not at the eye: a surface between the eye and the plane is not seen.
void renderImage(double* red, double* green, double* blue) {
    const double upLength = length(cameraUp);
    const double rightLength = length(cameraRight);
    // eye - back - right + up is the plane's top-left corner, the same for
    // every pixel; it is formed in the same order as the full expression.
    const Vetor corner = add(subtract(subtract(eye, cameraBack), cameraRight), cameraUp);
    Vetor plane;
    Vetor direction;
    Vetor color;
    const double height = imageHeight;
    const double width = imageWidth;
    for (double row = 0.0; row < height; row += 1.0) {
        const double u = ((row + 0.5) * pixelSize) / upLength;
        const Vetor down = scale(u, cameraUp);
        for (double col = 0.0; col < width; col += 1.0) {
            const double v = ((col + 0.5) * pixelSize) / rightLength;
            plane = subtract(add(corner, scale(v, cameraRight)), down);
            direction = subtract(plane, eye);
            normalize(direction);
            color = traceRay(plane, direction, 0);
            for (int k = 0; k < 3; ++k)
                if (color[k] > 1.0) color[k] = 1.0;
            const long index = static_cast<long>(row) * imageWidth + static_cast<long>(col);
            red[index] = color[0];
            green[index] = color[1];
            blue[index] = color[2];
        }
    }
}

}  // namespace fotolume
