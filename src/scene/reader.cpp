#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <string>

#include "scene/scene.hpp"

namespace fotolume {

namespace {

// More warnings than this about one file help nobody; the rest are counted.
constexpr int MAX_WARNINGS = 20;
// How much of an offending token a diagnostic quotes.
constexpr std::size_t MAX_QUOTED = 40;

// What a value is, for a diagnostic only: "radius" of "object" 4 ("sphere").
struct Field {
    const char* name;
    const char* owner = nullptr;  // "light", "pigment", "finish", "object" or a camera item
    int row = -1;
    const char* kind = nullptr;
    const char* component = nullptr;  // "x", "red", ... within a vector

    std::string describe() const {
        std::string text = name;
        if (component != nullptr) text = text.empty() ? component : text + " " + component;
        if (owner == nullptr) return text;
        text += " of ";
        text += owner;
        if (row >= 0) text += " " + std::to_string(row);
        if (kind != nullptr && kind[0] != '\0') text += std::string(" (") + kind + ")";
        return text;
    }
};

struct Position {
    long line = 0;  // 0: unknown
    long column = 0;
    std::string token;
};

std::string quote(const std::string& raw, bool truncated) {
    std::string text;
    for (unsigned char c : raw) {
        if (std::isprint(c)) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    if (truncated) text += "...";
    return "'" + text + "'";
}

bool isBlank(int c) { return c != EOF && std::isspace(c); }

// Reads the scene file value by value, with one single-conversion fscanf
// per number, so a malformed file reads exactly as the C library reads it:
// a value that does not convert leaves its target unchanged and reading goes
// on from wherever the input stands. Diagnostics carry FILE:LINE:COLUMN;
// positions are worked out only when a diagnostic is printed.
class SceneReader {
public:
    SceneReader(std::FILE* in, const char* name, std::FILE* diagnostics)
        : in_(in), name_(name), diagnostics_(diagnostics) {}

    long offset() const { return std::ftell(in_); }

    bool real(double& target, const Field& field) {
        const long before = offset();
        double value;
        const int result = std::fscanf(in_, "%lf", &value);
        if (result == 1) {
            target = value;
            return true;
        }
        failed(result, before, "a real number", field);
        return false;
    }

    void vector(Vetor& target, const char* const names[3], const Field& field) {
        for (int i = 0; i < 3; ++i) {
            Field component = field;
            component.component = names[i];
            real(target[i], component);
        }
    }

    bool integer(int& target, const Field& field) {
        const long before = offset();
        long long value;
        const int result = std::fscanf(in_, "%lld", &value);
        if (result == 1) {
            // Out-of-range text would be undefined behaviour for "%d"; clamp so
            // that any count or row number that large is refused as too big.
            target = value > INT_MAX   ? INT_MAX
                     : value < INT_MIN ? INT_MIN
                                       : static_cast<int>(value);
            return true;
        }
        failed(result, before, "an integer", field);
        return false;
    }

    // Reads a word as "%s" does (skip white space, take the run of other
    // characters), keeping at most 9 characters in `kind`. Returns the
    // length of the whole word, or -1 when the file has ended (kind is then
    // left as it was).
    long word(char (&kind)[KIND_SIZE], const Field& field) {
        const long before = offset();
        int c;
        do c = std::getc(in_);
        while (isBlank(c));
        if (c == EOF) {
            failed(EOF, before, "a type word", field);
            return -1;
        }
        long size = 0;
        while (c != EOF && !isBlank(c)) {
            if (size < KIND_SIZE - 1) kind[size] = static_cast<char>(c);
            ++size;
            c = std::getc(in_);
        }
        if (c != EOF) std::ungetc(c, in_);
        kind[size < KIND_SIZE - 1 ? size : KIND_SIZE - 1] = '\0';
        lastWordStart_ = before;
        return size;
    }

    void unknownWord(const char* section, int row, const char* expected) {
        if (capped()) return;
        warn(lastWordStart_,
             "unknown %s type %s for %s %d (expected %s); no values are read for this row", section,
             locate(lastWordStart_).token.c_str(), section, row, expected);
    }

    void error(long before, const char* format, ...) {
        va_list args;
        va_start(args, format);
        report(before, "error", format, args);
        va_end(args);
    }

    void warn(long before, const char* format, ...) {
        if (warnings_++ >= MAX_WARNINGS) return;
        va_list args;
        va_start(args, format);
        report(before, "warning", format, args);
        va_end(args);
    }

    void finish() {
        if (warnings_ > MAX_WARNINGS)
            std::fprintf(diagnostics_, "%s: note: %d more warnings not shown\n", name_,
                         warnings_ - MAX_WARNINGS);
    }

    bool readError() const { return std::ferror(in_) != 0; }

private:
    // Past the limit a warning is only counted: no position is worked out,
    // so a long file full of mistakes still reads in linear time.
    bool capped() {
        if (warnings_ < MAX_WARNINGS) return false;
        ++warnings_;
        return true;
    }

    void failed(int result, long before, const char* expected, const Field& field) {
        if (result == EOF) {
            if (std::ferror(in_) || endReported_) return;
            endReported_ = true;
            warn(before,
                 "file ends early: expected %s for %s; it and every later value keep their zero "
                 "start values",
                 expected, field.describe().c_str());
            return;
        }
        // A token that does not convert stays in the input, so the values
        // after it fail on it too: report it once.
        const long after = offset();
        if (after == lastFailure_) return;
        lastFailure_ = after;
        if (capped()) return;
        const Position where = locate(before);
        warn(before, "expected %s for %s, found %s; the value keeps its previous value", expected,
             field.describe().c_str(), where.token.c_str());
    }

    // Line and column (1-based, a tab is one column) of the first token at
    // or after `before`, or of the end of the file, and that token's text.
    Position locate(long before) {
        Position where;
        const long resume = offset();
        if (before < 0 || resume < 0 || std::fseek(in_, 0, SEEK_SET) != 0) return where;
        where.line = 1;
        where.column = 1;
        int c = 0;
        for (long i = 0; i < before && (c = std::getc(in_)) != EOF; ++i) advance(where, c);
        while ((c = std::getc(in_)) != EOF && std::isspace(c)) advance(where, c);
        std::string raw;
        bool truncated = false;
        while (c != EOF && !std::isspace(c)) {
            if (raw.size() < MAX_QUOTED)
                raw += static_cast<char>(c);
            else
                truncated = true;
            if (truncated) break;
            c = std::getc(in_);
        }
        where.token = raw.empty() ? std::string("the end of the file") : quote(raw, truncated);
        std::clearerr(in_);
        std::fseek(in_, resume, SEEK_SET);
        return where;
    }

    static void advance(Position& where, int c) {
        if (c == '\n') {
            ++where.line;
            where.column = 1;
        } else {
            ++where.column;
        }
    }

    void report(long before, const char* level, const char* format, va_list args) {
        const Position where = locate(before);
        if (where.line > 0)
            std::fprintf(diagnostics_, "%s:%ld:%ld: %s: ", name_, where.line, where.column, level);
        else
            std::fprintf(diagnostics_, "%s: %s: ", name_, level);
        std::vfprintf(diagnostics_, format, args);
        std::fputc('\n', diagnostics_);
    }

    std::FILE* in_;
    const char* name_;
    std::FILE* diagnostics_;
    int warnings_ = 0;
    bool endReported_ = false;
    long lastFailure_ = -2;
    long lastWordStart_ = -1;
};

const char* const XYZ[3] = {"x", "y", "z"};
const char* const RGB[3] = {"red", "green", "blue"};

// More than any scene needs: the format has a few thousand values at most.
constexpr std::size_t MAX_PIPED_SCENE = 64u << 20;

// Positions are reported by seeking back into the file; a pipe cannot seek,
// so its contents are first copied to a temporary file, up to a bound so that
// an endless stream cannot fill the disk. Null when the stream is longer.
std::FILE* seekable(std::FILE* in) {
    if (std::fseek(in, 0, SEEK_CUR) == 0 && std::ftell(in) >= 0) return in;
    std::FILE* copy = std::tmpfile();
    if (copy == nullptr) return in;  // read it directly, without positions
    char buffer[65536];
    std::size_t got, total = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        total += got;
        if (total > MAX_PIPED_SCENE) {
            std::fclose(copy);
            std::fclose(in);
            return nullptr;
        }
        std::fwrite(buffer, 1, got, copy);
    }
    std::fclose(in);
    std::rewind(copy);
    return copy;
}

bool countFits(SceneReader& reader, long before, int count, int capacity, const char* section) {
    if (count <= capacity) return true;
    reader.error(before, "%d %s, but a scene holds at most %d", count, section, capacity);
    return false;
}

bool rowExists(SceneReader& reader, long before, int object, const char* table, const char* tables,
               int number, int count) {
    if (number >= 0 && number < count) return true;
    if (count <= 0)
        reader.error(before, "object %d names %s %d, but the file defines no %s", object, table,
                     number, tables);
    else
        reader.error(before, "object %d names %s %d, but the file defines %s 0 to %d only", object,
                     table, number, tables, count - 1);
    return false;
}

ReadStatus readContent(SceneReader& reader, const char* fileName, std::FILE* diagnostics) {
    Vetor lookAt;
    Vetor upVector;
    double fieldOfView = 0.0;

    reader.vector(eye, XYZ, Field{"", "the eye point"});
    const long lookAtStart = reader.offset();
    reader.vector(lookAt, XYZ, Field{"", "the look-at point"});
    const long upStart = reader.offset();
    reader.vector(upVector, XYZ, Field{"", "the up vector"});
    const long fieldOfViewStart = reader.offset();
    reader.real(fieldOfView, Field{"the field of view"});

    long before = reader.offset();
    reader.integer(lightCount, Field{"the number of lights"});
    if (!countFits(reader, before, lightCount, MAX_LIGHTS, "lights")) return ReadStatus::Refused;
    for (int i = 0; i < lightCount; ++i) {
        reader.vector(lightPosition[i], XYZ, Field{"position", "light", i});
        reader.vector(lightColor[i], RGB, Field{"color", "light", i});
        reader.vector(lightAttenuation[i], XYZ, Field{"attenuation", "light", i});
    }

    before = reader.offset();
    reader.integer(pigmentCount, Field{"the number of pigments"});
    if (!countFits(reader, before, pigmentCount, MAX_PIGMENTS, "pigments"))
        return ReadStatus::Refused;
    for (int i = 0; i < pigmentCount; ++i) {
        const long size = reader.word(pigmentKind[i], Field{"the type word", "pigment", i});
        // A word of 10 or more characters is never one of the type words, even
        // when its first 9 characters hold a recognised word and a NUL.
        pigmentType[i] = size >= KIND_SIZE ? PigmentType::Unknown : pigmentTypeOf(pigmentKind[i]);
        const char* kind = pigmentKind[i];
        switch (pigmentType[i]) {
        case PigmentType::Solid:
            reader.vector(pigmentColor1[i], RGB, Field{"color", "pigment", i, kind});
            break;
        case PigmentType::Checker:
            reader.vector(pigmentColor1[i], RGB, Field{"first color", "pigment", i, kind});
            reader.vector(pigmentColor2[i], RGB, Field{"second color", "pigment", i, kind});
            reader.real(pigmentSize[i], Field{"the cell size", "pigment", i, kind});
            break;
        case PigmentType::Gradient:
            reader.vector(pigmentOrigin[i], XYZ, Field{"origin", "pigment", i, kind});
            reader.vector(pigmentDirection[i], XYZ, Field{"direction", "pigment", i, kind});
            reader.vector(pigmentColor1[i], RGB, Field{"first color", "pigment", i, kind});
            reader.vector(pigmentColor2[i], RGB, Field{"second color", "pigment", i, kind});
            break;
        case PigmentType::Unknown:
            if (size >= 0) reader.unknownWord("pigment", i, "solid, checker or gradient");
            break;
        }
    }

    before = reader.offset();
    reader.integer(finishCount, Field{"the number of finishes"});
    if (!countFits(reader, before, finishCount, MAX_FINISHES, "finishes"))
        return ReadStatus::Refused;
    for (int i = 0; i < finishCount; ++i) {
        reader.real(finishAmbient[i], Field{"ambient", "finish", i});
        reader.real(finishDiffuse[i], Field{"diffuse", "finish", i});
        reader.real(finishSpecular[i], Field{"specular", "finish", i});
        reader.real(finishShininess[i], Field{"shininess", "finish", i});
        reader.real(finishReflection[i], Field{"reflection", "finish", i});
        reader.real(finishTransmission[i], Field{"transmission", "finish", i});
        reader.real(finishIor[i], Field{"ior", "finish", i});
    }

    before = reader.offset();
    reader.integer(objectCount, Field{"the number of objects"});
    if (!countFits(reader, before, objectCount, MAX_OBJECTS, "objects")) return ReadStatus::Refused;
    for (int i = 0; i < objectCount; ++i) {
        before = reader.offset();
        reader.integer(objectPigment[i], Field{"the pigment number", "object", i});
        if (!rowExists(reader, before, i, "pigment", "pigments", objectPigment[i], pigmentCount))
            return ReadStatus::Refused;
        before = reader.offset();
        reader.integer(objectFinish[i], Field{"the finish number", "object", i});
        if (!rowExists(reader, before, i, "finish", "finishes", objectFinish[i], finishCount))
            return ReadStatus::Refused;
        const long size = reader.word(objectKind[i], Field{"the type word", "object", i});
        objectType[i] = size >= KIND_SIZE ? ObjectType::Unknown : objectTypeOf(objectKind[i]);
        const char* kind = objectKind[i];
        switch (objectType[i]) {
        case ObjectType::Sphere:
            reader.vector(objectPointA[i], XYZ, Field{"centre", "object", i, kind});
            reader.real(objectRadius[i], Field{"the radius", "object", i, kind});
            break;
        case ObjectType::Triangle:
            reader.vector(objectPointA[i], XYZ, Field{"first vertex", "object", i, kind});
            reader.vector(objectPointB[i], XYZ, Field{"second vertex", "object", i, kind});
            reader.vector(objectPointC[i], XYZ, Field{"third vertex", "object", i, kind});
            break;
        case ObjectType::Disc:
            reader.vector(objectPointA[i], XYZ, Field{"centre", "object", i, kind});
            reader.real(objectRadius[i], Field{"the radius", "object", i, kind});
            reader.vector(objectPointB[i], XYZ, Field{"normal", "object", i, kind});
            break;
        case ObjectType::Unknown:
            if (size >= 0) reader.unknownWord("object", i, "sphere, triangle or disc");
            break;
        }
    }

    if (reader.readError()) {
        std::fprintf(diagnostics, "%s: error: the file could not be read to its end: %s\n",
                     fileName, std::strerror(errno));
        return ReadStatus::Refused;
    }

    switch (setupCamera(lookAt, upVector, fieldOfView)) {
    case CameraStatus::Ok:
        return ReadStatus::Ok;
    case CameraStatus::BadFieldOfView:
        reader.error(fieldOfViewStart,
                     "the field of view must lie strictly between 0 and 180 degrees");
        break;
    case CameraStatus::NotFinite:
        reader.error(0, "the camera values must be finite numbers that give a finite image plane");
        break;
    case CameraStatus::EyeAtLookAt:
        reader.error(lookAtStart,
                     "the look-at point equals the eye point, so there is no viewing direction");
        break;
    case CameraStatus::UpAlongView:
        reader.error(upStart, "the up vector has no component across the viewing direction");
        break;
    }
    return ReadStatus::Refused;
}

}  // namespace

ReadStatus readScene(const char* fileName, std::FILE* diagnostics) {
    std::error_code ignored;
    std::FILE* in = nullptr;
    if (std::strcmp(fileName, "-") == 0) {  // standard input, as command-line tools read it
        const int copy = dup(STDIN_FILENO);
        in = copy >= 0 ? fdopen(copy, "r") : nullptr;
    } else if (!std::filesystem::is_directory(fileName, ignored)) {
        in = std::fopen(fileName, "r");
    }
    if (in == nullptr) {
        std::printf("Nao foi possivel abrir o arquivo %s , verifique o nome e tente novamente. \n",
                    fileName);
        std::fflush(stdout);
        return ReadStatus::CannotOpen;
    }
    in = seekable(in);
    if (in == nullptr) {
        std::fprintf(diagnostics,
                     "%s: error: a scene read from a stream must be at most %zu bytes\n", fileName,
                     MAX_PIPED_SCENE);
        return ReadStatus::Refused;
    }
    SceneReader reader(in, fileName, diagnostics);
    const ReadStatus status = readContent(reader, fileName, diagnostics);
    sceneChanged();
    reader.finish();
    std::fclose(in);
    return status;
}

}  // namespace fotolume
