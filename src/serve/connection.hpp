// The preview server's connections, on one event loop: no connection holds
// a thread, so idle or slow clients cost a descriptor and a little memory,
// never another client's answer. Internal to the serve folder.
#pragma once

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "serve/guard.hpp"
#include "serve/preview.hpp"

namespace fotolume {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

// A request must arrive whole within this time, counted from when the
// connection opened or answered its last request, not from its last byte.
constexpr auto REQUEST_TIME = std::chrono::seconds(4);
// An answer must be taken within this time.
constexpr auto ANSWER_TIME = std::chrono::seconds(15);
// Open pages; each is told every change of the render until it closes.
constexpr int MAX_STREAMS = 8;
constexpr auto HEARTBEAT = std::chrono::seconds(15);

class Connection;

// What the connections share: the loop, the preview, who may ask, the
// connections in the order they opened (the oldest unfinished one is
// dropped when descriptors run out) and the open pages.
struct ServerState {
    ServerState(Preview& p, const Guard& g) : preview(p), guard(g) {}
    net::io_context loop{1};
    // Explanations trace away from the loop, on the threads that run
    // `workers` (on the loop itself when no thread could be had).
    net::io_context workers{1};
    bool workersRunning = false;
    Preview& preview;
    const Guard& guard;
    std::list<std::weak_ptr<Connection>> open;
    std::list<std::weak_ptr<Connection>> streams;
    int streamCount = 0;
    // Connections kept at most: the descriptors less a reserve for the
    // scene, the render's threads and the reader's files.
    std::size_t capacity = 1000;
    // Tells every open page of a change (on the loop).
    void tellPages();
    // Closes the oldest connection still waiting for its request; false
    // when there is none.
    bool dropOldestUnfinished();
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, ServerState& server)
        : stream_(std::move(socket)), server_(server) {}
    void start();
    bool unfinished() const { return waiting_; }
    void close();
    // An open page: sends the latest state when it is newer than the one
    // sent, unless a send is under way.
    void sendState();

private:
    void readRequest();
    void onRequest(beast::error_code error);
    void answer(const http::request<http::string_body>& request);
    void pageOrPicture(const std::string& path, http::response<http::string_body>& response);
    void send(http::response<http::string_body>&& response);
    void explain(long long x, long long y, unsigned version, bool keepAlive);
    void becomeStream();
    void heartbeat();
    void write(std::string text);

    beast::tcp_stream stream_;
    ServerState& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    bool waiting_ = false;
    bool closed_ = false;
    // An open page's stream.
    bool streaming_ = false;
    bool writing_ = false;
    long long seen_ = -1;
    std::string pending_;
    std::optional<net::steady_timer> beat_;
    char sink_[256];
    std::list<std::weak_ptr<Connection>>::iterator place_, streamPlace_;
    friend struct ServerState;
    friend void accept(ServerState& server, tcp::acceptor& acceptor);
};

// Accepts connections for ever; when descriptors run out, the oldest
// unfinished connection makes room, never the listener.
void accept(ServerState& server, tcp::acceptor& acceptor);

}  // namespace fotolume
