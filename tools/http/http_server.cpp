#include "http_server.h"

#include <pthread.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <thread>

#include "connection_limits.h"
#include "router.h"
#include "session.h"

namespace http {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {
bool ParsePort(const std::string& text, int& out) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    out = std::stoi(text);
    return out <= 65535;
}
}  // namespace

bool ParseListen(const std::string& text, HttpSettings& out) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::string address = text.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);  // [::1]:9100
    }
    if (!ParsePort(text.substr(colon + 1), out.port)) return false;
    out.address = address.empty() ? "127.0.0.1" : address;
    return true;
}

// Members in the order they may be torn down in reverse: sessions left in
// the worker's or the I/O queue still give their place back and close their
// sockets when those queues go.
struct HttpServer::Engine {
    Engine(const site::SiteModel& model, HttpSettings s)
        : settings(std::move(s)), limits(settings.maxConnections, settings.maxPerAddress), router(model, settings) {}

    bool Listen(std::string& error);
    void Accept();
    void OnAccept(boost::system::error_code ec, tcp::socket socket);

    const HttpSettings settings;
    ConnectionLimits limits;
    Router router;
    asio::io_context io{1};
    tcp::acceptor acceptor{io};
    asio::steady_timer acceptPause{io};
    asio::thread_pool worker{1};
    std::thread thread;
};

bool HttpServer::Engine::Listen(std::string& error) {
    boost::system::error_code ec;
    tcp::resolver resolver(io);
    const auto found = resolver.resolve(settings.address, std::to_string(settings.port),
                                        tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (!ec && !found.empty()) {
        const tcp::endpoint at = found.begin()->endpoint();
        acceptor.open(at.protocol(), ec);
        if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) acceptor.bind(at, ec);
        if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec || found.empty()) {
        error = "cannot listen on " + settings.address + ":" + std::to_string(settings.port);
        return false;
    }
    return true;
}

void HttpServer::Engine::Accept() {
    acceptor.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        OnAccept(ec, std::move(socket));
    });
}

// A client past a cap is closed at once, before a byte of it is read.
void HttpServer::Engine::OnAccept(boost::system::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (ec) {
        // Out of descriptors, say: try again shortly rather than spin.
        acceptPause.expires_after(std::chrono::milliseconds(100));
        acceptPause.async_wait([this](boost::system::error_code e) {
            if (!e) Accept();
        });
        return;
    }
    boost::system::error_code peerError;
    const tcp::endpoint peer = socket.remote_endpoint(peerError);
    if (!peerError && limits.Take(peer.address())) {
        std::make_shared<Session>(std::move(socket), peer.address(), router, worker, limits, settings)->Start();
    } else {
        socket.close(peerError);
    }
    Accept();
}

HttpServer::HttpServer(const site::SiteModel& model, HttpSettings settings)
    : engine_(std::make_unique<Engine>(model, std::move(settings))) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Mount(const std::string& prefix, const std::string& directory) {
    return engine_->router.Mount(prefix, directory);
}

bool HttpServer::Start(std::string& error) {
    if (!engine_->router.OpenHistory(error) || !engine_->Listen(error)) return false;
    port_ = engine_->acceptor.local_endpoint().port();
    engine_->Accept();
    engine_->thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "http");  // as top -H and ps -L show it
        engine_->io.run();
    });
    return true;
}

int HttpServer::OpenConnections() const { return engine_->limits.Open(); }

void HttpServer::Stop() {
    if (!engine_->thread.joinable()) return;
    engine_->io.stop();
    engine_->thread.join();
    engine_->worker.stop();
    engine_->worker.join();
    boost::system::error_code ignored;
    engine_->acceptor.close(ignored);  // refused from now on; held connections go with the server
}

}  // namespace http
