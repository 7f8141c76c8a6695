// One connection of the preview server: its requests read within a total
// time, answered on the loop (an explanation traced on a worker), or, for
// /events, kept open and told every change until the page closes it.
#include "os/os.hpp"
#include "serve/connection.hpp"

#include <cstdio>
#include <cstdlib>

#include "explain/explain.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

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

http::response<http::string_body> plain(unsigned version, int status, const std::string& text,
                                        const char* type = "text/plain; charset=utf-8") {
    http::response<http::string_body> response{static_cast<http::status>(status), version};
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.body() = text;
    return response;
}

// The pixel of the scene as now read, at the size it was read for; the
// status 200, or 409 (nothing read) or 400 (no such pixel) with why.
std::string explanation(Preview& preview, long long x, long long y, int& status) {
    os::MemoryStream memory;
    std::FILE* out = memory.stream();
    status = 503;
    if (out == nullptr) return "no memory for the explanation\n";
    {
        const std::shared_lock<std::shared_mutex> lock(preview.scene);
        unsigned char bytes[3];
        status = !preview.sceneReady ? 409 : x >= imageWidth || y >= imageHeight ? 400 : 200;
        if (status == 200) explainPixelTo(out, preview.frame, x, y, ExplainFormat::Text, bytes);
    }
    std::string said = memory.take();
    if (status == 409) return "the scene was refused: see its errors\n";
    if (status == 400) return "x and y must name a pixel of the image\n";
    return said;
}

}  // namespace

void Connection::start() { readRequest(); }

void Connection::readRequest() {
    waiting_ = true;
    parser_.emplace();
    parser_->header_limit(8192);
    parser_->body_limit(4096);
    stream_.expires_after(REQUEST_TIME);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         self->onRequest(error);
                     });
}

void Connection::onRequest(beast::error_code error) {
    waiting_ = false;
    if (closed_) return;
    if (error == http::error::end_of_stream || error == beast::error::timeout ||
        error == net::error::operation_aborted || error == net::error::eof ||
        error == net::error::connection_reset) {
        close();
        return;
    }
    if (error) {  // not HTTP, or over the limits
        http::response<http::string_body> bad = plain(11, 400, "a request this server reads\n");
        bad.keep_alive(false);
        send(std::move(bad));
        return;
    }
    answer(parser_->get());
}

void Connection::answer(const http::request<http::string_body>& request) {
    std::vector<std::string> hosts;
    for (auto field = request.find(http::field::host);
         field != request.end() && field->name() == http::field::host; ++field)
        hosts.emplace_back(field->value());
    const Target target = parseTarget(std::string(request.target()));
    const unsigned version = request.version();
    const bool keepAlive = request.keep_alive();
    int status = 200;
    const std::string why = refusal(hosts, target, server_.guard, status);
    const http::verb method = target.path == "/settings" ? http::verb::post : http::verb::get;
    if (!why.empty() || request.method() != method) {
        http::response<http::string_body> refused =
            why.empty() ? plain(version, 405,
                                std::string(method == http::verb::get ? "GET" : "POST") + " only\n")
                        : plain(version, status, why + "\n");
        refused.keep_alive(keepAlive);
        send(std::move(refused));
        return;
    }
    if (target.path == "/events") {
        becomeStream();
        return;
    }
    http::response<http::string_body> response = plain(version, 200, "");
    response.keep_alive(keepAlive);
    if (target.path == "/" || target.path == "/image") {
        pageOrPicture(target.path, response);
    } else if (target.path == "/settings") {
        const long long limit = MAX_SERVED_PIXELS + 1;
        const std::string why = server_.preview.ask(coordinate(target.get("width"), limit),
                                                    coordinate(target.get("height"), limit),
                                                    coordinate(target.get("samples"), limit));
        response = plain(version, why.empty() ? 200 : 400, why.empty() ? "ok\n" : why + "\n");
        response.keep_alive(keepAlive);
    } else {  // "/explain"
        const long long x = coordinate(target.get("x"), MAX_SERVED_PIXELS);
        const long long y = coordinate(target.get("y"), MAX_SERVED_PIXELS);
        if (x < 0 || y < 0) {
            response = plain(version, 400, "x and y must name a pixel of the image\n");
            response.keep_alive(keepAlive);
        } else {
            explain(x, y, version, keepAlive);
            return;
        }
    }
    send(std::move(response));
}

// The page itself, or the latest picture (204 before there is one).
void Connection::pageOrPicture(const std::string& path,
                               http::response<http::string_body>& response) {
    if (path == "/") {
        response.set(http::field::content_type, "text/html; charset=utf-8");
        response.set("Content-Security-Policy",
                     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                     "connect-src 'self'; img-src blob: data:; frame-ancestors 'none'");
        response.body() = previewPage();
    } else {
        long long number = 0;
        const std::shared_ptr<const Pixels> pixels = server_.preview.picture(number);
        if (!pixels) {
            response.result(http::status::no_content);
        } else {
            response.set(http::field::content_type, "application/octet-stream");
            response.set("X-Picture", std::to_string(number));
            response.body().assign(reinterpret_cast<const char*>(pixels->data()), pixels->size());
        }
    }
}

void Connection::explain(long long x, long long y, unsigned version, bool keepAlive) {
    net::io_context& where = server_.workersRunning ? server_.workers : server_.loop;
    net::post(where, [self = shared_from_this(), x, y, version, keepAlive] {
        int status = 200;
        std::string text = explanation(self->server_.preview, x, y, status);
        net::post(self->server_.loop, [self, text = std::move(text), status, version, keepAlive] {
            if (self->closed_) return;
            http::response<http::string_body> response = plain(version, status, text);
            response.keep_alive(keepAlive);
            self->send(std::move(response));
        });
    });
}

void Connection::send(http::response<http::string_body>&& response) {
    response.prepare_payload();
    auto answer = std::make_shared<http::response<http::string_body>>(std::move(response));
    stream_.expires_after(ANSWER_TIME);
    http::async_write(stream_, *answer,
                      [self = shared_from_this(), answer](beast::error_code error, std::size_t) {
                          if (error || !answer->keep_alive())
                              self->close();
                          else
                              self->readRequest();
                      });
}

void Connection::close() {
    if (closed_) return;
    closed_ = true;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
    if (beat_) beat_->cancel();
    server_.open.erase(place_);
    if (streaming_) {
        server_.streams.erase(streamPlace_);
        --server_.streamCount;
    }
}

}  // namespace fotolume
