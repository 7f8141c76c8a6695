#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "image/image.hpp"

namespace fotolume {

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// "1:05" or "2:03:07".
void clock(char (&text)[32], double seconds) {
    const long total = static_cast<long>(seconds + 0.5);
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
}

constexpr double SHOW_AFTER = 1.0;  // seconds: short renders stay silent
constexpr double REFRESH = 0.25;

}  // namespace

Progress::Progress(bool enabled) : enabled_(enabled), start_(now()) {}

void Progress::update(long long done, long long total) {
    if (!enabled_ || total <= 0) return;
    const double t = now();
    const double elapsed = t - start_;
    if (elapsed < SHOW_AFTER || t - lastShown_ < REFRESH) return;
    lastShown_ = t;
    const double fraction = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    char spent[32], left[32];
    clock(spent, elapsed);
    clock(left, fraction > 0.0 ? elapsed * (1.0 - fraction) / fraction : 0.0);
    std::fprintf(stderr, "\rfotolume: %3d%% done, %s elapsed, about %s left ",
                 static_cast<int>(fraction * 100.0), spent, left);
    std::fflush(stderr);
    shown_ = true;
}

Progress::~Progress() {
    if (!shown_) return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
}

}  // namespace fotolume
