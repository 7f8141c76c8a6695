// fotolume-serve: the preview program fotolume runs for --serve. It takes
// fotolume's own command line, so run alone it behaves the same.
#include <string>

#include "driver/driver.hpp"
#include "driver/help.hpp"
#include "os/os.hpp"
#include "serve/preview.hpp"
#include "serve/serve.hpp"

namespace fotolume {
namespace {

int serveFromLine(const CommandLine& line) {
    if (line.operands.size() != 3)
        return usageError("--serve takes three operands: SCENE WIDTH HEIGHT");
    long long width = 0, height = 0;
    if (!imageSize(line.operands[1], line.operands[2], width, height)) return EXIT_USAGE;
    if (width * height > MAX_SERVED_PIXELS)
        return usageError("the page shows images of at most " + std::to_string(MAX_SERVED_PIXELS) +
                          " pixels (4096x4096); render larger ones to a file");
    ServeSettings settings;
    settings.scene = line.operands[0];
    settings.width = static_cast<int>(width);
    settings.height = static_cast<int>(height);
    settings.frame.region = Region{0, 0, settings.width, settings.height};
    settings.frame.samples = line.samples;
    if (line.aaThreshold >= 0.0) settings.frame.threshold = line.aaThreshold;
    settings.threads = line.threads > 0 ? line.threads : availableCpus();
    settings.listen = line.listen;
    settings.port = line.port;
    return serveCommand(settings);
}

}  // namespace
}  // namespace fotolume

namespace {

int start(int argc, char** argv) {
    fotolume::standardOutputClosed = fotolume::os::guardStandardDescriptors().output;
    fotolume::installOutOfMemoryHandler();
    // Without --serve (run by hand), it is fotolume itself.
    return fotolume::runFotolume(argc, argv, fotolume::serveFromLine);
}

}  // namespace

int main(int argc, char** argv) { return fotolume::os::withUtf8Arguments(argc, argv, start); }
