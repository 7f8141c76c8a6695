#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/image.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"

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
    const int percent = static_cast<int>(fraction * 100.0);
    // The longest form that fits the terminal: a wrapped line is not
    // overwritten by the next update but piles up.
    char forms[3][128];
    std::snprintf(forms[0], sizeof forms[0], "fotolume: %3d%% done, %s elapsed, about %s left ",
                  percent, spent, left);
    std::snprintf(forms[1], sizeof forms[1], "%3d%% done, about %s left ", percent, left);
    std::snprintf(forms[2], sizeof forms[2], "%3d%%", percent);
    const int columns = os::terminalColumns();
    const char* line = forms[2];
    for (const char* form : {forms[0], forms[1]}) {
        if (static_cast<int>(std::strlen(form)) < columns) {
            line = form;
            break;
        }
    }
    if (static_cast<int>(std::strlen(line)) >= columns) return;  // not even the percentage fits
    std::fprintf(stderr, "\r%s", line);
    std::fflush(stderr);
    shown_ = std::max(shown_, static_cast<int>(std::strlen(line)));
}

Progress::~Progress() {
    if (shown_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", shown_, "");
    std::fflush(stderr);
}

std::string describeReport(double reading, const RenderReport& report) {
    const TraceCounts& c = report.counts;
    const long long rays = c.primary + c.samples + c.shadow + c.reflected + c.refracted;
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "fotolume: statistics\n"
        "  seconds: %.3f reading, %.3f building the search, %.3f tracing (%d thread%s), "
        "%.3f writing\n"
        "  rays: %lld primary, %lld anti-aliasing samples, %lld shadow, %lld reflected, "
        "%lld refracted; %lld in all\n"
        "  tested: %lld boxes, %lld objects; %.1f boxes and %.1f objects a ray\n"
        "  speed: %.2f million rays a second of tracing, %.2f million a processor "
        "second (%.3f processor seconds of tracing)\n",
        reading, report.building, report.tracing, report.threads, report.threads == 1 ? "" : "s",
        report.writing, c.primary, c.samples, c.shadow, c.reflected, c.refracted, rays, c.boxes,
        c.objects, rays > 0 ? static_cast<double>(c.boxes) / rays : 0.0,
        rays > 0 ? static_cast<double>(c.objects) / rays : 0.0,
        report.tracing > 0.0 ? rays / report.tracing / 1e6 : 0.0,
        report.tracingCpu > 0.0 ? rays / report.tracingCpu / 1e6 : 0.0, report.tracingCpu);
    if (meshes.empty()) return text;
    char faces[160];  // "objects" above counts each face of a mesh tested as one
    std::snprintf(faces, sizeof faces, "  meshes: %zu of the %d object rows, %lld faces in all\n",
                  meshes.size(), objectCount, meshFaceCount());
    return text + std::string(faces);
}

}  // namespace fotolume
