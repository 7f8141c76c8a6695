// The preview's web server: one page, its event stream, its picture and its
// explanations, for requests that carry the token and name the address
// served; nothing else. It reads only the scene and writes nothing to disk.
// Connections live on one event loop (Boost.Beast over Asio), so no number
// of idle or slow clients can hold up a page.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <exception>
#include <system_error>
#include <thread>

#include "os/os.hpp"
#include "scene/scene.hpp"
#include "serve/connection.hpp"

namespace fotolume {

namespace {

// As many connections as the system lets this process have (an idle
// client's connection costs one descriptor), less a reserve that keeps the
// scene readable however many are open.
std::size_t connectionCapacity() {
    constexpr long long RESERVE = 64;
    const long long usable = os::raiseDescriptorLimit();
    return usable > 2 * RESERVE ? static_cast<std::size_t>(usable - RESERVE) : RESERVE / 2;
}

// The address to listen on, as numbers: "127.1" is served (and printed) as
// 127.0.0.1, the form a browser sends back in its Host header.
bool listenOn(ServerState& server, tcp::acceptor& acceptor, const ServeSettings& settings,
              std::string& address, int& port) {
    beast::error_code error;
    tcp::resolver resolver(server.loop);
    const auto found =
        resolver.resolve(settings.listen, std::to_string(settings.port),
                         tcp::resolver::passive | tcp::resolver::numeric_service, error);
    tcp::endpoint endpoint;
    for (const auto& entry : found)
        if (endpoint == tcp::endpoint() || entry.endpoint().address().is_v4())
            endpoint = entry.endpoint();
    if (!error && found.empty()) error = net::error::host_not_found;
    if (!error) acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) {
        std::fprintf(stderr, "fotolume: cannot serve on %s port %d: %s\n",
                     printable(settings.listen).c_str(), settings.port, error.message().c_str());
        return false;
    }
    address = endpoint.address().to_string();
    port = acceptor.local_endpoint().port();
    return true;
}

int serve(const ServeSettings& settings) {
    const std::size_t capacity = connectionCapacity();
    // Never destroyed: the render thread and the loop use them until the
    // process ends.
    static Preview& preview = *new Preview(settings);
    static Guard& guard = *new Guard;
    static ServerState& server = *new ServerState(preview, guard);
    server.capacity = capacity;
    static tcp::acceptor& acceptor = *new tcp::acceptor(server.loop);
    std::string address;
    int port = 0;
    if (!listenOn(server, acceptor, settings, address, port)) return 1;
    guard.hosts = hostNames(address, port);
    guard.token = makeToken();
    if (!isLoopback(address))
        std::fprintf(stderr,
                     "fotolume: warning: other machines may reach %s; the token in the page's "
                     "address is its only protection%s\n",
                     printable(address).c_str(),
                     isWildcard(address)
                         ? " (from another machine, open the address below with this "
                           "machine's own address, as numbers, for 127.0.0.1)"
                         : "");
    // Changes come from the render thread; the pages are told on the loop,
    // once for any number of changes made meanwhile.
    static std::atomic<bool> posted{false};
    preview.onChange([] {
        if (posted.exchange(true)) return;
        net::post(server.loop, [] {
            posted = false;
            server.tellPages();
        });
    });
    static auto& busy = *new net::executor_work_guard<net::io_context::executor_type>(
        server.workers.get_executor());
    (void)busy;
    for (int k = 0; k < 2; ++k) {
        try {
            std::thread([] { server.workers.run(); }).detach();
            server.workersRunning = true;
        } catch (const std::system_error&) {
            break;  // fewer workers, or the loop traces them itself
        }
    }
    std::thread([] { renderForPreview(preview); }).detach();
    std::printf("http://%s/?t=%s\n", guard.hosts.front().c_str(), guard.token.c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "fotolume: the page's address could not be printed\n");
        return 1;
    }
    accept(server, acceptor);
    server.loop.run();
    std::fprintf(stderr, "fotolume: the preview server stopped\n");
    return 1;
}

}  // namespace

int serveCommand(const ServeSettings& settings) {
    os::ignoreBrokenPipes();  // a page closed mid-answer must not end the server
    imageWidth = settings.width;
    imageHeight = settings.height;
    sceneOnlyRegular = true;  // a fifo put in the scene's place must not stop the page
    int status = 1;
    try {
        status = serve(settings);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "fotolume: out of memory: the preview cannot be served\n");
    } catch (const std::exception& error) {  // no thread or descriptor to be had
        std::fprintf(stderr, "fotolume: the preview cannot be served: %s\n", error.what());
    }
    std::fflush(stderr);
    std::_Exit(status);  // the render thread may still run: no clean-up behind its back
}

}  // namespace fotolume
