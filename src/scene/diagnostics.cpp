// Where diagnostics point and what they add: positions by one forward
// cursor, the layout hint, and the closing summary of a read.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "scene/tokens.hpp"

namespace fotolume {

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

bool SceneReader::startsLine(long at) const {
    for (long i = at - 1; i >= 0; --i) {
        const char c = text_[i];
        if (c == '\n' || c == '\r') return true;
        if (!isBlank(c)) return false;
    }
    return true;
}

// The numbers on the line that `at` starts: 0 when `at` starts no line or
// the line holds anything but numbers.
int SceneReader::lineNumbers(long at) const {
    if (at >= text_.size() || !startsLine(at)) return 0;
    int numbers = 0;
    long i = at;
    while (i < text_.size() && text_[i] != '\n' && text_[i] != '\r' && text_[i] != COMMENT) {
        if (isBlank(text_[i])) {
            ++i;
            continue;
        }
        long end = i;
        while (end < text_.size() && !endsToken(text_[end])) ++end;
        const std::string token = text_.substr(i, end - i);
        char* stop = nullptr;
        std::strtod(token.c_str(), &stop);
        if (*stop != '\0') return 0;
        ++numbers;
        i = end;
    }
    return numbers;
}

bool SceneReader::fillsOneLine(const Row& row) const {
    for (long i = row.start; i < row.end; ++i)
        if (text_[i] == '\n' || text_[i] == '\r') return false;
    return startsLine(row.start) && endsLine(row.end);
}

// Rows one a line, and then a line that does not fit the count: one more
// row (a count too low) or a lone number where a row should start (a count
// too high). Said at the count, with the likely count.
void SceneReader::checkCountFits(const CountCheck& check, int row, long at) {
    if (failedOnce_ || countWarned_ || rows_.empty()) return;
    if (rows_.back().packed || !fillsOneLine(rows_.back())) return;
    const long token = firstNonBlank(at);
    const int tokens = lineNumbers(token);
    const bool tooLow = row == check.count && tokens == check.width;
    const bool tooHigh = row < check.count && row > 0 && tokens == 1;
    if (!tooLow && !tooHigh) return;
    countWarned_ = true;
    warn(check.countAt, "the number of %s is %d, but line %ld %s: should the count be %d?",
         check.plural, check.count, locate(token).line,
         tooLow ? (std::string("holds one more ") + check.singular + " row").c_str()
                : (std::string("holds a lone number where ") + check.singular + " " +
                   std::to_string(row) + " should start")
                      .c_str(),
         tooLow ? check.count + 1 : row);
}

// A line end among the blanks from `at` on, or the end of the text.
bool SceneReader::endsLine(long at) const {
    const long token = firstNonBlank(at);
    return blanks_.lastEnd >= at || token >= text_.size();
}

// Scene files are written one row per line in practice, though line ends
// mean nothing to reading. When reading goes wrong, the first row that
// breaks that layout right after rows that keep it is the likely cause: a
// row that took a value from the next line lacks one, a row that left
// values on its line has one too many.
std::string SceneReader::layoutHint() {
    for (std::size_t i = 1; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (row.packed || rows_[i - 1].packed) continue;
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

void SceneReader::report(long before, const char* level, const char* format, va_list args) {
    const Position where = locate(before);
    if (where.line > 0) reportedLines_.insert(where.line);
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

// Every later finding is less certain than the first mistake: said as
// found after it, and within the same limit as warnings.
void SceneReader::sayLaterMistakes() {
    if (!lookFurther_ || reportedLines_.empty()) return;
    // After the first value that went wrong, or else the first line said.
    const long after =
        failedOnce_ && failureAt_ >= 0 ? locate(failureAt_).line : *reportedLines_.begin();
    long at = 0;
    const std::function<bool(std::string&)> next = [&](std::string& line) {
        if (at >= text_.size()) return false;
        line.clear();
        while (at < text_.size() && !endsLineHere(text_[at])) line += text_[at++];
        if (at < text_.size() && text_[at] == '\r' && at + 1 < text_.size() &&
            text_[at + 1] == '\n')
            ++at;
        ++at;
        return true;
    };
    std::vector<LaterFinding> found = laterMistakes(next, after);
    found.erase(
        std::remove_if(found.begin(), found.end(),
                       [this](const LaterFinding& f) { return reportedLines_.count(f.line); }),
        found.end());
    for (std::size_t i = 0; i < found.size() && i < MAX_WARNINGS; ++i)
        std::fprintf(diagnostics_,
                     "%s:%ld:%ld: warning: after the first mistake (less certain): %s\n",
                     name_.c_str(), found[i].line, found[i].column, found[i].text.c_str());
    if (found.size() > MAX_WARNINGS)
        std::fprintf(diagnostics_, "%s: note: %zu more found after the first mistake not shown\n",
                     name_.c_str(), found.size() - MAX_WARNINGS);
}

void SceneReader::finish(bool refused) {
    flushStuck(false);
    if (refused) {
        sayLaterMistakes();
        return;
    }
    recordLines();
    int shown = 0;
    for (int i = 0; i < objectCount && i < static_cast<int>(objectType.size()); ++i)
        if (objectType[i] != ObjectType::Unknown) ++shown;
    if (shown == 0)
        warn(-1, "no objects were read, so the image will be only the background color");
    // Whatever went wrong, the row that broke the one-row-per-line layout
    // is the likely cause (when a value failed to convert, it was pointed
    // at then).
    if (warnings_ > 0 && !failedOnce_) std::fputs(layoutHint().c_str(), diagnostics_);
    if (warnings_ > MAX_WARNINGS)
        std::fprintf(diagnostics_, "%s: note: %d more warnings not shown\n", name_.c_str(),
                     warnings_ - MAX_WARNINGS);
    if (notesDropped_ > 0)
        std::fprintf(diagnostics_, "%s: note: %d more notes not shown\n", name_.c_str(),
                     notesDropped_);
    sayUnread();
    sayLaterMistakes();
    if (warnings_ > 0) {
        // After a failure, the rows read as written; "(of N)" where the
        // count asked for more.
        auto rows = [this](int count, const char* owner, const char* one, const char* many) {
            const int asked = count > 0 ? count : 0;
            const int n = failedOnce_ ? std::min(asked, rowsRead(owner)) : asked;
            return std::to_string(n) + " " + (n == 1 ? one : many) +
                   (n < asked ? " (of " + std::to_string(asked) + ")" : "");
        };
        std::fprintf(diagnostics_, "%s: note: read %s, %s, %s and %s\n", name_.c_str(),
                     rows(lightCount, "light", "light", "lights").c_str(),
                     rows(pigmentCount, "pigment", "pigment", "pigments").c_str(),
                     rows(finishCount, "finish", "finish", "finishes").c_str(),
                     rows(objectCount, "object", "object", "objects").c_str());
    }
}

int SceneReader::rowsRead(const char* owner) const {
    int n = 0;
    for (const Row& row : rows_)
        if (row.row >= 0 && std::strcmp(row.owner, owner) == 0) ++n;
    return n;
}

// After the first failure nothing is read as written: the lines from the
// next one on are said, with how many rows of that table were read.
void SceneReader::sayUnread() {
    if (!failedOnce_ || failureAt_ < 0) return;
    const long failed = locate(failureAt_).line;
    long next = firstNonBlank(failureAt_);
    while (next < text_.size() && text_[next] != '\n' && text_[next] != '\r') ++next;
    if (!moreText(next)) return;
    const long first = locate(firstNonBlank(next)).line;
    long end = text_.size();
    while (end > 0 && isBlank(text_[end - 1])) --end;
    const long last = locate(end - 1).line;
    static const struct {
        const char* owner;
        const char* plural;
        const int* count;
    } tables[] = {{"light", "lights", &lightCount},
                  {"pigment", "pigments", &pigmentCount},
                  {"finish", "finishes", &finishCount},
                  {"object", "objects", &objectCount}};
    std::string read;
    for (const auto& table : tables) {
        const int n = rowsRead(table.owner);
        if (*table.count > n)
            read = "; " + std::to_string(n) + " " + (n == 1 ? table.owner : table.plural) +
                   " of the " + std::to_string(*table.count) + " the count asks for " +
                   (n == 1 ? "was" : "were") + " read before line " + std::to_string(failed);
        if (*table.count > n) break;
    }
    const std::string lines =
        last > first ? "lines " + std::to_string(first) + "-" + std::to_string(last) +
                           " were not read as the rows they hold"
                     : "line " + std::to_string(first) + " was not read as the row it holds";
    std::fprintf(diagnostics_, "%s: note: %s%s\n", name_.c_str(), lines.c_str(), read.c_str());
}

}  // namespace fotolume
