// The live preview (the fotolume-serve program, run by fotolume --serve): a
// local web page that shows the scene as it renders and renders it again at
// every save.
#pragma once

#include <string>

#include "image/image.hpp"

namespace fotolume {

struct ServeSettings {
    const char* scene = nullptr;
    int width = 0;
    int height = 0;
    Frame frame;  // samples and threshold; the region is the whole image
    int threads = 1;
    std::string listen = "127.0.0.1";
    int port = 0;  // 0: any free port
};

// Serves the page until a signal ends the process; returns a status only
// when the server cannot start (the reason said on standard error).
int serveCommand(const ServeSettings& settings);

}  // namespace fotolume
