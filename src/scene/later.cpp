// The second look of --check: once reading has gone wrong, every value after
// the mistake is shifted and nothing more can be trusted. Scene files are
// written one row a line, though, so the lines themselves still say where
// each row stands. This reads the file again line by line, each section's
// rows by their shape, and reports what does not fit: less certain than
// what reading finds, so said as found after the first mistake.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "scene/later_lines.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

using namespace later;

enum Table { Lights, Pigments, Finishes, Objects, Tables };
const char* const OWNER[Tables] = {"light", "pigment", "finish", "object"};
const char* const PLURAL[Tables] = {"lights", "pigments", "finishes", "objects"};

int pigmentWidth(const std::string& word) {
    if (word == "solid") return 3;
    if (word == "checker") return 7;
    if (word == "gradient") return 12;
    return -1;
}

int objectWidth(const std::string& word) {
    if (word == "sphere") return 4;
    if (word == "triangle") return 9;
    if (word == "disc") return 7;
    return -1;
}

bool isObjectRow(const Line& line) {
    const std::vector<Token>& t = line.tokens;
    return t.size() >= 3 && isWhole(t[0].text) && isWhole(t[1].text) && !isNumber(t[2].text);
}

class SecondLook {
public:
    SecondLook(const std::function<bool(std::string&)>& next, long after)
        : lines_(next), after_(after) {}

    std::vector<LaterFinding> run() {
        camera();
        Table table = Lights;
        while (lines_.peek() && table < Tables) table = section(table);
        return std::move(found_);
    }

private:
    void say(long line, long column, const std::string& text) {
        if (line > after_) found_.push_back(LaterFinding{line, column, text});
    }

    // The camera's ten values, however they are laid out; what follows on
    // the line of the last one starts the lights.
    void camera() {
        std::size_t values = 0;
        while (values < 10 && lines_.peek()) {
            Line line = lines_.take();
            const std::size_t used = std::min(line.tokens.size(), 10 - values);
            values += used;
            if (used < line.tokens.size()) {
                line.tokens.erase(line.tokens.begin(), line.tokens.begin() + used);
                lines_.putBack(std::move(line));
            }
        }
    }

    // A section from its count to the line that starts the next one; the
    // table that comes next.
    Table section(Table table) {
        const Line* first = lines_.peek();
        long count = -1, countLine = 0;
        if (isCount(*first)) {
            count = std::strtol(first->tokens[0].text.c_str(), nullptr, 10);
            countLine = first->number;
            lines_.take();
        }
        long rows = 0, lastLine = countLine;
        bool extraSaid = false;
        while (const Line* line = lines_.peek()) {
            if (table != Objects && isCount(*line)) break;  // the next section's count
            const Table belongs = tableOf(*line, table);
            if (belongs != table) {
                say(line->number, line->tokens[0].column,
                    std::string("a row of the ") + PLURAL[belongs] + " where " + OWNER[table] +
                        " " + std::to_string(rows) + " or the count of the " + PLURAL[belongs] +
                        " should stand: is that count missing?");
                table = belongs;
                count = -1;
                rows = 0;
                continue;
            }
            if (count >= 0 && rows == count && !extraSaid) {
                extraSaid = true;
                say(line->number, line->tokens[0].column,
                    std::string("one more ") + OWNER[table] + " row than the number of " +
                        PLURAL[table] + " on line " + std::to_string(countLine) + ", " +
                        std::to_string(count) + ", asks for");
            }
            lastLine = line->number;
            row(table, rows++);
        }
        if (count > rows && lastLine > after_) {
            const Line* next = lines_.peek();
            say(next ? next->number : lastLine, next ? next->tokens[0].column : 1,
                "the number of " + std::string(PLURAL[table]) + " on line " +
                    std::to_string(countLine) + " is " + std::to_string(count) + ", but " +
                    std::to_string(rows) + (rows == 1 ? " row follows" : " rows follow"));
        }
        return static_cast<Table>(table + 1);
    }

    // Rows of a later table give themselves away by their words.
    static Table tableOf(const Line& line, Table table) {
        if (table < Pigments && pigmentWidth(line.tokens[0].text) > 0) return Pigments;
        if (table < Objects && isObjectRow(line)) return Objects;
        return table;
    }

    void row(Table table, long index) {
        Line line = lines_.take();
        const std::string name = std::string(OWNER[table]) + " " + std::to_string(index);
        const Token head = line.tokens[0];
        if (table == Lights || table == Finishes) {
            numbers(line, 0, table == Lights ? 9 : 7, name, "");
            return;
        }
        if (table == Pigments) {
            const int width = pigmentWidth(head.text);
            if (isNumber(head.text))
                say(line.number, head.column,
                    name + " starts with " + head.text + ", not a type word");
            else if (width < 0)
                say(line.number, head.column,
                    "unknown pigment type '" + head.text + "' for " + name +
                        " (expected solid, checker or gradient)");
            else
                numbers(line, 1, width, name, " " + head.text);
            return;
        }
        object(line, name);
    }

    void object(Line& line, const std::string& name) {
        const std::vector<Token>& t = line.tokens;
        for (std::size_t i = 0; i < 2 && i < t.size(); ++i)
            if (!isWhole(t[i].text)) {
                say(line.number, t[i].column,
                    name + " names its " + (i == 0 ? "pigment" : "finish") + " by '" + t[i].text +
                        "', not by a row number");
                return;
            }
        if (t.size() < 3) {
            say(line.number, t[0].column, name + " ends before its type word");
            return;
        }
        const Token word = t[2];
        if (word.text == "mesh" || word.text == "smooth") {
            mesh(line, name, word.text == "smooth");
            return;
        }
        const int width = objectWidth(word.text);
        if (width < 0)
            say(line.number, word.column,
                "unknown object type '" + word.text + "' for " + name +
                    " (expected sphere, triangle, disc, mesh or smooth)");
        else
            numbers(line, 3, width, name, " " + word.text);
    }

    // A row of `width` values after its first `from` tokens: on its line,
    // or on this and the next lines when together they hold exactly that.
    void numbers(Line& line, std::size_t from, int width, const std::string& name,
                 const std::string& kind) {
        std::vector<Token> values(line.tokens.begin() + static_cast<long>(from), line.tokens.end());
        for (std::size_t ahead = 0; values.size() < static_cast<std::size_t>(width); ++ahead) {
            const Line* next = lines_.peek(ahead);
            if (!next || next->tokens.size() + values.size() > static_cast<std::size_t>(width) ||
                isCount(*next))
                break;
            if (values.size() + next->tokens.size() == static_cast<std::size_t>(width)) {
                for (std::size_t k = 0; k <= ahead; ++k) {
                    const Line joined = lines_.take();
                    values.insert(values.end(), joined.tokens.begin(), joined.tokens.end());
                }
                break;
            }
        }
        for (const Token& value : values)
            if (!isNumber(value.text)) {
                say(line.number, value.column,
                    "'" + value.text + "' in " + name + " is not a number");
                return;
            }
        if (values.size() != static_cast<std::size_t>(width))
            say(line.number, line.tokens[0].column,
                name + kind + " has " + std::to_string(values.size()) +
                    (values.size() == 1 ? " value" : " values") + " on its line, not " +
                    std::to_string(width) + ": " +
                    (values.size() < static_cast<std::size_t>(width) ? "one is missing?"
                                                                     : "one too many?"));
    }

    // A mesh row fills as many lines as its counts ask for.
    void mesh(Line& line, const std::string& name, bool smooth) {
        line.tokens.erase(line.tokens.begin(), line.tokens.begin() + 3);
        long long vertices = 0;
        if (!count(line, name, "vertices", vertices)) return;
        if (!skip(line, name, vertices * (smooth ? 6 : 3))) return;
        long long faces = 0;
        if (!count(line, name, "faces", faces)) return;
        if (!skip(line, name, faces * 3)) return;
        if (!line.tokens.empty())
            say(line.number, line.tokens[0].column,
                name + " has more values than its counts ask for: '" + line.tokens[0].text +
                    "' is one too many");
    }

    // The next token of a mesh row, from its line or the next.
    bool nextToken(Line& line, Token& token) {
        while (line.tokens.empty()) {
            if (!lines_.peek()) return false;
            line = lines_.take();
        }
        token = line.tokens.front();
        line.tokens.erase(line.tokens.begin());
        return true;
    }

    bool count(Line& line, const std::string& name, const char* what, long long& value) {
        Token token;
        if (!nextToken(line, token)) {
            say(line.number, 1, name + " ends with the file before its number of " + what);
            return false;
        }
        if (!isWhole(token.text) || (value = std::strtoll(token.text.c_str(), nullptr, 10)) < 0) {
            say(line.number, token.column,
                name + "'s number of " + what + " is '" + token.text + "', not a count");
            return false;
        }
        return true;
    }

    bool skip(Line& line, const std::string& name, long long values) {
        for (long long i = 0; i < values; ++i) {
            Token token;
            if (!nextToken(line, token)) {
                say(line.number, 1,
                    name + " ends with the file, " + std::to_string(values - i) +
                        " values short of what its counts ask for");
                return false;
            }
            if (!isNumber(token.text)) {
                say(line.number, token.column,
                    "'" + token.text + "' in " + name + " is not a number");
                line.tokens.clear();
                return false;
            }
        }
        return true;
    }

    Lines lines_;
    long after_;
    std::vector<LaterFinding> found_;
};

}  // namespace

std::vector<LaterFinding> laterMistakes(const std::function<bool(std::string&)>& nextLine,
                                        long afterLine) {
    return SecondLook(nextLine, afterLine).run();
}

std::vector<LaterFinding> laterMistakes(const std::string& text, long afterLine) {
    std::size_t at = 0;
    const std::function<bool(std::string&)> next = [&](std::string& line) {
        if (at >= text.size()) return false;
        std::size_t end = at;
        while (end < text.size() && !endsLineHere(text[end])) ++end;
        line.assign(text, at, end - at);
        at = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        return true;
    };
    return laterMistakes(next, afterLine);
}

}  // namespace fotolume
