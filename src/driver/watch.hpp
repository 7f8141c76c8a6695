// Following the scene as it changes: rendering again at every save
// (--watch) and the live preview page (--serve). Internal to the driver folder.
#pragma once

#include <atomic>

#include "driver/driver.hpp"

namespace fotolume {

// Returned by renderOnce for a render abandoned through `cancel`.
constexpr int EXIT_CANCELLED = -1;

struct RenderWatch {
    const std::atomic<bool>* cancel = nullptr;  // abandons the render when set
    int* warnings = nullptr;                    // receives the scene's warning count
};

// One render of SCENE into IMAGE as the command line asks (its four
// operands checked already); the exit status, or EXIT_CANCELLED.
int renderOnce(const CommandLine& line, const RenderWatch& watch);

// --serve: runs the preview program installed beside this one (a program of
// its own, so that its web server's libraries cost the renderer nothing) on
// the same command line; returns only when it cannot be run.
int runPreviewProgram(char** argv);

// Renders, then again at every change of the scene file, until a signal
// ends the process.
int watchCommand(const CommandLine& line);

}  // namespace fotolume
