#include "scene/tokens.hpp"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

namespace fotolume {

namespace {}  // namespace

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
      // An empty buffer is no stream for some systems' fmemopen: an empty
      // temporary file reads the same.
      in_(text_.empty() ? std::tmpfile() : fmemopen(&text_[0], text_.size(), "r")),
      name_(printable(name)),
      diagnostics_(diagnostics) {}

SceneReader::~SceneReader() {
    if (in_ != nullptr) std::fclose(in_);
}

long SceneReader::offset() const { return in_ != nullptr ? std::ftell(in_) : 0; }

bool SceneReader::readError() const { return in_ == nullptr || std::ferror(in_) != 0; }

// Moves past a long run of white space in the text itself: the same
// characters the conversions would skip (C locale), at memory speed instead
// of one character at a time through the stream. A short run is left to the
// conversion: a seek refills the stream's whole buffer, dearer than a few
// characters.
void SceneReader::skipBlanks() {
    if (in_ == nullptr) return;
    const long at = offset();
    const long token = firstNonBlank(at);
    if (token - at > 256) std::fseek(in_, token, SEEK_SET);
}

long SceneReader::firstNonBlank(long at) const {
    const long size = static_cast<long>(text_.size());
    while (at >= 0 && at < size && isBlank(text_[at])) ++at;
    return at;
}

bool SceneReader::real(double& target, const Field& field) {
    const long before = offset();
    skipBlanks();
    double value;
    const int result = in_ != nullptr ? std::fscanf(in_, "%lf", &value) : EOF;
    if (result == 1) {
        target = value;
        if (!std::isfinite(value)) nonFinite(before, value, field);
        return true;
    }
    failed(result, before, "a real number", field);
    return false;
}

// A table value that is not finite: the row cannot render sensibly. Said
// once a row.
void SceneReader::nonFinite(long before, double value, const Field& field) {
    if (field.owner == nullptr || field.row < 0) return;  // the camera has its own checks
    if (field.owner == nonFiniteOwner_ && field.row == nonFiniteRow_) return;
    nonFiniteOwner_ = field.owner;
    nonFiniteRow_ = field.row;
    warn(before, "%s is %s, not a finite number, so %s %d cannot render sensibly",
         field.describe().c_str(),
         std::isnan(value) ? "nan"
         : value > 0       ? "inf"
                           : "-inf",
         field.owner, field.row);
}

bool SceneReader::moreText(long at) const {
    return firstNonBlank(at) < static_cast<long>(text_.size());
}

long SceneReader::lineOf(long before) { return locate(before).line; }

void SceneReader::vector(Vetor& target, const char* const names[3], const Field& field) {
    for (int i = 0; i < 3; ++i) {
        Field component = field;
        component.component = names[i];
        real(target[i], component);
    }
}

bool SceneReader::integer(int& target, const Field& field) {
    const long before = offset();
    skipBlanks();
    long long value;
    const int result = in_ != nullptr ? std::fscanf(in_, "%lld", &value) : EOF;
    if (result == 1) {
        // Out-of-range text would be undefined behaviour for "%d"; clamp so
        // that any count or row number that large is refused as too big.
        target = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
        pastInt_ = value > INT_MAX || value < INT_MIN;
        return true;
    }
    failed(result, before, "an integer", field);
    return false;
}

long SceneReader::word(char (&kind)[KIND_SIZE], const Field& field) {
    flushStuck(true);  // a word takes whatever token reading is stuck on
    const long before = offset();
    skipBlanks();
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
    firstFailure(lastWordStart_);
    if (capped()) return;
    warn(lastWordStart_,
         "unknown %s type %s for %s %d (expected %s); no values are read for this row", section,
         locate(lastWordStart_).token.c_str(), section, row, expected);
}

void SceneReader::error(long before, const char* format, ...) {
    flushStuck(false);
    firstFailure(before);
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
void SceneReader::note(long before, const char* format, ...) {
    if (warnings_ + notes_++ >= MAX_WARNINGS) {
        ++notesDropped_;
        return;
    }
    va_list args;
    va_start(args, format);
    report(before, "note", format, args);
    va_end(args);
}

bool SceneReader::capped() {
    if (warnings_ < MAX_WARNINGS) return false;
    ++warnings_;
    return true;
}

void SceneReader::failed(int result, long before, const char* expected, const Field& field) {
    rowFailed_ = true;
    if (result == EOF) {
        if (readError() || endReported_) return;
        endReported_ = true;
        flushStuck(false);
        firstFailure(before);
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
    firstFailure(before);
    stuckAt_ = after;
    stuckBefore_ = before;
    stuckReads_ = 1;
    stuckText_.clear();  // past the cap it is only counted
    if (warnings_ < MAX_WARNINGS)
        stuckText_ = "expected " + std::string(expected) + " for " + field.describe() + ", found " +
                     locate(before).token;
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
    rowStart_ = firstNonBlank(offset());
    rowFailed_ = false;
}

void SceneReader::endRow(const char* owner, int row) {
    if (!failedOnce_) rows_.push_back(Row{rowStart_, offset(), owner, row});
    if (recordAll_) allRows_.push_back(Row{rowStart_, offset(), owner, row});
}

void SceneReader::firstFailure(long at) {
    if (failedOnce_) return;
    failedOnce_ = true;
    failureAt_ = at;
    hint_ = layoutHint();
}

}  // namespace fotolume

namespace fotolume {

std::vector<SceneReader::RowAt> SceneReader::everyRow() {
    std::vector<RowAt> rows;
    for (const Row& row : allRows_) {
        const Position where = locate(row.start);
        rows.push_back(RowAt{row.owner, row.row, where.line, where.column});
    }
    return rows;
}

}  // namespace fotolume
