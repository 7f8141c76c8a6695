#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "image/image.hpp"
#include "scene/scene.hpp"

namespace fotolume {

unsigned char channelByte(double value) {
    if (!(value > 0.0)) return 0;  // negative, zero or NaN: never a wrapped bright byte
    // Far beyond anything the render loop stores (it clamps at 1.0); saturate
    // so the conversion to an integer is always defined.
    if (value >= 2147483647.0 / 255.0) return 255;
    const double product = value * 255.0;
    double whole = std::trunc(product);
    // Rounding the product can only cross an integer by landing on it; the
    // residual of the exact product tells which side it really lies on
    // (0.6 * 255 is just below 153).
    if (whole == product && std::fma(value, 255.0, -product) < 0.0) whole -= 1.0;
    return static_cast<unsigned char>(static_cast<long>(whole) & 0xFF);
}

namespace {

// Pixels handed out at a time: small enough that a few expensive rows are
// shared among all threads (at least 256 chunks a thread), large enough that
// handing out and waking the writer cost nothing next to tracing.
constexpr long long MIN_CHUNK_PIXELS = 1024;
constexpr long long MAX_CHUNK_PIXELS = 16384;

// The ring of finished chunks waiting to be written stays below this,
// however many threads run.
constexpr long long MAX_WINDOW_BYTES = 8LL << 20;

long long chunkPixels(long long pixels, int workers) {
    const long long even = pixels / (256LL * (workers > 0 ? workers : 1));
    return std::max(MIN_CHUNK_PIXELS, std::min(MAX_CHUNK_PIXELS, even));
}

// Chunks are traced in any order by the workers and written strictly in
// order by the calling thread, through a ring of `slots` buffers: a worker
// may run at most that many chunks ahead of the writer, so memory stays
// bounded for any image size.
class ChunkPipeline {
public:
    ChunkPipeline(const PrimaryRays& rays, long long pixels, int workers)
        : rays_(rays),
          pixels_(pixels),
          chunk_(chunkPixels(pixels, workers)),
          chunks_((pixels + chunk_ - 1) / chunk_),
          slots_(static_cast<int>(
              std::max(16LL, std::min(8LL * workers, MAX_WINDOW_BYTES / (3 * chunk_))))) {
        buffers_.resize(static_cast<std::size_t>(slots_) * 3 * chunk_);
        ready_.assign(static_cast<std::size_t>(slots_), -1);
    }

    // Starts up to `workers` threads; fewer when the system will not give
    // them (then the calling thread traces what no thread does).
    void start(int workers) {
        for (int i = 0; i < workers; ++i) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }

    // Writes every chunk in order; false on a write error.
    bool write(ImageFile& out, Progress& progress) {
        bool ok = true;
        for (long long chunk = 0; chunk < chunks_ && ok; ++chunk) {
            const std::size_t slot = static_cast<std::size_t>(chunk % slots_);
            unsigned char* bytes = &buffers_[slot * 3 * chunk_];
            if (threads_.empty()) {
                renderPixels(rays_, chunk * chunk_, size(chunk), bytes);
            } else {
                std::unique_lock<std::mutex> lock(mutex_);
                chunkReady_.wait(lock, [&] { return ready_[slot] == chunk; });
            }
            ok = out.write(bytes, static_cast<std::size_t>(3 * size(chunk)));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ready_[slot] = -1;
                written_ = chunk + 1;
            }
            slotFree_.notify_all();
            progress.update((chunk + 1) * chunk_, pixels_);
        }
        stop();
        return ok;
    }

    ~ChunkPipeline() { stop(); }

private:
    long long size(long long chunk) const { return std::min(chunk_, pixels_ - chunk * chunk_); }

    // Running out of memory here ends the whole run (the program's
    // new-handler), so a worker never leaves the writer waiting.
    void work() {
        for (;;) {
            long long chunk;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                slotFree_.wait(lock, [&] {
                    return stopping_ || next_ >= chunks_ || next_ < written_ + slots_;
                });
                if (stopping_ || next_ >= chunks_) return;
                chunk = next_++;
            }
            const std::size_t slot = static_cast<std::size_t>(chunk % slots_);
            renderPixels(rays_, chunk * chunk_, size(chunk), &buffers_[slot * 3 * chunk_]);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ready_[slot] = chunk;
            }
            chunkReady_.notify_one();
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        slotFree_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }

    const PrimaryRays& rays_;
    const long long pixels_;
    const long long chunk_;  // pixels per chunk
    const long long chunks_;
    const int slots_;
    std::vector<unsigned char> buffers_;
    std::vector<long long> ready_;  // per slot: the chunk it holds, or -1
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable chunkReady_;
    std::condition_variable slotFree_;
    long long next_ = 0;     // next chunk to hand out
    long long written_ = 0;  // chunks written so far
    bool stopping_ = false;
};

}  // namespace

WriteStatus writePPM(ImageFile& out, const RenderSettings& settings) {
    char header[64];
    const int headerSize =
        std::snprintf(header, sizeof header, "%s\n%i %i\n%i\n", "P6", imageWidth, imageHeight, 255);
    if (!out.write(header, static_cast<std::size_t>(headerSize))) return WriteStatus::WriteError;

    prepareSearch();  // shared, read-only state before any thread searches
    const PrimaryRays rays;
    const long long pixels = static_cast<long long>(imageWidth) * imageHeight;
    const int workers = settings.threads > 1 ? settings.threads : 0;
    ChunkPipeline pipeline(rays, pixels, workers);
    pipeline.start(workers);
    Progress progress(settings.progress);
    return pipeline.write(out, progress) ? WriteStatus::Ok : WriteStatus::WriteError;
}

}  // namespace fotolume
