#include "fuzz/fuzz_body.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "geometry/geometry.hpp"
#include "image/image.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"
#include "shading/shading.hpp"

namespace fotolume::fuzz {

namespace {

std::string scratch(const char* what) {
    return (std::filesystem::temp_directory_path() /
            ("fotolume-fuzz-" + std::to_string(os::processId()) + "-" + what))
        .string();
}

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// The primary rays of the tiny image, and a few from the eye region, must
// find exactly what the scan finds.
void checkSearch() {
    const double width = imageWidth, height = imageHeight;
    const PrimaryRays rays;
    Vec3 plainPlane, plainDirection;
    for (double row = 0; row < height; row += 1) {
        const Vec3 down = rays.down(row);
        for (double col = 0; col < width; col += 1) {
            rays.ray(down, col, plainPlane, plainDirection);
            const Vetor plane = toVetor(plainPlane), direction = toVetor(plainDirection);
            int fastRow, scanRow;
            Vetor fastNormal, scanNormal;
            const double fast = intersectScene(plane, direction, fastRow, fastNormal);
            const double scan = intersectSceneLinear(plane, direction, scanRow, scanNormal);
            bool agree = same(fast, scan) && fastRow == scanRow;
            for (int k = 0; k < 3; ++k) agree = agree && same(fastNormal[k], scanNormal[k]);
            if (!agree) {
                std::fprintf(stderr, "fast search %.17g row %d, scan %.17g row %d\n", fast, fastRow,
                             scan, scanRow);
                std::abort();
            }
        }
    }
}

}  // namespace

void runOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string sceneFile = scratch("scene.txt");
    static const std::string imageFile = scratch("image.ppm");
    static std::FILE* quiet = std::fopen(os::NULL_DEVICE, "w");

    std::FILE* out = std::fopen(sceneFile.c_str(), "wb");
    if (out == nullptr) return;
    if (size > 0) std::fwrite(data, 1, size, out);
    std::fclose(out);

    resetScene();
    imageWidth = 4;
    imageHeight = 3;
    if (readScene(sceneFile.c_str(), quiet) != ReadStatus::Ok) return;
    checkSearch();
    {
        ImageFile image;
        if (!image.open(imageFile.c_str())) std::abort();
        RenderSettings settings;
        settings.threads = size % 3 == 0 ? 2 : 1;        // both render paths
        settings.frame.samples = size % 4 == 1 ? 2 : 1;  // adaptive grids too
        settings.format = size % 5 == 2 ? ImageFormat::Png : ImageFormat::Ppm;
        if (writeImage(image, settings) != WriteStatus::Ok || !image.commit()) std::abort();
    }
    if (traceDepth != 0) std::abort();
    std::remove(imageFile.c_str());
}

}  // namespace fotolume::fuzz
