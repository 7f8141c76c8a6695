// What the page shows, shared between the render loop (the one writer) and
// the server's threads: the latest picture and the state of the render.
// Internal to the serve folder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "explain/explain.hpp"
#include "serve/serve.hpp"

namespace fotolume {

using Pixels = std::vector<unsigned char>;  // three bytes a pixel, rows top first

struct PreviewState {
    long long round = 0;  // renders started (a new scene version, or a cancelled one)
    // reading, building, coarse, tracing, smoothing, done, refused
    std::string phase;
    // Of the current phase: bytes of the scene read, faces of its meshes
    // placed in the search, or pixels of the pass finished, and how many.
    long long done = 0;
    long long total = 0;
    int width = 0, height = 0, samples = 1;  // the current render's
    long long picture = 0;    // the latest picture's number (grows with every new one)
    std::string diagnostics;  // what reading the scene said, with line numbers
    std::string stats;        // the last finished render's figures
};

class Preview {
public:
    explicit Preview(const ServeSettings& settings);

    // The command line's settings: the first render's.
    const ServeSettings& settings() const { return settings_; }

    // The size and samples the page asks for the next render, within the
    // server's limits: "" (and the current render abandoned), or why not.
    std::string ask(long long width, long long height, long long samples);
    // What the next render is to be.
    ServeSettings next() const;
    // Set when the scene changes or the page asks for other settings: the
    // current render stops, and the loop starts the next.
    std::atomic<bool> restart{false};

    // The render loop's side.
    void update(const std::function<void(PreviewState&)>& change);
    void showPicture(const Pixels& pixels);

    // Called after every change, from the thread that made it; set once,
    // before the render starts.
    void onChange(std::function<void()> listener) { listener_ = std::move(listener); }

    // The server's side: the state as JSON once it differs from `seen`
    // (a version number, updated), or "" after `seconds` without change.
    std::string waitForState(long long& seen, int seconds);
    std::shared_ptr<const Pixels> picture(long long& number) const;

    // Held exclusively while the scene is read; shared while a pixel is
    // explained, so an explanation never sees a half-read scene.
    std::shared_mutex scene;
    bool sceneReady = false;  // guarded by `scene`
    Frame frame;              // the scene's render's, guarded by `scene`

private:
    ServeSettings settings_;
    ServeSettings next_;  // guarded by mutex_
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    PreviewState state_;
    long long version_ = 0;
    std::shared_ptr<const Pixels> picture_;
    std::function<void()> listener_;
};

// Renders the scene, then again at every change, for ever, telling `preview`.
void renderForPreview(Preview& preview);

// The largest picture served, and the most rays a pixel's side.
constexpr long long MAX_SERVED_PIXELS = 4096LL * 4096;
constexpr int MAX_SERVED_SAMPLES = 16;

// The page, with its script; it reads its token from its own address.
const std::string& previewPage();


}  // namespace fotolume
