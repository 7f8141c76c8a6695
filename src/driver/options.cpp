
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "driver/driver.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"

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

// Plain digits from `low` to `high`; -1 for anything else.
long long parseWhole(const std::string& text, long long low, long long high) {
    if (text.empty() || text.size() > 10) return -1;
    long long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high ? value : -1;
}

// Plain decimal digits with at most one point and an exponent (0.25, .5,
// 1, 5e-2: no sign, blank, hex or name, as for whole numbers) from `low` to
// `high` (both at least 0); -1 for anything else.
double parseDecimal(const std::string& text, double low, double high) {
    std::size_t at = 0;
    int digits = 0;
    const auto skipDigits = [&] {
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            ++at;
            ++digits;
        }
    };
    skipDigits();
    if (at < text.size() && text[at] == '.') {
        ++at;
        skipDigits();
    }
    if (digits == 0) return -1;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        digits = 0;
        skipDigits();
        if (digits == 0) return -1;
    }
    if (at != text.size()) return -1;
    const double value = std::strtod(text.c_str(), nullptr);
    return value >= low && value <= high ? value : -1;
}

// R,G,B: three numbers from 0 to 1.
bool parseColor(const std::string& text, double (&color)[3]) {
    std::size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const std::size_t comma = k < 2 ? text.find(',', start) : text.size();
        if (comma == std::string::npos) return false;
        color[k] = parseDecimal(text.substr(start, comma - start), 0.0, 1.0);
        if (color[k] < 0) return false;
        start = comma + 1;
    }
    return true;
}

// LEFT,TOP,WIDTH,HEIGHT: four whole numbers of pixels.
bool parseRegion(const std::string& text, long long (&region)[4]) {
    std::size_t start = 0;
    for (int k = 0; k < 4; ++k) {
        const std::size_t comma = k < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos) return false;
        region[k] = parseWhole(text.substr(start, comma - start), 0, 2147483647LL);
        if (region[k] < 0) return false;
        start = comma + 1;
    }
    return true;
}

// Reads the value of `option`; returns the complaint, or "" when it is good.
std::string takeValue(const std::string& option, const std::string& value, CommandLine& line) {
    const std::string quoted = "'" + printable(value) + "'";
    if (option == "threads") {
        line.threads = static_cast<int>(parseWhole(value, 1, MAX_THREADS));
        if (line.threads > 0) return "";
        return "the thread count must be a whole number from 1 to " + std::to_string(MAX_THREADS) +
               ", not " + quoted;
    }
    if (option == "samples") {
        line.samples = static_cast<int>(parseWhole(value, 1, MAX_GRID));
        if (line.samples > 0) return "";
        return "the samples must be a whole number from 1 to " + std::to_string(MAX_GRID) +
               ", not " + quoted;
    }
    if (option == "aa-threshold") {
        line.aaThreshold = parseDecimal(value, 0.0, 1.0);
        if (line.aaThreshold >= 0.0) return "";
        return "the anti-aliasing threshold must be a number from 0 to 1, not " + quoted;
    }
    if (option == "background") {
        line.hasBackground = parseColor(value, line.background);
        if (line.hasBackground) return "";
        return "the background must be R,G,B, each a number from 0 to 1, not " + quoted;
    }
    if (option == "scene-limit") {
        line.sceneLimitMib = parseWhole(value, 1, 1LL << 24);
        if (line.sceneLimitMib > 0) return "";
        return "the scene limit must be a whole number of MiB from 1 to 16777216, not " + quoted;
    }
    if (option == "explain") {
        const std::size_t comma = value.find(',');
        line.explain = true;
        if (comma != std::string::npos) {
            line.explainAt[0] = parseWhole(value.substr(0, comma), 0, 2147483647LL);
            line.explainAt[1] = parseWhole(value.substr(comma + 1), 0, 2147483647LL);
            if (line.explainAt[0] >= 0 && line.explainAt[1] >= 0) return "";
        }
        return "the pixel to explain must be X,Y in whole pixels (column, row), not " + quoted;
    }
    if (option == "explain-format") {
        if (value == "text" || value == "json") {
            line.explainJson = value == "json";
            return "";
        }
        return "the explanation's format must be text or json, not " + quoted;
    }
    if (option == "port") {
        line.port = static_cast<int>(parseWhole(value, 1, 65535));
        if (line.port > 0) return "";
        return "the port must be a whole number from 1 to 65535, not " + quoted;
    }
    if (option == "listen") {
        line.listen = value;
        if (!value.empty()) return "";
        return "the address to listen on must not be empty";
    }
    if (option == "format") {
        if (value == "ppm" || value == "png") {
            line.format = value == "ppm" ? FormatChoice::Ppm : FormatChoice::Png;
            return "";
        }
        return "the format must be ppm or png, not " + quoted;
    }
    // region
    line.hasRegion = parseRegion(value, line.region);
    if (line.hasRegion) return "";
    return "the region must be LEFT,TOP,WIDTH,HEIGHT in whole pixels, not " + quoted;
}

// The long name of an option that takes a value, or "".
std::string valueOption(const std::string& word) {
    if (word == "-t") return "threads";
    static const char* const names[] = {"threads",    "samples", "aa-threshold",   "format",
                                        "region",     "explain", "explain-format", "scene-limit",
                                        "background", "port",    "listen"};
    for (const char* name : names)
        if (word == std::string("--") + name) return name;
    return "";
}

}  // namespace

namespace {

bool looksLikeOption(const std::string& word) { return word.size() >= 2 && word[0] == '-'; }

// Takes the option argv[i] (and its value, moving i past it); false, with
// the complaint in line.bad, when it is unknown or its value is bad.
bool takeOption(int argc, char** argv, int& i, CommandLine& line) {
    const std::string word = argv[i];
    std::string option = valueOption(word);
    std::string value;
    if (!option.empty()) {
        if (i + 1 < argc) value = argv[++i];
    } else if (word.rfind("--", 0) == 0 && word.find('=') != std::string::npos) {
        option = valueOption(word.substr(0, word.find('=')));
        value = word.substr(word.find('=') + 1);
    } else if (word.rfind("-t", 0) == 0) {
        option = "threads";
        value = word.substr(2);
    }
    if (!option.empty()) {
        line.given.push_back(option);
        line.bad = takeValue(option, value, line);
    } else if (word == "-h" || word == "--help") {
        line.help = true;
    } else if (word == "--version") {
        line.version = true;
    } else if (word == "-q" || word == "--quiet") {
        line.quiet = true;
        line.given.push_back("quiet");
    } else if (word == "--check") {
        line.check = true;
    } else if (word == "--dump") {
        line.dump = true;
    } else if (word == "--watch") {
        line.watch = true;
    } else if (word == "--serve") {
        line.serve = true;
    } else if (word == "--join") {
        line.join = true;
    } else if (word == "--stats") {
        line.stats = true;
        line.given.push_back("stats");
    } else {
        line.bad = "unknown option '" + printable(word) + "'";
    }
    return line.bad.empty();
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
    // Exactly four words, the first no option: the four operands, whatever
    // they look like (an image named -q.ppm, a negative size), as always.
    bool optionsEnded = argc == 5 && !looksLikeOption(argv[1]);
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
        } else if (optionsEnded || !looksLikeOption(word)) {
            line.operands.push_back(argv[i]);  // options may follow, as GNU programs allow
        } else if (!takeOption(argc, argv, i, line)) {
            return line;
        }
    }
    return line;
}

// The message for an image size that cannot be, or "".
std::string imageSizeProblem(const char* widthText, const char* heightText, long long& width,
                             long long& height) {
    width = parseSize(widthText);
    height = parseSize(heightText);
    if (width >= 1 && height >= 1 && width * height <= 2147483647LL) return "";
    return "Tamanho de imagem invalido: " + printable(widthText) + " x " + printable(heightText) +
           " (largura e altura devem ser pelo menos 1 e largura x altura no maximo 2147483647 "
           "pixels)";
}

bool imageSize(const char* widthText, const char* heightText, long long& width, long long& height) {
    const std::string problem = imageSizeProblem(widthText, heightText, width, height);
    if (!problem.empty()) std::fprintf(stderr, "%s\n", problem.c_str());
    return problem.empty();
}

int availableCpus() { return os::processorsAvailable(); }

}  // namespace fotolume
