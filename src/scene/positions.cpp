// Positions in the scene text: one cursor that counts lines and columns as
// it moves forward, with a mark at each page start so that going back costs
// at most a page.
#include <algorithm>
#include <cstring>
#include <string>

#include "scene/tokens.hpp"

namespace fotolume {

namespace {

// How much of an offending token a diagnostic quotes.
constexpr std::size_t MAX_QUOTED = 40;

std::string quote(const std::string& raw, bool truncated) {
    return "'" + printable(raw) + (truncated ? "..." : "") + "'";
}

}  // namespace

// Moves the cursor to `to`: a lone CR, an LF and a CRLF pair each end a
// line; a tab is one column.
void SceneReader::advance(long to) {
    if (to < cursor_) {  // back to the mark of to's page (or the start)
        const long mark = std::min(to / SceneText::PAGE, static_cast<long>(marks_.size()) - 1);
        cursor_ = mark < 0 ? 0 : mark * SceneText::PAGE;
        line_ = mark < 0 ? 1 : marks_[mark].line;
        column_ = mark < 0 ? 1 : marks_[mark].column;
        afterCr_ = mark >= 0 && marks_[mark].afterCr;
    }
    // A page's bytes at a time, straight from memory.
    while (cursor_ < to && cursor_ < text_.size()) {
        if (cursor_ % SceneText::PAGE == 0 &&
            cursor_ / SceneText::PAGE == static_cast<long>(marks_.size()))
            marks_.push_back(Mark{line_, column_, afterCr_});
        const long pageEnd = (cursor_ / SceneText::PAGE + 1) * SceneText::PAGE;
        const long stop = std::min({to, text_.size(), pageEnd});
        const char* const first = text_.bytes(cursor_);
        const char* const end = first + (stop - cursor_);
        for (const char* p = first; p < end;) {
            // Up to the next line end, every byte is one column.
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
            if (lf == nullptr) lf = end;
            const char* cr = static_cast<const char*>(std::memchr(p, '\r', lf - p));
            const char* next = cr != nullptr ? cr : lf;
            if (next > p) {
                column_ += next - p;
                afterCr_ = false;
                p = next;
            }
            if (p == end) break;
            if (*p == '\n' && afterCr_) {
                afterCr_ = false;
            } else {
                ++line_;
                column_ = 1;
                afterCr_ = *p == '\r';
            }
            ++p;
        }
        cursor_ = stop;
    }
}

// Where each table row starts, from the rows as read (in file order, so
// one pass over the text).
void SceneReader::recordLines() {
    rowLines.lights.clear();
    rowLines.pigments.clear();
    rowLines.finishes.clear();
    rowLines.objects.clear();
    for (const Row& row : rows_) {
        std::vector<long>* lines = nullptr;
        if (std::strcmp(row.owner, "light") == 0) lines = &rowLines.lights;
        if (std::strcmp(row.owner, "pigment") == 0) lines = &rowLines.pigments;
        if (std::strcmp(row.owner, "finish") == 0) lines = &rowLines.finishes;
        if (std::strcmp(row.owner, "object") == 0) lines = &rowLines.objects;
        if (lines == nullptr || row.row < 0) continue;
        if (lines->size() <= static_cast<std::size_t>(row.row)) lines->resize(row.row + 1, 0);
        (*lines)[row.row] = locate(row.start).line;
    }
}

// Line and column (1-based) of the first token at or after `before`, or of
// the end of the file, and that token's text (as much as is quoted).
SceneReader::Position SceneReader::locate(long before) {
    Position where;
    if (before < 0) return where;
    const long size = text_.size();
    const long at = before == lastBefore_ ? lastAt_ : firstNonBlank(before);
    lastBefore_ = before;
    lastAt_ = at;
    advance(at);
    where.line = line_;
    where.column = column_;
    long end = at;
    const long longest = static_cast<long>(MAX_QUOTED);
    while (end < size && end - at <= longest && !endsToken(text_[end])) ++end;
    const bool truncated = end - at > longest;
    const std::string raw = text_.substr(at, truncated ? MAX_QUOTED : end - at);
    where.token = raw.empty() ? std::string("the end of the file") : quote(raw, truncated);
    return where;
}

}  // namespace fotolume
