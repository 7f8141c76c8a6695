#include "driver/driver.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "image/image.hpp"
#include "scene/scene.hpp"

namespace fotolume {

long long parseSize(const char* text) {
    constexpr long long limit = 1LL << 31;  // past any size we accept; products stay in range
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text)
        if (value < limit) value = value * 10 + (*text - '0');
    if (value > limit) value = limit;
    return negative ? -value : value;
}

namespace {
struct ChannelBuffers {
    double* red = nullptr;
    double* green = nullptr;
    double* blue = nullptr;
    ~ChannelBuffers() {
        std::free(red);
        std::free(green);
        std::free(blue);
    }
};
}  // namespace

int runFotolume(int argc, char** argv) {
    if (argc != 5) {
        std::printf(
            "      PARAMETROS INCORRETOS\nUSO CORRETO: fotolume entrada saida.ppm largura altura");
        std::fflush(stdout);
        return EXIT_USAGE;
    }
    const long long width = parseSize(argv[3]);
    const long long height = parseSize(argv[4]);
    if (width < 1 || height < 1 || width * height > 2147483647LL) {
        std::fprintf(
            stderr,
            "Tamanho de imagem invalido: %s x %s (largura e altura devem ser pelo menos 1 e "
            "largura x altura no maximo 2147483647 pixels)\n",
            argv[3], argv[4]);
        return EXIT_USAGE;
    }
    imageWidth = static_cast<int>(width);
    imageHeight = static_cast<int>(height);

    const std::size_t pixels = static_cast<std::size_t>(width * height);
    ChannelBuffers buffers;
    buffers.red = static_cast<double*>(std::calloc(pixels, sizeof(double)));
    if (buffers.red) buffers.green = static_cast<double*>(std::calloc(pixels, sizeof(double)));
    if (buffers.green) buffers.blue = static_cast<double*>(std::calloc(pixels, sizeof(double)));
    if (buffers.blue == nullptr) {
        std::fprintf(stderr, "Memoria insuficiente para uma imagem de %d x %d pixels\n", imageWidth,
                     imageHeight);
        return EXIT_FAILURE_INPUT;
    }

    if (readScene(argv[1]) != ReadStatus::Ok) return EXIT_FAILURE_INPUT;
    renderImage(buffers.red, buffers.green, buffers.blue);
    if (writePPM(argv[2], buffers.red, buffers.green, buffers.blue, imageWidth, imageHeight) !=
        WriteStatus::Ok)
        return EXIT_FAILURE_INPUT;
    return EXIT_OK;
}

}  // namespace fotolume
