// --watch: the render, then a wait for the scene file to change, and the
// render again. A change during a render abandons it and starts over; a
// refused scene leaves the last good image as it was.
#include "driver/watch.hpp"


#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/help.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"

#ifndef FOTOLUME_BIN_DIR
#define FOTOLUME_BIN_DIR "/usr/local/bin"
#endif

namespace fotolume {

namespace {

// One render, abandoned when the scene changes meanwhile.
int renderWatched(const CommandLine& line, const FileStamp& before, int& warnings) {
    std::atomic<bool> cancel{false};
    const ChangeWatcher watcher(line.operands[0], before, cancel);
    const int status = renderOnce(line, RenderWatch{&cancel, &warnings});
    return status;
}

}  // namespace

int watchCommand(const CommandLine& line) {
    const char* scene = line.operands[0];
    const std::string image = printable(line.operands[1]);
    // No save can mend an image that is the scene: said once, not watched.
    if (sameFile(scene, line.operands[1])) return renderOnce(line, RenderWatch{});
    sceneOnlyRegular = true;
    for (;;) {
        const FileStamp before = stampOf(scene);
        const auto start = std::chrono::steady_clock::now();
        int warnings = 0;
        const int status = renderWatched(line, before, warnings);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status == EXIT_USAGE) return status;
        if (status == EXIT_CANCELLED) {
            std::fprintf(stderr, "fotolume: %s changed during the render: starting again\n",
                         printable(scene).c_str());
            continue;
        }
        if (status == EXIT_OK)
            std::fprintf(stderr, "fotolume: rendered %s in %.2f s, %d warning%s; watching %s\n",
                         image.c_str(), seconds, warnings, warnings == 1 ? "" : "s",
                         printable(scene).c_str());
        else if (stampOf(line.operands[1]).exists)
            std::fprintf(stderr,
                         "fotolume: nothing rendered; %s keeps its last image; watching %s\n",
                         image.c_str(), printable(scene).c_str());
        else
            std::fprintf(stderr, "fotolume: nothing rendered; watching %s\n",
                         printable(scene).c_str());
        std::fflush(stderr);
        std::fflush(stdout);
        waitForChange(scene, before);
    }
}

int runPreviewProgram(char** argv) {
    std::vector<std::string> places;
    // Beside this program: where the system says it is, else where the
    // name it was started by says (systems without /proc); then where the
    // build meant to install it.
    const std::string folder = os::programFolder();
    if (!folder.empty()) places.push_back(folder + "fotolume-serve" + os::PROGRAM_SUFFIX);
    const std::string started = argv[0] != nullptr ? argv[0] : "";
    if (started.find('/') != std::string::npos)
        places.push_back(started.substr(0, started.rfind('/') + 1) + "fotolume-serve" +
                         os::PROGRAM_SUFFIX);
    places.push_back(std::string(FOTOLUME_BIN_DIR "/fotolume-serve") + os::PROGRAM_SUFFIX);
    for (const std::string& place : places) {
        if (!os::isExecutable(place)) continue;
        std::fflush(stdout);
        std::fflush(stderr);
        os::becomeProgram(place, argv);
    }
    std::fprintf(stderr,
                 "fotolume: --serve runs the preview program fotolume-serve, which is not "
                 "installed beside fotolume (it is built where Boost is installed); "
                 "--watch renders again at every save without it\n");
    return EXIT_FAILURE_INPUT;
}

}  // namespace fotolume
