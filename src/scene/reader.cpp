#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "os/os.hpp"
#include "scene/scene.hpp"
#include "scene/tokens.hpp"

namespace fotolume {

namespace {

bool cameraUsable(SceneReader& reader, const Vetor& lookAt, const Vetor& upVector,
                  double fieldOfView, const long (&starts)[3]) {
    switch (setupCamera(lookAt, upVector, fieldOfView)) {
    case CameraStatus::Ok:
        return true;
    case CameraStatus::BadFieldOfView:
        reader.error(starts[2], "the field of view must lie strictly between 0 and 180 degrees");
        break;
    case CameraStatus::NotFinite:
        reader.error(0,
                     "the camera values must be finite and give a finite image plane "
                     "(coordinates beyond about 1e154 overflow it)");
        break;
    case CameraStatus::EyeAtLookAt:
        reader.error(starts[0],
                     "the look-at point equals the eye point, so there is no viewing direction");
        break;
    case CameraStatus::UpAlongView:
        reader.error(starts[1], "the up vector has no component across the viewing direction");
        break;
    }
    return false;
}

ReadStatus readContent(SceneReader& reader, const char* fileName, std::FILE* diagnostics) {
    Vetor lookAt;
    Vetor upVector;
    double fieldOfView = 0.0;
    long starts[3] = {};
    readCamera(reader, lookAt, upVector, fieldOfView, starts);
    cameraInput = CameraInput{lookAt, upVector, fieldOfView};
    std::vector<long> lightStarts, objectStarts;
    if (!readLights(reader, lightStarts) || !readPigments(reader) || !readFinishes(reader) ||
        !readObjects(reader, objectStarts))
        return ReadStatus::Refused;
    checkLights(reader, lightStarts, objectStarts);
    if (reader.readError()) {
        std::fprintf(diagnostics, "%s: error: the file could not be read to its end: %s\n",
                     printable(fileName).c_str(), std::strerror(errno));
        return ReadStatus::Refused;
    }
    return cameraUsable(reader, lookAt, upVector, fieldOfView, starts) ? ReadStatus::Ok
                                                                       : ReadStatus::Refused;
}

void sayTooLarge(const char* fileName, std::FILE* diagnostics) {
    std::fprintf(diagnostics,
                 "%s: error: the scene is larger than %lld MiB, the most that is read "
                 "(--scene-limit MIB raises it); nothing was read\n",
                 printable(fileName).c_str(), sceneLimitMib);
}

// The whole text of a stream, at most sceneLimitMib of it; reading stops as
// soon as the bound is passed, so a huge, growing or endless source costs no
// more than the bound.
bool loadText(std::FILE* in, const char* fileName, std::FILE* diagnostics, std::string& text) {
    std::vector<char> buffer(65536);  // not on the stack: small stacks must do
    const std::size_t limit = static_cast<std::size_t>(sceneLimitMib) << 20;
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        if (text.size() + got > limit) {
            sayTooLarge(fileName, diagnostics);
            return false;
        }
        text.append(buffer.data(), got);
    }
    if (std::ferror(in)) {
        std::fprintf(diagnostics, "%s: error: the file could not be read to its end: %s\n",
                     printable(fileName).c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

ReadStatus readWith(SceneReader&& reader, const char* fileName, std::FILE* diagnostics,
                    int* warnings, std::FILE* dump, bool everyMistake) {
    if (dump != nullptr) reader.recordEveryRow();
    if (everyMistake) reader.lookPastTheFirstMistake();
    const ReadStatus status = readContent(reader, fileName, diagnostics);
    sceneChanged();
    reader.finish(status != ReadStatus::Ok);
    if (dump != nullptr) dumpRows(dump, reader.everyRow());
    if (warnings != nullptr) *warnings = reader.warnings();
    return status;
}

}  // namespace

std::FILE* cannotOpenOut = nullptr;
bool sceneOnlyRegular = false;

namespace {

// Opened without waiting (a fifo with no writer would block the open), and
// kept only when it is a regular file; nullptr with errno 0 when it is not
// one (said to `diagnostics`), with errno set when it cannot be opened.
std::FILE* openRegular(const char* fileName, std::FILE* diagnostics) {
    int error = 0;
    const int fd = os::openForReading(fileName, error);
    if (fd < 0) {
        errno = error;
        return nullptr;
    }
    if (os::describeOpen(fd).kind != os::Kind::Regular) {
        os::closeFile(fd);
        std::fprintf(diagnostics,
                     "%s: error: the scene is not a regular file (a fifo, a device or a folder "
                     "stands in its place); a watched scene must be a file\n",
                     printable(fileName).c_str());
        errno = 0;
        return nullptr;
    }
    return os::streamOf(fd, "rb");
}

}  // namespace

std::string cannotOpenMessage(const char* fileName) {
    return std::string("Nao foi possivel abrir o arquivo ") + fileName +
           " , verifique o nome e tente novamente. \n";
}

ReadStatus readScene(const char* fileName, std::FILE* diagnostics, int* warnings, std::FILE* dump,
                     bool everyMistake) {
    rowLines = RowLines{};
    std::error_code ignored;
    std::FILE* in = nullptr;
    if (std::strcmp(fileName, "-") == 0) {  // standard input, as command-line tools read it
        const int copy = os::duplicate(os::STANDARD_INPUT);
        in = copy >= 0 ? os::streamOf(copy, "rb") : nullptr;
    } else if (sceneOnlyRegular) {
        in = openRegular(fileName, diagnostics);
        if (in == nullptr && errno == 0) return ReadStatus::Refused;  // said
    } else if (!std::filesystem::is_directory(fileName, ignored)) {
        in = os::openFile(fileName, "rb");
    }
    if (in == nullptr) {
        std::FILE* out = cannotOpenOut != nullptr ? cannotOpenOut : stdout;
        std::fputs(cannotOpenMessage(fileName).c_str(), out);
        std::fflush(out);
        return ReadStatus::CannotOpen;
    }
    // A file named by its path is read a page at a time, so its size costs
    // no memory; a stream (standard input, a pipe, a device) is held whole,
    // and so is a file that says it is empty (some file systems give no
    // size for files that have content).
    const os::FileInfo about = os::describeOpen(os::descriptorOf(in));
    const bool paged = std::strcmp(fileName, "-") != 0 && about.kind == os::Kind::Regular &&
                       about.size > 0;
    const unsigned long long limit = static_cast<unsigned long long>(sceneLimitMib) << 20;
    std::string text;
    // (Past the reader's offsets, where those are 32 bits, too large as well.)
    if (paged && (static_cast<unsigned long long>(about.size) > limit ||
                  about.size > std::numeric_limits<long>::max())) {
        sayTooLarge(fileName, diagnostics);
        std::fclose(in);
        return ReadStatus::Refused;
    }
    if (!paged && !loadText(in, fileName, diagnostics, text)) {
        std::fclose(in);
        return ReadStatus::Refused;
    }
    const ReadStatus status =
        paged ? readWith(SceneReader(in, static_cast<long>(about.size), fileName, diagnostics),
                         fileName, diagnostics, warnings, dump, everyMistake)
              : readWith(SceneReader(std::move(text), fileName, diagnostics), fileName,
                         diagnostics, warnings, dump, everyMistake);
    std::fclose(in);
    return status;
}

}  // namespace fotolume
