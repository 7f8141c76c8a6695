// What the page is shown, shared between the render loop and the server:
// the state as JSON, the latest picture, the settings the page asks for.
#include "serve/preview.hpp"

#include <chrono>
#include <cstdio>

namespace fotolume {

Preview::Preview(const ServeSettings& settings) : settings_(settings), next_(settings) {
    frame = settings.frame;
}

std::string Preview::ask(long long width, long long height, long long samples) {
    if (width < 1 || height < 1 || width * height > MAX_SERVED_PIXELS)
        return "the page shows images of 1 to " + std::to_string(MAX_SERVED_PIXELS) +
               " pixels (4096x4096)";
    if (samples < 1 || samples > MAX_SERVED_SAMPLES)
        return "the samples must be from 1 to " + std::to_string(MAX_SERVED_SAMPLES);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        next_.width = static_cast<int>(width);
        next_.height = static_cast<int>(height);
        next_.frame.samples = static_cast<int>(samples);
        next_.frame.region = Region{0, 0, next_.width, next_.height};
    }
    restart = true;
    return "";
}

ServeSettings Preview::next() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return next_;
}

void Preview::update(const std::function<void(PreviewState&)>& change) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        change(state_);
        ++version_;
    }
    changed_.notify_all();
    if (listener_) listener_();
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
    if (listener_) listener_();
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
           ",\"picture\":" + std::to_string(s.picture) + ",\"width\":" + std::to_string(s.width) +
           ",\"height\":" + std::to_string(s.height) + ",\"samples\":" + std::to_string(s.samples) +
           ",\"diagnostics\":" + jsonString(s.diagnostics) + ",\"stats\":" + jsonString(s.stats) +
           "}";
}

}  // namespace fotolume
