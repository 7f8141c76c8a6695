// Program driver: reads the command line and runs reading, rendering and
// writing in order.
#pragma once

#include <string>
#include <vector>

#include "image/image.hpp"

namespace fotolume {

// Exit statuses: 0 success, 1 a file or scene problem, 2 a command-line problem.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_INPUT = 1;
constexpr int EXIT_USAGE = 2;

// Reads an image size as atoi does (leading white space, optional sign,
// digits up to the first other character; no digits gives 0), but saturates
// instead of overflowing.
long long parseSize(const char* text);

// Most threads --threads accepts.
constexpr int MAX_THREADS = 1024;

// Most rays a pixel's grid has on a side (--samples).
constexpr int MAX_GRID = 16;

enum class FormatChoice { ByName, Ppm, Png };

struct CommandLine {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool check = false;                // read and check the scene only
    bool dump = false;                 // with check: print every row as read
    bool watch = false;                // render again at every change of the scene
    bool serve = false;                // show the render on a local web page
    bool join = false;                 // one image from bands rendered apart
    int port = 0;                      // --port: 0 for any free one
    std::string listen = "127.0.0.1";  // --listen
    bool stats = false;                // say where the render's time went
    int threads = 0;                   // 0: one per CPU the process may run on
    FormatChoice format = FormatChoice::ByName;
    int samples = 1;
    double aaThreshold = -1.0;    // below 0: the default
    long long sceneLimitMib = 0;  // 0: the default
    bool hasBackground = false;   // --background R,G,B
    double background[3] = {0.5, 0.5, 0.5};
    bool explain = false;             // explain one pixel instead of rendering
    long long explainAt[2] = {0, 0};  // its column and row
    bool explainJson = false;         // --explain-format json
    bool hasRegion = false;
    long long region[4] = {0, 0, 0, 0};  // left, top, width, height
    std::vector<std::string> given;      // the render options given (long names), in order
    std::string bad;                     // an unknown option or a bad value, quoted in the reply
    std::vector<const char*> operands;
};

// Options and operands in any order; "--" ends the options, and a lone
// "-" is an operand. A call of exactly four words whose first is no option
// is four operands, whatever they look like.
CommandLine parseCommandLine(int argc, char** argv);

// The CPUs this process may run on (its affinity mask), at least 1.
int availableCpus();

// The image size from its two operands; says why and returns false when
// it is no size an image can have.
bool imageSize(const char* widthText, const char* heightText, long long& width, long long& height);

// The same, with the message returned ("" for a size an image can have).
std::string imageSizeProblem(const char* widthText, const char* heightText, long long& width,
                             long long& height);

// Memory that runs out is the one message and status 1: on the main thread
// the run ends there (an image's temporary file goes, the target stays as
// it was); a render thread gives up its part and leaves it to the others.
void installOutOfMemoryHandler();

// Set at start when standard output was closed (it is then /dev/null): a
// mode that writes to it fails before doing any work.
extern bool standardOutputClosed;

// Whether the image would overwrite the scene file itself (the same file
// through any name or link).
bool sameFile(const char* scene, const char* image);

// Options that would change nothing in this run are said, not ignored.
void warnIneffective(const CommandLine& line);

// --join IMAGE WIDTH HEIGHT TOP:BAND...: the image the bands make.
int joinCommand(const CommandLine& line);
// PNG when asked for, or when the image's name ends in .png; PPM otherwise.
ImageFormat chooseFormat(const CommandLine& line, const std::string& image);

// --explain X,Y: traces the one pixel and prints how it got its bytes.
int explainCommand(const CommandLine& line);
// An error of --explain, in the form asked for (JSON on standard output
// and words on standard error with --explain-format json); returns `status`.
int explainError(const CommandLine& line, const std::string& problem, int status);

// Runs --serve for a command line that asks for it.
using ServeCommand = int (*)(const CommandLine& line);

// The whole program: returns the process exit status. Without `serve`,
// --serve is handed to the preview program.
int runFotolume(int argc, char** argv, ServeCommand serve = nullptr);

}  // namespace fotolume
