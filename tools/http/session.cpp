#include "session.h"

#include <boost/asio/post.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <chrono>

namespace http {

namespace {
namespace asio = boost::asio;
namespace beast = boost::beast;

// No route takes a body; a page's request headers are well under this.
constexpr std::uint64_t kMaxBodyBytes = 64 * 1024;
constexpr std::uint32_t kMaxHeaderBytes = 16 * 1024;

// The client went away or ran out of time: nothing to answer.
bool IsGone(beast::error_code ec) {
    return ec.category() != beast_http::make_error_code(beast_http::error::bad_target).category() ||
           ec == beast_http::error::end_of_stream || ec == beast_http::error::partial_message;
}
}  // namespace

Session::Session(asio::ip::tcp::socket socket, asio::ip::address from, Router& router, asio::thread_pool& worker,
                 ConnectionLimits& limits, const HttpSettings& settings)
    : stream_(std::move(socket)),
      address_(std::move(from)),
      executor_(stream_.get_executor()),
      router_(router),
      worker_(worker),
      limits_(limits),
      settings_(settings) {}

Session::~Session() { limits_.Give(address_); }

// The request time runs from here to the request's last byte, however the
// client spreads its bytes.
void Session::ReadRequest() {
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    parser_->body_limit(kMaxBodyBytes);
    stream_.expires_after(std::chrono::seconds(settings_.timeoutSeconds));
    beast_http::async_read(stream_, buffer_, *parser_,
                           [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
}

void Session::OnRead(beast::error_code ec) {
    if (ec) {
        if (IsGone(ec)) return Close();
        // Unreadable or too large: told, and the connection ends with it.
        if (ec == beast_http::error::header_limit) {
            return Send(Router::Refusal(beast_http::status::request_header_fields_too_large));
        }
        if (ec == beast_http::error::body_limit) return Send(Router::Refusal(beast_http::status::payload_too_large));
        return Send(Router::Refusal(beast_http::status::bad_request));
    }
    request_ = parser_->release();
    if (router_.IsSlow(request_)) return AnswerOnWorker();
    Send(router_.Answer(request_));
}

// The worker takes one slow answer at a time; every connection has at most
// one request there, so its queue is bounded by the connection cap.
void Session::AnswerOnWorker() {
    asio::post(worker_, [self = shared_from_this()] {
        Response answer = self->router_.Answer(self->request_);
        asio::post(self->executor_, [self, answer = std::move(answer)]() mutable { self->Send(std::move(answer)); });
    });
}

void Session::Send(Response answer) {
    ++served_;
    const bool close = !answer.keep_alive() || served_ >= settings_.requestsPerConnection;
    answer.keep_alive(!close);
    answer_ = std::move(answer);
    stream_.expires_after(std::chrono::seconds(settings_.timeoutSeconds));
    beast_http::async_write(stream_, answer_, [self = shared_from_this(), close](beast::error_code ec, size_t) {
        self->OnSent(close, ec);
    });
}

void Session::OnSent(bool close, beast::error_code ec) {
    if (ec || close) return Close();
    answer_ = {};
    ReadRequest();
}

// Nothing more is started, so the last handler's end frees the session.
void Session::Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    stream_.socket().close(ignored);
}

}  // namespace http
