// The preview server's open pages and its listener: a page's event stream
// is told every change of the render as it happens, its place is given
// back the moment the page closes, and connections are accepted for ever,
// the oldest unfinished one dropped when descriptors run out.
#include <cerrno>
#include <memory>

#include "serve/connection.hpp"

namespace fotolume {

void Connection::becomeStream() {
    if (server_.streamCount >= MAX_STREAMS) {
        http::response<http::string_body> full{http::status::service_unavailable, 11};
        full.set(http::field::content_type, "text/plain; charset=utf-8");
        full.set(http::field::cache_control, "no-store");
        full.set("Retry-After", "2");
        full.body() = "too many pages are open\n";
        full.keep_alive(false);
        send(std::move(full));
        return;
    }
    streaming_ = true;
    ++server_.streamCount;
    streamPlace_ = server_.streams.insert(server_.streams.end(), weak_from_this());
    stream_.expires_never();
    pending_ =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    // A page sends nothing more: a read ends only when it closes.
    stream_.socket().async_read_some(
        net::buffer(sink_), [self = shared_from_this()](beast::error_code error, std::size_t) {
            (void)error;  // closed, or bytes a page never sends: either way it is done
            self->close();
        });
    beat_.emplace(server_.loop);
    heartbeat();
    sendState();
}

void Connection::heartbeat() {
    beat_->expires_after(HEARTBEAT);
    beat_->async_wait([self = shared_from_this()](beast::error_code error) {
        if (error || self->closed_) return;
        self->pending_ += ": still here\n\n";
        self->sendState();
        self->heartbeat();
    });
}

void Connection::sendState() {
    if (closed_ || writing_ || !streaming_) return;
    const std::string state = server_.preview.waitForState(seen_, 0);
    if (!state.empty()) pending_ += "data: " + state + "\n\n";
    if (pending_.empty()) return;
    write(std::move(pending_));
    pending_.clear();
}

void Connection::write(std::string text) {
    writing_ = true;
    auto held = std::make_shared<std::string>(std::move(text));
    stream_.expires_after(ANSWER_TIME);
    net::async_write(stream_, net::buffer(*held),
                     [self = shared_from_this(), held](beast::error_code error, std::size_t) {
                         self->writing_ = false;
                         if (error) {
                             self->close();
                             return;
                         }
                         self->stream_.expires_never();
                         self->sendState();  // what changed meanwhile
                     });
}

void ServerState::tellPages() {
    for (auto it = streams.begin(); it != streams.end();) {
        const auto page = (it++)->lock();  // sending may close it and erase its place
        if (page) page->sendState();
    }
}

bool ServerState::dropOldestUnfinished() {
    for (const std::weak_ptr<Connection>& weak : open) {
        const std::shared_ptr<Connection> connection = weak.lock();
        if (connection && connection->unfinished()) {
            connection->close();
            return true;
        }
    }
    return false;
}

void accept(ServerState& server, tcp::acceptor& acceptor) {
    acceptor.async_accept(
        server.loop, [&server, &acceptor](beast::error_code error, tcp::socket socket) {
            if (!error && server.open.size() >= server.capacity && !server.dropOldestUnfinished()) {
                beast::error_code ignored;
                socket.close(ignored);  // every place answers or streams: no room
            } else if (!error) {
                auto connection = std::make_shared<Connection>(std::move(socket), server);
                connection->place_ = server.open.insert(server.open.end(), connection);
                connection->start();
            } else if ((error == net::error::no_descriptors || error.value() == ENFILE) &&
                       !server.dropOldestUnfinished()) {
                // Every descriptor serves a request being answered or a page:
                // try again shortly.
                auto pause =
                    std::make_shared<net::steady_timer>(server.loop, std::chrono::milliseconds(50));
                pause->async_wait(
                    [&server, &acceptor, pause](beast::error_code) { accept(server, acceptor); });
                return;
            }
            accept(server, acceptor);
        });
}

}  // namespace fotolume
