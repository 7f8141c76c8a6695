// The preview's web server: one page, its event stream, its picture and its
// explanations, for requests that carry the token and name the address
// served; nothing else. It reads only the scene and writes nothing to disk.
#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

#include "explain/explain.hpp"
#include "scene/scene.hpp"
#include "serve/guard.hpp"
#include "serve/preview.hpp"

namespace fotolume {

namespace {

constexpr int SERVING_THREADS = 16;
constexpr int WAITING_CONNECTIONS = 16;
// Open pages, each holding a thread for its event stream; the other
// threads stay free for pictures and explanations.
constexpr int MAX_STREAMS = 8;

// A fixed number of threads serve connections. Once as many more wait, the
// listener stops accepting until one is taken: the kernel's small backlog
// holds the next few and refuses the rest, so connections stay bounded.
class BoundedPool : public httplib::TaskQueue {
public:
    BoundedPool() {
        for (int k = 0; k < SERVING_THREADS; ++k) threads_.emplace_back([this] { work(); });
    }
    void enqueue(std::function<void()> job) override {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return jobs_.size() < WAITING_CONNECTIONS || stopping_; });
        jobs_.push_back(std::move(job));
        ready_.notify_one();
    }
    void shutdown() override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        room_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }

private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            room_.notify_one();
            job();
        }
    }

    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> jobs_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    bool stopping_ = false;
};

// A whole number from 0 to below `limit`, or -1.
long long coordinate(const std::string& text, long long limit) {
    if (text.empty() || text.size() > 10) return -1;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value < limit ? value : -1;
}

void explainRoute(Preview& preview, const httplib::Request& request, httplib::Response& response) {
    const ServeSettings& settings = preview.settings();
    const long long x = coordinate(request.get_param_value("x"), settings.width);
    const long long y = coordinate(request.get_param_value("y"), settings.height);
    if (x < 0 || y < 0) {
        response.status = 400;
        response.set_content("x and y must name a pixel of the image\n", "text/plain");
        return;
    }
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    if (out == nullptr) {
        response.status = 503;
        return;
    }
    bool ready = false;
    {
        const std::shared_lock<std::shared_mutex> lock(preview.scene);
        ready = preview.sceneReady;
        unsigned char bytes[3];
        if (ready) explainPixelTo(out, settings.frame, x, y, ExplainFormat::Text, bytes);
    }
    std::fclose(out);
    response.status = ready ? 200 : 409;
    response.set_content(
        ready ? std::string(text, size) : "the scene was refused: see its errors\n",
        "text/plain; charset=utf-8");
    std::free(text);
}

void eventsRoute(Preview& preview, std::atomic<int>& streams, httplib::Response& response) {
    if (streams.fetch_add(1) >= MAX_STREAMS) {
        --streams;
        response.status = 503;
        response.set_content("too many pages are open\n", "text/plain");
        return;
    }
    auto seen = std::make_shared<long long>(-1);
    response.set_chunked_content_provider(
        "text/event-stream",
        [&preview, seen](std::size_t, httplib::DataSink& sink) {
            const std::string state = preview.waitForState(*seen, 15);
            const std::string message =
                state.empty() ? ": still here\n\n" : "data: " + state + "\n\n";
            return sink.write(message.data(), message.size());
        },
        [&streams](bool) { --streams; });
}

void addRoutes(httplib::Server& server, Preview& preview, const Guard& guard,
               std::atomic<int>& streams) {
    server.set_pre_routing_handler(
        [&guard](const httplib::Request& request, httplib::Response& response) {
            response.set_header("Cache-Control", "no-store");
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_header("Referrer-Policy", "no-referrer");
            int status = 200;
            const std::string why = refusal(request, guard, status);
            if (why.empty()) return httplib::Server::HandlerResponse::Unhandled;
            response.status = status;
            response.set_content(why + "\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        });
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; style-src "
                            "'unsafe-inline'; connect-src 'self'; img-src blob: data:; "
                            "frame-ancestors 'none'");
        response.set_content(previewPage(), "text/html; charset=utf-8");
    });
    server.Get("/events",
               [&preview, &streams](const httplib::Request&, httplib::Response& response) {
                   eventsRoute(preview, streams, response);
               });
    server.Get("/image", [&preview](const httplib::Request&, httplib::Response& response) {
        long long number = 0;
        const std::shared_ptr<const Pixels> pixels = preview.picture(number);
        if (!pixels) {
            response.status = 204;
            return;
        }
        response.set_header("X-Picture", std::to_string(number));
        response.set_content(reinterpret_cast<const char*>(pixels->data()), pixels->size(),
                             "application/octet-stream");
    });
    server.Get("/explain",
               [&preview](const httplib::Request& request, httplib::Response& response) {
                   explainRoute(preview, request, response);
               });
}

}  // namespace

int serveCommand(const ServeSettings& settings) {
    std::signal(SIGPIPE, SIG_IGN);  // a page closed mid-answer must not end the server
    imageWidth = settings.width;
    imageHeight = settings.height;
    // Never destroyed: the render and server threads use them until the
    // process ends.
    static Preview& preview = *new Preview(settings);
    static Guard& guard = *new Guard;
    static std::atomic<int>& streams = *new std::atomic<int>(0);
    static httplib::Server& server = *new httplib::Server;
    server.new_task_queue = [] { return new BoundedPool; };
    server.set_read_timeout(2, 0);
    server.set_write_timeout(5, 0);
    server.set_payload_max_length(4096);
    int port = settings.port;
    if (port == 0)
        port = server.bind_to_any_port(settings.listen);
    else if (!server.bind_to_port(settings.listen, port))
        port = -1;
    if (port <= 0) {
        const int error = errno;
        std::fprintf(stderr, "fotolume: cannot serve on %s port %d: %s\n",
                     printable(settings.listen).c_str(), settings.port,
                     error != 0 ? std::strerror(error) : "the address cannot be used");
        return 1;
    }
    guard.hosts = hostNames(settings.listen, port);
    guard.token = makeToken();
    addRoutes(server, preview, guard, streams);
    if (!isLoopback(settings.listen))
        std::fprintf(stderr,
                     "fotolume: warning: other machines may reach %s; the token in the page's "
                     "address is its only protection%s\n",
                     printable(settings.listen).c_str(),
                     isWildcard(settings.listen)
                         ? " (from another machine, open the address below with this "
                           "machine's own address, as numbers, for 127.0.0.1)"
                         : "");
    std::thread([] { renderForPreview(preview); }).detach();
    std::printf("http://%s/?t=%s\n", guard.hosts.front().c_str(), guard.token.c_str());
    std::fflush(stdout);
    server.listen_after_bind();
    std::fprintf(stderr, "fotolume: the preview server stopped\n");
    std::fflush(stderr);
    std::_Exit(1);  // the render thread still runs: no clean-up behind its back
}

}  // namespace fotolume
