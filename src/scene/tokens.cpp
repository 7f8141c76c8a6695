#include "scene/tokens.hpp"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

#include "os/os.hpp"

namespace fotolume {

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
      in_(os::readerOf(text_.held(), static_cast<std::size_t>(text_.size()))),
      ownsIn_(true),
      name_(printable(name)),
      diagnostics_(diagnostics) {}

SceneReader::SceneReader(std::FILE* file, long size, const char* name, std::FILE* diagnostics)
    : text_(os::descriptorOf(file), size), in_(file), ownsIn_(false), name_(printable(name)),
      diagnostics_(diagnostics) {}

SceneReader::~SceneReader() {
    if (in_ != nullptr && ownsIn_) std::fclose(in_);
}

long SceneReader::offset() const { return pos_; }

bool SceneReader::readError() const {
    return in_ == nullptr || std::ferror(in_) != 0 || text_.failed();
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
    return firstNonBlank(at) < text_.size();
}

long SceneReader::lineOf(long before) { return locate(before).line; }

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

void SceneReader::endPackedRow(const char* owner, int row) {
    const Row read{rowStart_, offset(), owner, row, true};
    if (!failedOnce_) rows_.push_back(read);
    if (recordAll_) allRows_.push_back(read);
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
