// The program: the command line, then reading, rendering and writing the
// image in order (or only reading and checking the scene), with the exit
// status and the messages of each way a run can end.
#include "driver/driver.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/help.hpp"
#include "driver/watch.hpp"
#include "explain/explain.hpp"
#include "image/image.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"

#ifndef FOTOLUME_VERSION
#define FOTOLUME_VERSION "unknown"
#endif

namespace fotolume {

namespace {

std::string lowerEnding(const std::string& image) {
    const std::size_t dot = image.rfind('.');
    if (dot == std::string::npos || image.find('/', dot) != std::string::npos) return "";
    std::string ending = image.substr(dot + 1);
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending;
}

}  // namespace

ImageFormat chooseFormat(const CommandLine& line, const std::string& image) {
    if (line.format != FormatChoice::ByName)
        return line.format == FormatChoice::Png ? ImageFormat::Png : ImageFormat::Ppm;
    return lowerEnding(image) == "png" ? ImageFormat::Png : ImageFormat::Ppm;
}

namespace {

// A name that promises another image format than the one written.
void warnAboutName(const CommandLine& line, const std::string& image) {
    if (line.format != FormatChoice::ByName) return;
    const std::string ending = lowerEnding(image);
    static const char* const others[] = {"jpg", "jpeg", "gif", "bmp", "tif", "tiff", "webp"};
    if (std::none_of(std::begin(others), std::end(others),
                     [&](const char* other) { return ending == other; }))
        return;
    std::fprintf(stderr,
                 "fotolume: warning: %s will hold a binary PPM image, whatever its name says; "
                 "name it .png or give --format png for a PNG\n",
                 printable(image).c_str());
}

// The region asked for, checked against the image; "" when it fits.
std::string checkRegion(const CommandLine& line, long long width, long long height,
                        Region& region) {
    if (!line.hasRegion) {
        region = Region{0, 0, static_cast<int>(width), static_cast<int>(height)};
        return "";
    }
    const long long* r = line.region;
    const std::string text = std::to_string(r[0]) + "," + std::to_string(r[1]) + "," +
                             std::to_string(r[2]) + "," + std::to_string(r[3]);
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (r[2] < 1 || r[3] < 1)
        return "the region " + text +
               " is empty; its width and height must be at least 1 (the "
               "image is " +
               size + ")";
    if (r[0] + r[2] > width || r[1] + r[3] > height)
        return "the region " + text + " reaches outside the " + size + " image";
    region = Region{static_cast<int>(r[0]), static_cast<int>(r[1]), static_cast<int>(r[2]),
                    static_cast<int>(r[3])};
    return "";
}

}  // namespace

bool sameFile(const char* scene, const char* image) {
    const os::FileInfo a = os::describe(scene);
    return a.kind == os::Kind::Regular && a.same(os::describe(image));
}

namespace {

// Options that would change nothing in this run are said, not ignored.
}  // namespace

void warnIneffective(const CommandLine& line) {
    for (const std::string& option : line.given) {
        const bool serveOnly = option == "port" || option == "listen";
        if (serveOnly && !line.serve) {
            std::fprintf(stderr, "fotolume: warning: --%s has no effect without --serve\n",
                         option.c_str());
            continue;
        }
        if (line.serve && !line.check && !line.explain) {
            static const char* const served[] = {"samples",     "aa-threshold", "threads",
                                                 "scene-limit", "background",   "port",
                                                 "listen"};
            if (std::none_of(std::begin(served), std::end(served),
                             [&](const char* name) { return option == name; }))
                std::fprintf(stderr, "fotolume: warning: --%s has no effect with --serve\n",
                             option.c_str());
            continue;
        }
        const bool renderOnly = option != "samples" && option != "aa-threshold" &&
                                option != "explain" && option != "explain-format" &&
                                option != "scene-limit" && option != "background";
        if (line.check && option != "scene-limit" && option != "background")
            std::fprintf(stderr, "fotolume: warning: --%s has no effect with --check\n",
                         option.c_str());
        else if (line.explain && renderOnly)
            std::fprintf(stderr, "fotolume: warning: --%s has no effect with --explain\n",
                         option.c_str());
        else if (!line.explain && option == "explain-format")
            std::fprintf(stderr,
                         "fotolume: warning: --explain-format has no effect without --explain\n");
        else if (option == "aa-threshold" && line.samples == 1)
            std::fprintf(stderr,
                         "fotolume: warning: --aa-threshold has no effect without --samples N "
                         "(N at least 2)\n");
    }
}

namespace {

// Reads the scene as a render would (camera included, for a 1 x 1 image),
// says what a render would say, and traces nothing.
int checkScene(const char* sceneName, bool dump) {
    imageWidth = 1;
    imageHeight = 1;
    int warnings = 0;
    const ReadStatus status =
        readScene(sceneName, stderr, &warnings, dump ? stdout : nullptr, true);
    const int text = dump ? finishText() : EXIT_OK;
    if (status != ReadStatus::Ok || text != EXIT_OK) return EXIT_FAILURE_INPUT;
    return warnings > 0 ? EXIT_FAILURE_INPUT : EXIT_OK;
}

// What the image will be: its region, samples and format, from the
// command line; "" or the usage problem.
std::string frameSettings(const CommandLine& line, long long width, long long height,
                          const char* imageName, RenderSettings& settings) {
    const std::string regionProblem = checkRegion(line, width, height, settings.frame.region);
    if (!regionProblem.empty()) return regionProblem;
    settings.frame.samples = line.samples;
    if (line.aaThreshold >= 0.0) settings.frame.threshold = line.aaThreshold;
    settings.format = chooseFormat(line, imageName);
    if (settings.format == ImageFormat::Png && settings.frame.region.width > MAX_PNG_WIDTH)
        return "a PNG image is at most " + std::to_string(MAX_PNG_WIDTH) +
               " pixels wide; write a PPM for wider images";
    if (settings.format == ImageFormat::Png && settings.frame.region.height > PNG_READERS_MAX_ROWS)
        std::fprintf(stderr,
                     "fotolume: warning: the PNG will be %d rows tall, and common readers "
                     "refuse more than %lld rows unless told otherwise (libpng's default "
                     "limit)\n",
                     settings.frame.region.height, PNG_READERS_MAX_ROWS);
    return "";
}

}  // namespace

int renderOnce(const CommandLine& line, const RenderWatch& watch) {
    const char* sceneName = line.operands[0];
    const char* imageName = line.operands[1];
    long long width = 0, height = 0;
    if (!imageSize(line.operands[2], line.operands[3], width, height)) return EXIT_USAGE;
    imageWidth = static_cast<int>(width);
    imageHeight = static_cast<int>(height);
    RenderSettings settings;
    const std::string problem = frameSettings(line, width, height, imageName, settings);
    if (!problem.empty()) return usageError(problem);

    if (sameFile(sceneName, imageName)) {
        std::fprintf(stderr,
                     "fotolume: the image %s is the scene file %s itself; nothing was written "
                     "(choose another image name)\n",
                     printable(imageName).c_str(), printable(sceneName).c_str());
        return EXIT_FAILURE_INPUT;
    }
    const auto readingStarts = std::chrono::steady_clock::now();
    if (readScene(sceneName, stderr, watch.warnings) != ReadStatus::Ok) return EXIT_FAILURE_INPUT;
    const double reading =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - readingStarts).count();

    warnAboutName(line, imageName);
    ImageFile image;
    if (!image.open(imageName)) return EXIT_FAILURE_INPUT;
    settings.threads = line.threads > 0 ? line.threads : availableCpus();
    settings.progress = !line.quiet && os::isTerminal(os::STANDARD_ERROR);
    RenderReport report;
    settings.report = &report;
    settings.cancel = watch.cancel;
    const WriteStatus status = writeImage(image, settings);
    if (status == WriteStatus::Cancelled) return EXIT_CANCELLED;  // the image file goes
    if (status != WriteStatus::Ok) {
        image.commit();  // reports the error and removes the temporary file
        return EXIT_FAILURE_INPUT;
    }
    if (!image.commit()) return EXIT_FAILURE_INPUT;
    if (line.stats) std::fputs(describeReport(reading, report).c_str(), stderr);
    return EXIT_OK;
}

namespace {

// The render: SCENE IMAGE WIDTH HEIGHT, once or, with --watch, at every
// change of the scene.
int renderCommand(const CommandLine& line) {
    if (line.operands.size() != 4) return usageError("");
    warnIneffective(line);
    if (line.watch) return watchCommand(line);
    return renderOnce(line, RenderWatch{});
}

}  // namespace

bool standardOutputClosed = false;

namespace {

// Whether this run's output (not its messages) goes to standard output.
bool writesToStandardOutput(const CommandLine& line) {
    return line.help || line.version || line.explain || (line.check && line.dump) || line.serve ||
           (!line.check && line.operands.size() == 4 && std::strcmp(line.operands[1], "-") == 0);
}

}  // namespace

int runFotolume(int argc, char** argv, ServeCommand serve) {
    const CommandLine line = parseCommandLine(argc, argv);
    if (standardOutputClosed && line.bad.empty() && writesToStandardOutput(line)) {
        std::fprintf(stderr,
                     "fotolume: standard output is closed, and this run writes to it: nothing "
                     "was done\n");
        return EXIT_FAILURE_INPUT;
    }
    if (!line.bad.empty())
        return line.explain ? explainError(line, line.bad, EXIT_USAGE) : usageError(line.bad);
    sceneLimitMib = line.sceneLimitMib > 0 ? line.sceneLimitMib : DEFAULT_SCENE_LIMIT_MIB;
    if (line.hasBackground)
        set(backgroundColor, line.background[0], line.background[1], line.background[2]);
    if (line.help || line.version) {
        if (line.help)
            printHelp();
        else
            std::printf("fotolume %s\n", FOTOLUME_VERSION);
        return finishText();
    }
    if (line.check) {
        if (line.operands.size() != 1) return usageError("--check takes one operand, the scene");
        warnIneffective(line);
        return checkScene(line.operands[0], line.dump);
    }
    if (line.dump)
        std::fprintf(stderr, "fotolume: warning: --dump has no effect without --check\n");
    if (line.watch && line.explain)
        return explainError(line, "--watch does not go with --explain: a pixel is explained once",
                            EXIT_USAGE);
    if (line.watch && line.serve)
        return usageError("--watch does not go with --serve, which renders again at every save");
    if (line.explain) return explainCommand(line);
    if (line.join) return joinCommand(line);
    if (line.serve) {
        warnIneffective(line);
        return serve != nullptr ? serve(line) : runPreviewProgram(argv);
    }
    return renderCommand(line);
}

}  // namespace fotolume
