#include "scene/tokens.hpp"

#include <cctype>
#include <climits>
#include <cstring>

namespace fotolume {

namespace {

// More warnings than this about one file help nobody; the rest are counted.
constexpr int MAX_WARNINGS = 20;
// How much of an offending token a diagnostic quotes.
constexpr std::size_t MAX_QUOTED = 40;

bool isBlank(int c) { return c != EOF && std::isspace(c); }

std::string quote(const std::string& raw, bool truncated) {
    return "'" + printable(raw) + (truncated ? "..." : "") + "'";
}

}  // namespace

std::string printable(const std::string& raw) {
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
    return text;
}

std::string Field::describe() const {
    std::string text = name;
    if (component != nullptr) text = text.empty() ? component : text + " " + component;
    if (owner == nullptr) return text;
    text += " of ";
    text += owner;
    if (row >= 0) text += " " + std::to_string(row);
    if (kind != nullptr && kind[0] != '\0') text += std::string(" (") + kind + ")";
    return text;
}

SceneReader::SceneReader(std::string text, const char* name, std::FILE* diagnostics)
    : text_(std::move(text)),
      in_(fmemopen(text_.empty() ? nullptr : &text_[0], text_.size(), "r")),
      name_(printable(name)),
      diagnostics_(diagnostics) {}

SceneReader::~SceneReader() {
    if (in_ != nullptr) std::fclose(in_);
}

long SceneReader::offset() const { return in_ != nullptr ? std::ftell(in_) : 0; }

bool SceneReader::readError() const { return in_ == nullptr || std::ferror(in_) != 0; }

bool SceneReader::real(double& target, const Field& field) {
    const long before = offset();
    double value;
    const int result = in_ != nullptr ? std::fscanf(in_, "%lf", &value) : EOF;
    if (result == 1) {
        target = value;
        return true;
    }
    failed(result, before, "a real number", field);
    return false;
}

void SceneReader::vector(Vetor& target, const char* const names[3], const Field& field) {
    for (int i = 0; i < 3; ++i) {
        Field component = field;
        component.component = names[i];
        real(target[i], component);
    }
}

bool SceneReader::integer(int& target, const Field& field) {
    const long before = offset();
    long long value;
    const int result = in_ != nullptr ? std::fscanf(in_, "%lld", &value) : EOF;
    if (result == 1) {
        // Out-of-range text would be undefined behaviour for "%d"; clamp so
        // that any count or row number that large is refused as too big.
        target = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
        return true;
    }
    failed(result, before, "an integer", field);
    return false;
}

long SceneReader::word(char (&kind)[KIND_SIZE], const Field& field) {
    flushStuck(true);  // a word takes whatever token reading is stuck on
    const long before = offset();
    int c = EOF;
    if (in_ != nullptr) {
        do c = std::getc(in_);
        while (isBlank(c));
    }
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

void SceneReader::unknownWord(const char* section, int row, const char* expected) {
    firstFailure();
    if (capped()) return;
    warn(lastWordStart_,
         "unknown %s type %s for %s %d (expected %s); no values are read for this row", section,
         locate(lastWordStart_).token.c_str(), section, row, expected);
}

void SceneReader::error(long before, const char* format, ...) {
    flushStuck(false);
    firstFailure();
    va_list args;
    va_start(args, format);
    report(before, "error", format, args);
    va_end(args);
}

void SceneReader::warn(long before, const char* format, ...) {
    if (warnings_++ >= MAX_WARNINGS) return;
    va_list args;
    va_start(args, format);
    report(before, "warning", format, args);
    va_end(args);
}

// Past the limit a warning is only counted: no position is worked out.
bool SceneReader::capped() {
    if (warnings_ < MAX_WARNINGS) return false;
    ++warnings_;
    return true;
}

void SceneReader::failed(int result, long before, const char* expected, const Field& field) {
    if (result == EOF) {
        if (readError() || endReported_) return;
        endReported_ = true;
        flushStuck(false);
        firstFailure();
        warn(before,
             "file ends early: expected %s for %s; it and every later value keep their start "
             "value, 0",
             expected, field.describe().c_str());
        return;
    }
    // A token that does not convert stays in the input, so the values after
    // it fail on it too, until a type word takes it: one warning for the run.
    const long after = offset();
    if (after == stuckAt_) {
        ++stuckReads_;
        return;
    }
    flushStuck(false);
    firstFailure();
    stuckAt_ = after;
    stuckBefore_ = before;
    stuckReads_ = 1;
    stuckText_.clear();  // past the cap it is only counted
    if (warnings_ < MAX_WARNINGS)
        stuckText_ = "expected " + std::string(expected) + " for " + field.describe() +
                     ", found " + locate(before).token;
}

void SceneReader::flushStuck(bool byWord) {
    if (stuckReads_ == 0) return;
    const int reads = stuckReads_;
    stuckReads_ = 0;
    if (stuckText_.empty()) {
        ++warnings_;
        return;
    }
    if (reads == 1)
        warn(stuckBefore_, "%s; the value keeps its start value, 0", stuckText_.c_str());
    else if (byWord)
        warn(stuckBefore_,
             "%s; reading stuck on this token until a type word took it, so it and the %d values "
             "after it were not read and keep their start value, 0",
             stuckText_.c_str(), reads - 1);
    else
        warn(stuckBefore_,
             "%s; reading stuck on this token, so it and every value after it (%d in all) were "
             "not read and keep their start value, 0",
             stuckText_.c_str(), reads);
}

void SceneReader::beginRow() {
    long at = offset();
    while (at < static_cast<long>(text_.size()) && isBlank(static_cast<unsigned char>(text_[at])))
        ++at;
    rowStart_ = at;
}

void SceneReader::endRow(const char* owner, int row) {
    if (!failedOnce_) rows_.push_back(Row{rowStart_, offset(), owner, row});
}

void SceneReader::firstFailure() {
    if (failedOnce_) return;
    failedOnce_ = true;
    hint_ = layoutHint();
}

bool SceneReader::startsLine(long at) const {
    for (long i = at - 1; i >= 0; --i) {
        const char c = text_[i];
        if (c == '\n' || c == '\r') return true;
        if (!isBlank(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool SceneReader::endsLine(long at) const {
    for (long i = at; i < static_cast<long>(text_.size()); ++i) {
        const char c = text_[i];
        if (c == '\n' || c == '\r') return true;
        if (!isBlank(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// Scene files are written one row per line in practice, though line ends
// mean nothing to reading. When reading goes wrong, the first row that
// breaks that layout right after rows that keep it is the likely cause: a
// row that took a value from the next line lacks one, a row that left
// values on its line has one too many.
std::string SceneReader::layoutHint() {
    auto fillsOneLine = [this](const Row& row) {
        for (long i = row.start; i < row.end; ++i)
            if (text_[i] == '\n' || text_[i] == '\r') return false;
        return startsLine(row.start) && endsLine(row.end);
    };
    for (std::size_t i = 1; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (!fillsOneLine(rows_[i - 1]) || fillsOneLine(row) || !startsLine(row.start)) continue;
        const long first = locate(row.start).line;
        const long last = locate(row.end - 1).line;
        std::string what = row.owner;
        if (row.row >= 0) what += " " + std::to_string(row.row);
        char text[256];
        if (last > first)
            std::snprintf(text, sizeof text,
                          "%s runs on to line %ld, while the rows before it each fill one line: "
                          "a value is probably missing from line %ld",
                          what.c_str(), last, first);
        else
            std::snprintf(text, sizeof text,
                          "%s ends before the end of line %ld, while the rows before it each fill "
                          "one line: line %ld probably holds an extra value",
                          what.c_str(), first, first);
        const Position where = locate(row.start);
        return name_ + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) +
               ": note: " + text + "\n";
    }
    return "";
}

// Moves the cursor to `to`: a lone CR, an LF and a CRLF pair each end a
// line; a tab is one column.
void SceneReader::advance(long to) {
    if (to < cursor_) {  // rare: the camera is checked after everything is read
        cursor_ = 0;
        line_ = column_ = 1;
        afterCr_ = false;
    }
    for (; cursor_ < to && cursor_ < static_cast<long>(text_.size()); ++cursor_) {
        const char c = text_[cursor_];
        if (c == '\n' && afterCr_) {
            afterCr_ = false;
        } else if (c == '\n' || c == '\r') {
            ++line_;
            column_ = 1;
            afterCr_ = c == '\r';
        } else {
            ++column_;
            afterCr_ = false;
        }
    }
}

// Line and column (1-based) of the first token at or after `before`, or of
// the end of the file, and that token's text.
SceneReader::Position SceneReader::locate(long before) {
    Position where;
    if (before < 0) return where;
    long at = before;
    const long size = static_cast<long>(text_.size());
    while (at < size && isBlank(static_cast<unsigned char>(text_[at]))) ++at;
    advance(at);
    where.line = line_;
    where.column = column_;
    long end = at;
    while (end < size && !isBlank(static_cast<unsigned char>(text_[end]))) ++end;
    const bool truncated = static_cast<std::size_t>(end - at) > MAX_QUOTED;
    const std::string raw = text_.substr(at, truncated ? MAX_QUOTED : end - at);
    where.token = raw.empty() ? std::string("the end of the file") : quote(raw, truncated);
    return where;
}

void SceneReader::report(long before, const char* level, const char* format, va_list args) {
    const Position where = locate(before);
    if (where.line > 0)
        std::fprintf(diagnostics_, "%s:%ld:%ld: %s: ", name_.c_str(), where.line, where.column,
                     level);
    else
        std::fprintf(diagnostics_, "%s: %s: ", name_.c_str(), level);
    std::vfprintf(diagnostics_, format, args);
    std::fputc('\n', diagnostics_);
    if (!hint_.empty()) {
        std::fputs(hint_.c_str(), diagnostics_);
        hint_.clear();
    }
}

void SceneReader::finish(bool refused) {
    flushStuck(false);
    if (refused) return;
    int shown = 0;
    for (int i = 0; i < objectCount && i < MAX_OBJECTS; ++i)
        if (objectType[i] != ObjectType::Unknown) ++shown;
    if (shown == 0)
        warn(-1, "no objects were read, so the image will be only the background color");
    if (warnings_ > MAX_WARNINGS)
        std::fprintf(diagnostics_, "%s: note: %d more warnings not shown\n", name_.c_str(),
                     warnings_ - MAX_WARNINGS);
    if (warnings_ > 0) {
        auto rows = [](int count, const char* one, const char* many) {
            const int n = count > 0 ? count : 0;
            return std::to_string(n) + " " + (n == 1 ? one : many);
        };
        std::fprintf(diagnostics_, "%s: note: read %s, %s, %s and %s\n", name_.c_str(),
                     rows(lightCount, "light", "lights").c_str(),
                     rows(pigmentCount, "pigment", "pigments").c_str(),
                     rows(finishCount, "finish", "finishes").c_str(),
                     rows(objectCount, "object", "objects").c_str());
    }
}

}  // namespace fotolume
