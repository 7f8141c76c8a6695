// The render loop behind the page: the scene read and its search built
// (their progress shown), a coarse picture at once, then the full one-ray
// picture and the anti-aliased one as they are traced; again at every save
// or change of settings, which abandons a render under way.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "os/os.hpp"
#include "scene/scene.hpp"
#include "serve/preview.hpp"

namespace fotolume {

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

// While the scene is read and its search built, the page is told how far
// each has got, a few times a second.
class ReadingProgress {
public:
    // Without a thread to spare, the phases are shown without progress.
    explicit ReadingProgress(Preview& preview) : preview_(preview) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
        }
    }
    ~ReadingProgress() {
        stage_ = DONE;
        if (thread_.joinable()) thread_.join();
    }
    void building() {
        faces_ = meshFaceCount() + objectCount;
        stage_ = BUILDING;
        preview_.update([this](PreviewState& s) {
            s.phase = "building";  // objects and faces placed in the search
            s.done = 0;
            s.total = faces_;
        });
    }

private:
    enum Stage { READING, BUILDING, DONE };
    void run() {
        while (stage_ != DONE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const Stage stage = stage_;
            if (stage == DONE) break;
            preview_.update([&](PreviewState& s) {
                s.done = stage == READING ? sceneBytesRead.load() : searchPlaced.load();
                s.total = stage == READING ? sceneBytesTotal.load() : faces_;
            });
        }
    }

    Preview& preview_;
    std::atomic<Stage> stage_{READING};
    long long faces_ = 0;
    std::thread thread_;
};

// Reads the scene with the page's explanations kept out, for the size and
// samples of this render; what it said is kept for the page and printed as
// a render would print it.
ReadStatus readForPreview(Preview& preview, const ServeSettings& round, int& warnings,
                          std::string& said) {
    os::MemoryStream memory;
    std::FILE* out = memory.stream();
    ReadStatus status;
    {
        const std::unique_lock<std::shared_mutex> lock(preview.scene);
        preview.sceneReady = false;
        imageWidth = round.width;
        imageHeight = round.height;
        preview.frame = round.frame;
        ReadingProgress progress(preview);
        status = readScene(round.scene, out != nullptr ? out : stderr, &warnings);
        if (status == ReadStatus::Ok) {
            progress.building();
            prepareSearch();
        }
        preview.sceneReady = status == ReadStatus::Ok;
    }
    said = memory.take();
    if (status == ReadStatus::CannotOpen) said = cannotOpenMessage(round.scene) + said;
    std::fputs(said.c_str(), stderr);
    return status;
}

// The full render in one or two passes after the coarse ones; false when
// abandoned.
bool renderPasses(Preview& preview, const ServeSettings& serve, Pixels& pixels,
                  const std::atomic<bool>& cancel, RenderReport& report) {
    if (!coarsePass(preview, pixels, 16, cancel) || !coarsePass(preview, pixels, 4, cancel))
        return false;
    RenderSettings settings;
    settings.threads = serve.threads;
    settings.cancel = &cancel;
    RenderReport pass;
    settings.report = &pass;
    for (const int samples : {1, serve.frame.samples}) {
        preview.update([samples, &serve](PreviewState& s) {
            s.phase = samples == 1 ? "tracing" : "smoothing";
            s.done = 0;
            s.total = static_cast<long long>(serve.width) * serve.height;
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
    const ServeSettings round = preview.next();
    const char* scene = round.scene;
    const ChangeWatcher watcher(scene, before, preview.restart);
    pixels.resize(static_cast<std::size_t>(round.width) * round.height * 3);
    preview.update([&round](PreviewState& s) {
        ++s.round;
        s.phase = "reading";
        s.done = s.total = 0;
        s.width = round.width;
        s.height = round.height;
        s.samples = round.frame.samples;
    });
    const auto start = std::chrono::steady_clock::now();
    int warnings = 0;
    std::string said;
    const ReadStatus status = readForPreview(preview, round, warnings, said);
    const double reading = since(start);
    preview.update([&](PreviewState& s) {
        s.diagnostics = said;
        s.phase = status == ReadStatus::Ok ? "coarse" : "refused";
        s.done = s.total = 0;
    });
    if (status != ReadStatus::Ok) {
        std::fprintf(stderr, "fotolume: the page keeps its last image; watching %s\n",
                     printable(scene).c_str());
        return true;
    }
    RenderReport report;
    if (!renderPasses(preview, round, pixels, preview.restart, report)) return false;
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
    const char* scene = preview.settings().scene;
    Pixels pixels;
    for (;;) {
        preview.restart = false;
        const FileStamp before = stampOf(scene);
        if (!renderRound(preview, before, pixels)) {
            std::fprintf(stderr,
                         "fotolume: %s changed, or the page asked for other settings, "
                         "during the render: starting again\n",
                         printable(scene).c_str());
            continue;
        }
        waitForChange(scene, before, &preview.restart);
    }
}

}  // namespace fotolume
