// The lines of a scene file as the second look of --check reads them:
// each line's tokens (comments dropped) with their columns, a few kept
// ahead. Internal to the scene folder.
#pragma once

#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "scene/tokens.hpp"

namespace fotolume::later {

struct Token {
    std::string text;
    long column;
};

struct Line {
    long number = 0;
    std::vector<Token> tokens;
};

inline bool isNumber(const std::string& text) {
    char* stop = nullptr;
    std::strtod(text.c_str(), &stop);
    return stop != text.c_str() && *stop == '\0';
}

inline bool isWhole(const std::string& text) {
    char* stop = nullptr;
    std::strtoll(text.c_str(), &stop, 10);
    return stop != text.c_str() && *stop == '\0';
}

inline bool isCount(const Line& line) {
    return line.tokens.size() == 1 && isWhole(line.tokens[0].text);
}

// The lines that hold a value, in order, with a few kept ahead for rows
// that run on to the next line. A line whose start was taken by a row
// (the camera's last value, a mesh's end) is put back with what is left.
class Lines {
public:
    explicit Lines(const std::function<bool(std::string&)>& next) : next_(next) {}

    const Line* peek(std::size_t ahead = 0) {
        while (ahead_.size() <= ahead && fetch()) {
        }
        return ahead < ahead_.size() ? &ahead_[ahead] : nullptr;
    }
    Line take() {
        Line line = *peek();
        ahead_.pop_front();
        return line;
    }
    void putBack(Line line) { ahead_.push_front(std::move(line)); }

private:
    bool fetch() {
        std::string text;
        while (next_(text)) {
            ++number_;
            Line line;
            line.number = number_;
            for (std::size_t i = 0; i < text.size() && text[i] != COMMENT;) {
                if (endsToken(text[i])) {
                    ++i;
                    continue;
                }
                std::size_t end = i;
                while (end < text.size() && !endsToken(text[end])) ++end;
                line.tokens.push_back(Token{text.substr(i, end - i), static_cast<long>(i + 1)});
                i = end;
            }
            if (line.tokens.empty()) continue;
            ahead_.push_back(std::move(line));
            return true;
        }
        return false;
    }

    const std::function<bool(std::string&)>& next_;
    std::deque<Line> ahead_;
    long number_ = 0;
};

}  // namespace fotolume::later
