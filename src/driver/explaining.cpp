// --explain: one pixel traced as a render traces it and told, as text or
// JSON, with its errors in the same form.
#include <cstdio>
#include <string>

#include "driver/driver.hpp"
#include "driver/help.hpp"
#include "explain/explain.hpp"
#include "image/image.hpp"
#include "scene/scene.hpp"

namespace fotolume {

// An error of --explain: as JSON on standard output (and in words on
// standard error) when JSON was asked for, so that a pipeline reading it
// is never handed text it cannot parse.
int explainError(const CommandLine& line, const std::string& problem, int status) {
    if (!line.explainJson) return status == EXIT_USAGE ? usageError(problem) : status;
    printJsonError(stdout, problem, status);
    std::fprintf(stderr, "fotolume: %s\n", problem.c_str());
    const int written = finishText();
    return written == EXIT_OK ? status : written;
}

namespace {

// The scene as --explain reads it; with JSON, whatever went wrong is also
// said as JSON.
bool readForExplain(const CommandLine& line, int& status) {
    if (!line.explainJson) {
        status = EXIT_FAILURE_INPUT;
        return readScene(line.operands[0]) == ReadStatus::Ok;
    }
    std::FILE* said = std::tmpfile();
    if (said == nullptr) {
        status =
            explainError(line, "no temporary file for the reader's messages", EXIT_FAILURE_INPUT);
        return false;
    }
    cannotOpenOut = said;
    const ReadStatus read = readScene(line.operands[0], said);
    cannotOpenOut = nullptr;
    std::string text;
    std::rewind(said);
    for (int c; (c = std::fgetc(said)) != EOF;) text += static_cast<char>(c);
    std::fclose(said);
    std::fputs(text.c_str(), stderr);
    if (read == ReadStatus::Ok) return true;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    printJsonError(stdout, text, EXIT_FAILURE_INPUT);
    finishText();
    status = EXIT_FAILURE_INPUT;
    return false;
}

}  // namespace

// Explains one pixel: reads the scene for the image size, traces the pixel
// as a render would and prints how it got its bytes; writes no image.
int explainCommand(const CommandLine& line) {
    if (line.operands.size() != 3)
        return usageError("--explain X,Y takes three operands: SCENE WIDTH HEIGHT");
    warnIneffective(line);
    long long width = 0, height = 0;
    const std::string size = imageSizeProblem(line.operands[1], line.operands[2], width, height);
    if (!size.empty()) {
        if (line.explainJson) return explainError(line, size, EXIT_USAGE);
        std::fprintf(stderr, "%s\n", size.c_str());
        return EXIT_USAGE;
    }
    const long long x = line.explainAt[0], y = line.explainAt[1];
    if (x >= width || y >= height)
        return explainError(line,
                            "the pixel " + std::to_string(x) + "," + std::to_string(y) +
                                " lies outside the " + std::to_string(width) + "x" +
                                std::to_string(height) + " image",
                            EXIT_USAGE);
    imageWidth = static_cast<int>(width);
    imageHeight = static_cast<int>(height);
    int status = EXIT_OK;
    if (!readForExplain(line, status)) return status;
    Frame frame;
    frame.samples = line.samples;
    if (line.aaThreshold >= 0.0) frame.threshold = line.aaThreshold;
    unsigned char bytes[3];
    explainPixelTo(stdout, frame, x, y,
                   line.explainJson ? ExplainFormat::Json : ExplainFormat::Text, bytes);
    return finishText();
}

}  // namespace fotolume
