#include <sched.h>

#include <cctype>
#include <string>
#include <thread>

#include "driver/driver.hpp"

namespace fotolume {

long long parseSize(const char* text) {
    constexpr long long limit = 1LL << 31;  // past any size we accept; products stay in range
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text)
        if (value < limit) value = value * 10 + (*text - '0');
    if (value > limit) value = limit;
    return negative ? -value : value;
}

namespace {

// A thread count: plain digits, 1 to MAX_THREADS; 0 for anything else.
int parseThreads(const std::string& text) {
    if (text.empty() || text.size() > 5) return 0;
    int value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
        value = value * 10 + (c - '0');
    }
    return value <= MAX_THREADS ? value : 0;
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            ++i;
            break;
        }
        if (word.size() < 2 || word[0] != '-') break;
        std::string value;
        bool takesValue = false;
        if (word == "-h" || word == "--help") {
            line.help = true;
        } else if (word == "--version") {
            line.version = true;
        } else if (word == "-q" || word == "--quiet") {
            line.quiet = true;
        } else if (word == "-t" || word == "--threads") {
            takesValue = true;
            if (i + 1 < argc) value = argv[++i];
        } else if (word.rfind("--threads=", 0) == 0) {
            takesValue = true;
            value = word.substr(10);
        } else if (word.rfind("-t", 0) == 0) {
            takesValue = true;
            value = word.substr(2);
        } else {
            line.bad = "unknown option '" + word + "'";
            return line;
        }
        if (takesValue) {
            line.threads = parseThreads(value);
            if (line.threads == 0) {
                line.bad = "the thread count must be a whole number from 1 to " +
                           std::to_string(MAX_THREADS) + ", not '" + value + "'";
                return line;
            }
        }
    }
    for (; i < argc; ++i) line.operands.push_back(argv[i]);
    return line;
}

int availableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

}  // namespace fotolume
