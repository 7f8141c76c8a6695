#include "scene/tokens.hpp"

#include <cctype>
#include <charconv>
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

long SceneReader::offset() const { return pos_; }

bool SceneReader::readError() const { return in_ == nullptr || std::ferror(in_) != 0; }

long SceneReader::firstNonBlank(long at) const {
    const long size = static_cast<long>(text_.size());
    while (at >= 0 && at < size && isBlank(text_[at])) ++at;
    return at;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// The end of the plain decimal number at `at` (a sign, digits with at most
// one point, for a real an exponent with digits), when a blank or the end
// of the text follows it; -1 for anything else. Such a token is all that
// the conversion takes, and the value it gives is the correctly rounded
// one, as std::from_chars gives it.
long SceneReader::plainNumberEnd(long at, bool real) const {
    const long size = static_cast<long>(text_.size());
    long i = at;
    if (i < size && (text_[i] == '+' || text_[i] == '-')) ++i;
    long digits = 0;
    for (; i < size && isDigit(text_[i]); ++i) ++digits;
    if (real && i < size && text_[i] == '.')
        for (++i; i < size && isDigit(text_[i]); ++i) ++digits;
    if (digits == 0) return -1;
    if (real && i < size && (text_[i] == 'e' || text_[i] == 'E')) {
        ++i;
        if (i < size && (text_[i] == '+' || text_[i] == '-')) ++i;
        long exponent = 0;
        for (; i < size && isDigit(text_[i]); ++i) ++exponent;
        if (exponent == 0) return -1;
    }
    return i == size || isBlank(text_[i]) ? i : -1;
}

// A plain number read straight from the text: true with the value, the
// position moved past it; false (nothing moved) for anything else, which
// the C library's conversion then reads.
template <typename Number>
bool SceneReader::quick(Number& value, bool real) {
    if (in_ == nullptr) return false;
    const long at = firstNonBlank(pos_);
    const long end = plainNumberEnd(at, real);
    if (end < 0) return false;
    const char* first = text_.data() + at + (text_[at] == '+' ? 1 : 0);
    const std::from_chars_result got = std::from_chars(first, text_.data() + end, value);
    if (got.ec != std::errc() || got.ptr != text_.data() + end) return false;  // out of range
    pos_ = end;
    return true;
}

// One formatted conversion by the C library, from where reading stands;
// the stream is moved there only when a quick read has moved on.
int SceneReader::scan(const char* format, void* target) {
    if (in_ == nullptr) return EOF;
    if (streamAt_ != pos_) std::fseek(in_, firstNonBlank(pos_), SEEK_SET);
    const int result = std::fscanf(in_, format, target);
    pos_ = streamAt_ = std::ftell(in_);
    return result;
}

bool SceneReader::real(double& target, const Field& field) {
    const long before = offset();
    double value;
    const int result = quick(value, true) ? 1 : scan("%lf", &value);
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
    long long value;
    const int result = quick(value, false) ? 1 : scan("%lld", &value);
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
    const long end = static_cast<long>(text_.size());
    if (in_ != nullptr) pos_ = firstNonBlank(pos_);
    if (in_ == nullptr || pos_ >= end) {
        failed(EOF, before, "a type word", field);
        return -1;
    }
    long size = 0;
    for (; pos_ < end && !isBlank(text_[pos_]); ++pos_, ++size)
        if (size < KIND_SIZE - 1) kind[size] = text_[pos_];
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
