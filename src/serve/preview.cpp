// The render loop behind the page: the scene read (its diagnostics kept for
// the page), a coarse picture at once, then the full one-ray picture and the
// anti-aliased one as they are traced; again at every save, a save during a
// render abandoning it.
#include "serve/preview.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scene/scene.hpp"

namespace fotolume {

void Preview::update(const std::function<void(PreviewState&)>& change) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        change(state_);
        ++version_;
    }
    changed_.notify_all();
}

void Preview::showPicture(const Pixels& pixels) {
    auto copy = std::make_shared<const Pixels>(pixels);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        picture_ = std::move(copy);
        ++state_.picture;
        ++version_;
    }
    changed_.notify_all();
}

std::shared_ptr<const Pixels> Preview::picture(long long& number) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    number = state_.picture;
    return picture_;
}

std::string Preview::waitForState(long long& seen, int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return version_ != seen; });
    if (version_ == seen) return "";
    seen = version_;
    const PreviewState& s = state_;
    return "{\"round\":" + std::to_string(s.round) + ",\"phase\":" + jsonString(s.phase) +
           ",\"done\":" + std::to_string(s.done) + ",\"total\":" + std::to_string(s.total) +
           ",\"picture\":" + std::to_string(s.picture) +
           ",\"width\":" + std::to_string(settings_.width) +
           ",\"height\":" + std::to_string(settings_.height) +
           ",\"diagnostics\":" + jsonString(s.diagnostics) + ",\"stats\":" + jsonString(s.stats) +
           "}";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

namespace {

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Keeps the rows the render hands over in the picture, shown to the page a
// few times a second and when the pass ends.
class PreviewEncoder : public Encoder {
public:
    PreviewEncoder(Preview& preview, Pixels& pixels) : preview_(preview), pixels_(pixels) {}
    bool begin(int width, int height) override {
        total_ = static_cast<long long>(width) * height;
        return true;
    }
    bool pixels(const unsigned char* bytes, long long count) override {
        std::memcpy(&pixels_[static_cast<std::size_t>(at_) * 3], bytes,
                    static_cast<std::size_t>(count) * 3);
        at_ += count;
        if (since(shown_) > 0.1) show();
        return true;
    }
    bool finish() override {
        show();
        return true;
    }

private:
    void show() {
        preview_.showPicture(pixels_);
        preview_.update([this](PreviewState& s) {
            s.done = at_;
            s.total = total_;
        });
        shown_ = std::chrono::steady_clock::now();
    }

    Preview& preview_;
    Pixels& pixels_;
    long long at_ = 0;
    long long total_ = 0;
    std::chrono::steady_clock::time_point shown_ = std::chrono::steady_clock::now();
};

// Every step-th pixel of every step-th row, each filling its block: a
// picture in a fraction of a second, whatever the scene. False when abandoned.
bool coarsePass(Preview& preview, Pixels& pixels, int step, const std::atomic<bool>& cancel) {
    const PrimaryRays rays;
    Frame frame;
    frame.region = wholeImage();
    const int width = imageWidth, height = imageHeight;
    for (int row = 0; row < height; row += step) {
        if (cancel) return false;
        for (int col = 0; col < width; col += step) {
            unsigned char color[3];
            renderTile(rays, frame, Tile{row, col, 1, 1}, color);
            for (int y = row; y < height && y < row + step; ++y)
                for (int x = col; x < width && x < col + step; ++x)
                    std::memcpy(&pixels[(static_cast<std::size_t>(y) * width + x) * 3], color, 3);
        }
    }
    preview.showPicture(pixels);
    return true;
}

// Reads the scene with the page's explanations kept out; what it said is
// kept for the page and printed as a render would print it.
ReadStatus readForPreview(Preview& preview, int& warnings, std::string& said) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ReadStatus status;
    {
        const std::unique_lock<std::shared_mutex> lock(preview.scene);
        preview.sceneReady = false;
        status = readScene(preview.settings().scene, out != nullptr ? out : stderr, &warnings);
        if (status == ReadStatus::Ok) prepareSearch();
        preview.sceneReady = status == ReadStatus::Ok;
    }
    if (out != nullptr) std::fclose(out);
    said = text != nullptr ? text : "";
    std::free(text);
    if (status == ReadStatus::CannotOpen) said = cannotOpenMessage(preview.settings().scene) + said;
    std::fputs(said.c_str(), stderr);
    return status;
}

// The full render in one or two passes after the coarse ones; false when
// abandoned.
bool renderPasses(Preview& preview, Pixels& pixels, const std::atomic<bool>& cancel,
                  RenderReport& report) {
    const ServeSettings& serve = preview.settings();
    if (!coarsePass(preview, pixels, 16, cancel) || !coarsePass(preview, pixels, 4, cancel))
        return false;
    RenderSettings settings;
    settings.threads = serve.threads;
    settings.cancel = &cancel;
    RenderReport pass;
    settings.report = &pass;
    for (const int samples : {1, serve.frame.samples}) {
        preview.update([samples](PreviewState& s) {
            s.phase = samples == 1 ? "tracing" : "smoothing";
            s.done = 0;
        });
        settings.frame = serve.frame;
        settings.frame.samples = samples;
        PreviewEncoder encoder(preview, pixels);
        if (renderImage(encoder, settings) != WriteStatus::Ok) return false;
        // The figures of both passes together: what the page cost.
        report.building += pass.building;
        report.tracing += pass.tracing;
        report.tracingCpu += pass.tracingCpu;
        report.writing += pass.writing;
        report.threads = pass.threads;
        report.counts.add(pass.counts);
        if (serve.frame.samples == 1) break;
    }
    return true;
}

// One render of the scene as it is now; false when it changed meanwhile.
bool renderRound(Preview& preview, const FileStamp& before, Pixels& pixels) {
    const char* scene = preview.settings().scene;
    std::atomic<bool> cancel{false};
    const ChangeWatcher watcher(scene, before, cancel);
    preview.update([](PreviewState& s) {
        ++s.round;
        s.phase = "reading";
        s.done = s.total = 0;
    });
    const auto start = std::chrono::steady_clock::now();
    int warnings = 0;
    std::string said;
    const ReadStatus status = readForPreview(preview, warnings, said);
    const double reading = since(start);
    preview.update([&](PreviewState& s) {
        s.diagnostics = said;
        s.phase = status == ReadStatus::Ok ? "coarse" : "refused";
    });
    if (status != ReadStatus::Ok) {
        std::fprintf(stderr, "fotolume: the page keeps its last image; watching %s\n",
                     printable(scene).c_str());
        return true;
    }
    RenderReport report;
    if (!renderPasses(preview, pixels, cancel, report)) return false;
    const std::string stats = describeReport(reading, report);
    preview.update([&](PreviewState& s) {
        s.phase = "done";
        s.stats = stats;
    });
    std::fprintf(stderr, "fotolume: rendered in %.2f s, %d warning%s; watching %s\n", since(start),
                 warnings, warnings == 1 ? "" : "s", printable(scene).c_str());
    return true;
}

}  // namespace

void renderForPreview(Preview& preview) {
    const ServeSettings& serve = preview.settings();
    Pixels pixels(static_cast<std::size_t>(serve.width) * serve.height * 3, 0);
    for (;;) {
        const FileStamp before = stampOf(serve.scene);
        if (!renderRound(preview, before, pixels)) {
            std::fprintf(stderr, "fotolume: %s changed during the render: starting again\n",
                         printable(serve.scene).c_str());
            continue;
        }
        waitForChange(serve.scene, before);
    }
}

}  // namespace fotolume
