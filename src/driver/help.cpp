// What the program says about its own use: the usage message, the help
// text, and the ending of every text-only run.
#include "driver/help.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "image/image.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"

#ifndef FOTOLUME_DOC_DIR
#define FOTOLUME_DOC_DIR "/usr/local/share/doc/fotolume"
#endif
#ifndef FOTOLUME_DOC_FROM_BIN
#define FOTOLUME_DOC_FROM_BIN "../share/doc/fotolume"
#endif

namespace fotolume {

namespace {

// Where the scene-format guide is: beside the installed program (whatever
// prefix it was installed with), else where the build meant to install it.
std::string guideLine() {
    std::vector<std::string> places;
    const std::string folder = os::programFolder();
    if (!folder.empty()) places.push_back(folder + FOTOLUME_DOC_FROM_BIN);
    places.push_back(FOTOLUME_DOC_DIR);
    for (const std::string& place : places) {
        const std::string guide = place + "/scene-format.md";
        if (os::describe(guide).kind == os::Kind::Regular) {
            const std::string real = os::realPath(guide);
            return "The scene file format: " + (real.empty() ? guide : real) +
                   ",\nand 'man fotolume'.";
        }
    }
    return "The scene file format guide (scene-format.md) is not installed here: it is\n"
           "docs/scene-format.md in the source tree; and 'man fotolume'.";
}

}  // namespace

void printUsage() {
    std::printf(
        "      PARAMETROS INCORRETOS\nUSO CORRETO: fotolume entrada saida.ppm largura altura");
    std::fflush(stdout);
}

namespace {

// The options, with the figures printHelp fills in.
const char* const HELP_TEXT =
    "Usage: fotolume [OPTION]... SCENE IMAGE WIDTH HEIGHT\n"
    "  or:  fotolume --check [--dump] SCENE\n"
    "  or:  fotolume --explain X,Y [OPTION]... SCENE WIDTH HEIGHT\n"
    "  or:  fotolume --serve [--port N] [OPTION]... SCENE WIDTH HEIGHT\n"
    "  or:  fotolume --join IMAGE WIDTH HEIGHT TOP:BAND...\n"
    "Render the scene file SCENE into IMAGE, an image of WIDTH x HEIGHT pixels: PNG\n"
    "when its name ends in .png, binary PPM otherwise. SCENE may be - for standard\n"
    "input, IMAGE - for standard output (PPM unless --format png). An existing IMAGE\n"
    "is replaced only once the new image is complete.\n"
    "\n"
    "Options:\n"
    "  -t, --threads N       trace on N threads (default: one per CPU, here %d)\n"
    "      --format F        write F, ppm or png, whatever IMAGE's name says\n"
    "      --samples N       anti-aliasing: a pixel on an edge is the mean of an\n"
    "                        N x N grid of rays (1 to %d; default 1, one ray a\n"
    "                        pixel); costs up to N x N times the rays\n"
    "      --aa-threshold T  a pixel whose colour differs from a neighbour's by\n"
    "                        more than T is considered for its grid (0 to 1,\n"
    "                        default %g); 0: every pixel gets its grid\n"
    "      --region L,T,W,H  trace only the W x H pixels from column L, row T of\n"
    "                        the image (0-based) and write them as an image of\n"
    "                        that size, the same pixels as the full image's\n"
    "  -q, --quiet           no progress line, even on a terminal\n"
    "      --stats           after the render, say where its time went: seconds\n"
    "                        of each phase, rays by kind, boxes and objects\n"
    "                        tested, rays a second\n"
    "      --check           read and check SCENE only: print what a render would\n"
    "                        say about it, trace nothing, write no file; status 0\n"
    "                        when there is no warning, 1 otherwise\n"
    "      --explain X,Y     trace only pixel column X, row Y of the WIDTH x HEIGHT\n"
    "                        image and print the tree of rays behind it: what each\n"
    "                        ray met, every light and term, the bytes; no file\n"
    "      --explain-format F  text (default) or json\n"
    "      --background R,G,B  the colour of a ray that meets nothing (each 0 to 1;\n"
    "                        default 0.5,0.5,0.5, a mid-grey)\n"
    "      --scene-limit MIB read scenes of at most MIB MiB (default %lld)\n"
    "      --watch           render, then again whenever SCENE changes (a save\n"
    "                        during a render starts it over), until interrupted\n"
    "      --serve           show the render on a local web page (its address,\n"
    "                        with a secret token, is printed), refined in passes\n"
    "                        and again at every save; click a pixel to explain it\n"
    "      --port N          serve on port N (default: any free port)\n"
    "      --listen ADDR     serve on ADDR (default 127.0.0.1, this machine only)\n"
    "      --join            write IMAGE from bands rendered apart with --region\n"
    "                        (full-width, in order, each TOP:FILE, its first row\n"
    "                        and its PPM): the single render's bytes, or nothing\n"
    "      --dump            with --check: print every row as read, with its line\n"
    "                        and column and its values as understood\n"
    "  -h, --help            print this help and exit\n"
    "      --version         print the version and exit\n";

}  // namespace

void printHelp() {
    std::printf(HELP_TEXT, availableCpus(), MAX_GRID, DEFAULT_AA_THRESHOLD,
                DEFAULT_SCENE_LIMIT_MIB);
    std::printf(
        "\n"
        "Exit status:\n"
        "  0  the image was written\n"
        "  1  the scene could not be read or was refused, the image could not be written,\n"
        "     or memory ran out; with --check, also a scene with warnings\n"
        "  2  a wrong command line, image size or region\n"
        "\n"
        "%s\n",
        guideLine().c_str());
}

// The text asked for must really arrive: a full disk or a closed pipe is
// an error, as for any other output.
int finishText() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return EXIT_OK;
    const int error = errno;
    std::fprintf(stderr, "fotolume: write error: %s\n", std::strerror(error));
    return EXIT_FAILURE_INPUT;
}

namespace {

// The exception a render thread throws comes from the runtime's emergency
// reserve, which does not need memory.
void outOfMemory() {
    if (allocationMayFail) throw std::bad_alloc();  // that thread gives up its part
    discardPendingImage();
    static const char message[] = "Memoria insuficiente\n";
    os::dieWith(message, sizeof message - 1, EXIT_FAILURE_INPUT);
}

}  // namespace

void installOutOfMemoryHandler() { std::set_new_handler(outOfMemory); }

int usageError(const std::string& problem) {
    printUsage();
    std::fprintf(stderr, "\n");
    if (!problem.empty()) std::fprintf(stderr, "fotolume: %s\n", problem.c_str());
    std::fprintf(stderr, "Try 'fotolume --help' for more information.\n");
    return EXIT_USAGE;
}

}  // namespace fotolume
