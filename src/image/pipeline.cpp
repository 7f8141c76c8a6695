#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "image/image.hpp"
#include "image/oneray.hpp"
#include "image/tiling.hpp"
#include "scene/scene.hpp"

namespace fotolume {

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
    ChunkPipeline(const PrimaryRays& rays, const Frame& frame, int workers)
        : rays_(rays),
          frame_(frame),
          tiling_(frame.region,
                  chunkPixels(static_cast<long long>(frame.region.width) * frame.region.height,
                              workers)),
          chunk_(tiling_.largest()),
          chunks_(tiling_.count()),
          slots_(static_cast<int>(
              std::max(16LL, std::min(8LL * workers, MAX_WINDOW_BYTES / (3 * chunk_))))),
          oneRay_(tracesGrids(frame) && frame.threshold > 0.0
                      ? std::make_unique<SharedOneRay>(rays, frame, tiling_)
                      : nullptr) {
        buffers_.resize(static_cast<std::size_t>(slots_) * 3 * chunk_);
        ready_.assign(static_cast<std::size_t>(slots_), -1);
    }

    // Starts up to `workers` threads; fewer when the system will not give
    // them or memory runs short (then the calling thread traces what no
    // thread does).
    void start(int workers) {
        threads_.reserve(static_cast<std::size_t>(workers));
        retry_.reserve(static_cast<std::size_t>(workers));
        allocationMayFail = true;
        for (int i = 0; i < workers; ++i) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;
            } catch (const std::bad_alloc&) {
                break;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            ++live_;
            ++started_;
        }
        allocationMayFail = false;
    }

    // The workers' counts, summed as each ends (with stop(), all have).
    const TraceCounts& counts() const { return counts_; }

    // The threads that traced to the end (the calling thread when none did).
    int threadsUsed() const { return std::max(1, started_ - failed_); }

    // Encodes every chunk in order; false on a write error. `writing`
    // receives the seconds spent in the encoder.
    bool write(Encoder& encoder, Progress& progress, double& writing,
               const std::atomic<bool>* cancel) {
        const long long pixels = static_cast<long long>(frame_.region.width) * frame_.region.height;
        long long done = 0;
        bool ok = true;
        for (long long chunk = 0; chunk < chunks_ && ok; ++chunk) {
            if (cancel != nullptr && cancel->load()) {
                cancelled_ = true;
                break;
            }
            const std::size_t slot = static_cast<std::size_t>(chunk % slots_);
            unsigned char* bytes = &buffers_[slot * 3 * chunk_];
            const Tile tile = tiling_.tile(chunk);
            if (!awaitChunk(chunk, slot)) renderTile(rays_, frame_, tile, bytes, oneRay_.get());
            const auto before = std::chrono::steady_clock::now();
            ok = encoder.pixels(bytes, tile.rows * tile.cols);
            writing +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ready_[slot] = -1;
                written_ = chunk + 1;
            }
            if (oneRay_ && chunk + 1 < chunks_) oneRay_->release(tiling_.tile(chunk + 1));
            slotFree_.notify_all();
            done += tile.rows * tile.cols;
            progress.update(done, pixels);
        }
        stop();
        return ok;
    }

    ~ChunkPipeline() { stop(); }
    bool cancelled() const { return cancelled_; }

private:
    // Waits until a worker has traced the chunk; false when no worker is
    // left and the calling thread must trace it (their stacks freed first).
    bool awaitChunk(long long chunk, std::size_t slot) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            chunkReady_.wait(lock, [&] { return ready_[slot] == chunk || live_ == 0; });
            if (ready_[slot] == chunk) return true;
        }
        stop();
        return false;
    }

    // A worker that runs out of memory gives its chunk back to the others
    // and ends; when none is left, the writer traces the rest.
    void work() {
        allocationMayFail = true;
        long long chunk = -1;
        try {
            for (;;) {
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    slotFree_.wait(lock, [&] {
                        return stopping_ || !retry_.empty() || next_ >= chunks_ ||
                               next_ < written_ + slots_;
                    });
                    if (stopping_ || (retry_.empty() && next_ >= chunks_)) {
                        counts_.add(traceCounts);
                        --live_;
                        chunkReady_.notify_all();
                        return;
                    }
                    if (retry_.empty()) {
                        chunk = next_++;
                    } else {
                        chunk = retry_.back();
                        retry_.pop_back();
                    }
                }
                const std::size_t slot = static_cast<std::size_t>(chunk % slots_);
                renderTile(rays_, frame_, tiling_.tile(chunk), &buffers_[slot * 3 * chunk_],
                           oneRay_.get());
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    ready_[slot] = chunk;
                    chunk = -1;
                }
                chunkReady_.notify_all();
            }
        } catch (const std::bad_alloc&) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (chunk >= 0) retry_.push_back(chunk);  // room reserved: no allocation
                counts_.add(traceCounts);
                --live_;
                ++failed_;
            }
            chunkReady_.notify_all();
            slotFree_.notify_all();
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
    const Frame frame_;
    const Tiling tiling_;
    const long long chunk_;  // pixels in the largest chunk: one slot's size
    const long long chunks_;
    const int slots_;
    // With several rays a pixel: the one-ray bytes the chunks share.
    const std::unique_ptr<SharedOneRay> oneRay_;
    std::vector<unsigned char> buffers_;
    std::vector<long long> ready_;  // per slot: the chunk it holds, or -1
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable chunkReady_;
    std::condition_variable slotFree_;
    long long next_ = 0;            // next chunk to hand out
    std::vector<long long> retry_;  // chunks given back by workers that ran out of memory
    TraceCounts counts_;
    int live_ = 0;           // workers still tracing
    int started_ = 0;        // workers started
    int failed_ = 0;         // workers that ran out of memory
    long long written_ = 0;  // chunks written so far
    bool stopping_ = false;
    bool cancelled_ = false;
};

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

WriteStatus writeImage(ImageFile& out, const RenderSettings& settings) {
    std::unique_ptr<Encoder> encoder =
        settings.format == ImageFormat::Png ? makePngEncoder(out) : makePpmEncoder(out);
    return renderImage(*encoder, settings);
}

WriteStatus renderImage(Encoder& encoder, const RenderSettings& settings) {
    Frame frame = settings.frame;
    if (frame.region.width <= 0 || frame.region.height <= 0) frame.region = wholeImage();
    if (!encoder.begin(frame.region.width, frame.region.height)) return WriteStatus::WriteError;

    RenderReport report;
    auto start = std::chrono::steady_clock::now();
    prepareSearch();  // shared, read-only state before any thread searches
    report.building = since(start);
    const PrimaryRays rays;
    const int workers = settings.threads > 1 ? settings.threads : 0;
    traceCounts = TraceCounts{};  // this thread's share of the render, from here
    start = std::chrono::steady_clock::now();
    const std::clock_t processorStart = std::clock();  // all the process's threads
    bool ok = false;
    {
        ChunkPipeline pipeline(rays, frame, workers);
        pipeline.start(workers);
        Progress progress(settings.progress);
        ok = pipeline.write(encoder, progress, report.writing, settings.cancel) &&
             !pipeline.cancelled() && encoder.finish();
        if (pipeline.cancelled()) return WriteStatus::Cancelled;
        report.threads = pipeline.threadsUsed();
        report.counts = pipeline.counts();
    }
    report.tracing = since(start) - report.writing;
    // The writer's own time is counted once, at its wall time.
    report.tracingCpu =
        static_cast<double>(std::clock() - processorStart) / CLOCKS_PER_SEC - report.writing;
    report.counts.add(traceCounts);
    if (report.threads < settings.threads)
        std::fprintf(stderr, "fotolume: memory or threads ran short: traced on %d of %d threads\n",
                     report.threads, settings.threads);
    if (settings.report != nullptr) *settings.report = report;
    return ok ? WriteStatus::Ok : WriteStatus::WriteError;
}

}  // namespace fotolume
