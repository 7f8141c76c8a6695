// Finding values in the scene text: runs of blanks, plain decimal numbers
// converted straight from the text, and the C library's conversion for
// every other token.
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "scene/tokens.hpp"

namespace fotolume {

long SceneReader::firstNonBlank(long at) const {
    // Runs of blanks are asked about more than once (a row's start, its
    // first value, its position, the layout checks): the last one crossed
    // is remembered, and so is every run longer than a page, so that a file
    // is not read again for them.
    if (at < blanks_.from || at > blanks_.to) {
        const auto after = longBlanks_.upper_bound(at);
        if (after != longBlanks_.begin() && at <= std::prev(after)->second.to) {
            blanks_ = std::prev(after)->second;
        } else {
            Blanks run{at, at, -1};
            const long size = text_.size();
            for (; run.to >= 0 && run.to < size; ++run.to) {
                const char c = text_[run.to];
                if (c == COMMENT) {  // to its line's end, which the loop then takes
                    while (run.to + 1 < size && !endsLineHere(text_[run.to + 1])) ++run.to;
                    continue;
                }
                if (!isBlank(c)) break;
                if (endsLineHere(c)) run.lastEnd = run.to;
            }
            blanks_ = run;
            if (run.to - run.from > SceneText::PAGE) longBlanks_[run.from] = run;
        }
    }
    return blanks_.to;
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
    const long size = text_.size();
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
    return i == size || endsToken(text_[i]) ? i : -1;
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
    // The token in one piece (it may straddle two pages); a longer one is
    // left to the library.
    char token[64];
    const long skip = text_[at] == '+' ? 1 : 0;
    const long length = end - at - skip;
    if (length > static_cast<long>(sizeof token)) return false;
    for (long i = 0; i < length; ++i) token[i] = text_[at + skip + i];
    const std::from_chars_result got = std::from_chars(token, token + length, value);
    if (got.ec != std::errc() || got.ptr != token + length) return false;  // out of range
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

bool SceneReader::packedReal(double& target, const Field& field) {
    const long before = offset();
    double value;
    if (!quick(value, true) && scan("%lf", &value) != 1) return false;
    target = value;
    if (!std::isfinite(value)) nonFinite(before, value, field);
    return true;
}

bool SceneReader::packedInteger(long long& target) {
    if (quick(target, false)) return true;
    long long value;
    if (scan("%lld", &value) != 1) return false;
    target = value;
    return true;
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
    const long end = text_.size();
    if (in_ != nullptr) pos_ = firstNonBlank(pos_);
    if (in_ == nullptr || pos_ >= end) {
        failed(EOF, before, "a type word", field);
        return -1;
    }
    long size = 0;
    for (; pos_ < end && !endsToken(text_[pos_]); ++pos_, ++size)
        if (size < KIND_SIZE - 1) kind[size] = text_[pos_];
    kind[size < KIND_SIZE - 1 ? size : KIND_SIZE - 1] = '\0';
    lastWordStart_ = before;
    return size;
}

}  // namespace fotolume
