#include "driver/driver.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "image/image.hpp"
#include "scene/scene.hpp"

#ifndef FOTOLUME_VERSION
#define FOTOLUME_VERSION "unknown"
#endif
#ifndef FOTOLUME_DOC_DIR
#define FOTOLUME_DOC_DIR "/usr/local/share/doc/fotolume"
#endif

namespace fotolume {

namespace {

void printUsage() {
    std::printf(
        "      PARAMETROS INCORRETOS\nUSO CORRETO: fotolume entrada saida.ppm largura altura");
    std::fflush(stdout);
}

void printHelp() {
    std::printf(
        "Usage: fotolume [OPTION]... SCENE IMAGE WIDTH HEIGHT\n"
        "Render the scene file SCENE into IMAGE, a binary PPM image of WIDTH x HEIGHT pixels.\n"
        "SCENE may be - for standard input, IMAGE - for standard output. An existing IMAGE\n"
        "is replaced only once the new image is complete.\n"
        "\n"
        "Options:\n"
        "  -t, --threads N  trace on N threads (default: one per available CPU, here %d)\n"
        "  -q, --quiet      no progress line, even on a terminal\n"
        "  -h, --help       print this help and exit\n"
        "      --version    print the version and exit\n"
        "\n"
        "Exit status:\n"
        "  0  the image was written\n"
        "  1  the scene could not be read or was refused, the image could not be written,\n"
        "     or memory ran out\n"
        "  2  a wrong command line or image size\n"
        "\n"
        "The scene file format: %s/scene-format.md, and 'man fotolume'.\n",
        availableCpus(), FOTOLUME_DOC_DIR);
}

int usageError(const std::string& problem) {
    printUsage();
    std::fprintf(stderr, "\n");
    if (!problem.empty()) std::fprintf(stderr, "fotolume: %s\n", problem.c_str());
    std::fprintf(stderr, "Try 'fotolume --help' for more information.\n");
    return EXIT_USAGE;
}

// The file is always PPM, whatever its name says.
void warnAboutName(const std::string& image) {
    const std::size_t dot = image.rfind('.');
    if (dot == std::string::npos || image.find('/', dot) != std::string::npos) return;
    std::string ending = image.substr(dot + 1);
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const char* const others[] = {"png", "jpg", "jpeg", "gif", "bmp", "tif", "tiff"};
    if (std::none_of(std::begin(others), std::end(others),
                     [&](const char* other) { return ending == other; }))
        return;
    std::fprintf(stderr,
                 "fotolume: warning: %s will hold a binary PPM image, whatever its name says; "
                 "convert it with 'pnmtopng' or 'python3 tools/ppm2png.py'\n",
                 image.c_str());
}

// Whether the image would overwrite the scene file itself (the same file
// through any name or link).
bool sameFile(const char* scene, const char* image) {
    struct stat a {};
    struct stat b {};
    return stat(scene, &a) == 0 && stat(image, &b) == 0 && S_ISREG(a.st_mode) &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int runFotolume(int argc, char** argv) {
    const CommandLine line = parseCommandLine(argc, argv);
    if (!line.bad.empty()) return usageError(line.bad);
    if (line.help) {
        printHelp();
        return EXIT_OK;
    }
    if (line.version) {
        std::printf("fotolume %s\n", FOTOLUME_VERSION);
        return EXIT_OK;
    }
    if (line.operands.size() != 4) return usageError("");
    const char* sceneName = line.operands[0];
    const char* imageName = line.operands[1];
    const char* widthText = line.operands[2];
    const char* heightText = line.operands[3];

    const long long width = parseSize(widthText);
    const long long height = parseSize(heightText);
    if (width < 1 || height < 1 || width * height > 2147483647LL) {
        std::fprintf(
            stderr,
            "Tamanho de imagem invalido: %s x %s (largura e altura devem ser pelo menos 1 e "
            "largura x altura no maximo 2147483647 pixels)\n",
            widthText, heightText);
        return EXIT_USAGE;
    }
    imageWidth = static_cast<int>(width);
    imageHeight = static_cast<int>(height);

    if (sameFile(sceneName, imageName)) {
        std::fprintf(stderr,
                     "fotolume: the image %s is the scene file %s itself; nothing was written "
                     "(choose another image name)\n",
                     imageName, sceneName);
        return EXIT_FAILURE_INPUT;
    }
    if (readScene(sceneName) != ReadStatus::Ok) return EXIT_FAILURE_INPUT;

    warnAboutName(imageName);
    ImageFile image;
    if (!image.open(imageName)) return EXIT_FAILURE_INPUT;
    RenderSettings settings;
    settings.threads = line.threads > 0 ? line.threads : availableCpus();
    settings.progress = !line.quiet && isatty(STDERR_FILENO);
    if (writePPM(image, settings) != WriteStatus::Ok) {
        image.commit();  // reports the error and removes the temporary file
        return EXIT_FAILURE_INPUT;
    }
    return image.commit() ? EXIT_OK : EXIT_FAILURE_INPUT;
}

}  // namespace fotolume
