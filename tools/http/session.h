#pragma once
// One client connection. Each request must arrive whole (headers and body)
// within the request time from the moment the connection waits for it, and
// each answer must leave within the same time; otherwise the connection is
// closed. A slow client therefore costs a socket and a timer, never a
// thread. Slow answers (see Router::IsSlow) are made on the worker and
// written from the connections' thread.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>

#include <memory>
#include <optional>

#include "connection_limits.h"
#include "router.h"

namespace http {

class Session : public std::enable_shared_from_this<Session> {
public:
    // The connection's place in `limits` has been taken; it is given back
    // when the session ends.
    Session(boost::asio::ip::tcp::socket socket, boost::asio::ip::address from, Router& router, boost::asio::thread_pool& worker,
            ConnectionLimits& limits, const HttpSettings& settings);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Start() { ReadRequest(); }

private:
    void ReadRequest();
    void OnRead(boost::beast::error_code ec);
    void AnswerOnWorker();
    void Send(Response answer);
    void OnSent(bool close, boost::beast::error_code ec);
    void Close();

    boost::beast::tcp_stream stream_;
    const boost::asio::ip::address address_;
    const boost::asio::any_io_executor executor_;  // read by the worker to post the answer back
    Router& router_;
    boost::asio::thread_pool& worker_;
    ConnectionLimits& limits_;
    const HttpSettings& settings_;
    boost::beast::flat_buffer buffer_;
    std::optional<beast_http::request_parser<beast_http::string_body>> parser_;
    Request request_;
    Response answer_;
    int served_ = 0;
};

}  // namespace http
