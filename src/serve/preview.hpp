// What the page shows, shared between the render loop (the one writer) and
// the server's threads: the latest picture and the state of the render.
// Internal to the serve folder.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "serve/serve.hpp"

namespace fotolume {

using Pixels = std::vector<unsigned char>;  // three bytes a pixel, rows top first

struct PreviewState {
    long long round = 0;      // renders started (a new scene version, or a cancelled one)
    std::string phase;        // reading, coarse, tracing, smoothing, done, refused
    long long done = 0;       // pixels of the current pass finished
    long long total = 0;      // pixels of the current pass
    long long picture = 0;    // the latest picture's number (grows with every new one)
    std::string diagnostics;  // what reading the scene said, with line numbers
    std::string stats;        // the last finished render's figures
};

class Preview {
public:
    explicit Preview(const ServeSettings& settings) : settings_(settings) {}

    const ServeSettings& settings() const { return settings_; }

    // The render loop's side.
    void update(const std::function<void(PreviewState&)>& change);
    void showPicture(const Pixels& pixels);

    // The server's side: the state as JSON once it differs from `seen`
    // (a version number, updated), or "" after `seconds` without change.
    std::string waitForState(long long& seen, int seconds);
    std::shared_ptr<const Pixels> picture(long long& number) const;

    // Held exclusively while the scene is read; shared while a pixel is
    // explained, so an explanation never sees a half-read scene.
    std::shared_mutex scene;
    bool sceneReady = false;  // guarded by `scene`

private:
    ServeSettings settings_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    PreviewState state_;
    long long version_ = 0;
    std::shared_ptr<const Pixels> picture_;
};

// Renders the scene, then again at every change, for ever, telling `preview`.
void renderForPreview(Preview& preview);

// The page, with its script; it reads its token from its own address.
const std::string& previewPage();

// `text` as a JSON string, quotes included.
std::string jsonString(const std::string& text);

}  // namespace fotolume
