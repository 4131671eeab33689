#include "http_server.h"

#include <chrono>

#include <httplib.h>

#include <array>

#include "api.h"
#include "float_json.h"
#include "metrics.h"
#include "web_assets.h"

namespace http {

namespace {
void SendJson(httplib::Response& res, int status, const Json::Value& body) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    site::SetJsonDigits(builder);
    res.status = status;
    res.set_content(Json::writeString(builder, body) + "\n", "application/json");
}

// A path as a route pattern that matches only itself.
std::string Literal(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '.') out += '\\';
        out += c;
    }
    return out;
}

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

HttpServer::HttpServer(const site::SiteModel& model, HttpSettings settings)
    : model_(model), settings_(std::move(settings)), server_(std::make_unique<httplib::Server>()) {
    const int threads = settings_.threads;
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    server_->set_read_timeout(settings_.timeoutSeconds, 0);
    server_->set_write_timeout(settings_.timeoutSeconds, 0);
    server_->set_keep_alive_max_count(20);
    server_->set_payload_max_length(64 * 1024);  // no route takes a body
    if (!settings_.authUser.empty()) RequireAuth();
    Route();
    RoutePage();
}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Mount(const std::string& prefix, const std::string& directory) {
    return server_->set_mount_point(prefix, directory);
}

// The routes: each reads one snapshot and answers from it. New pages add a row
// here or a mount point.
void HttpServer::Route() {
    server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        std::string text;
        RenderMetrics(*model_.Current(), settings_.version, text);
        res.set_content(std::move(text), "text/plain; version=0.0.4; charset=utf-8");
    });
    server_->Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        SendJson(res, 200, StateJson(*model_.Current()));
    });
    server_->Get("/api/alarms", [this](const httplib::Request&, httplib::Response& res) {
        Json::Value body = AlarmsJson(*model_.Current());
        std::lock_guard<std::mutex> lock(historyMutex_);
        if (history_) body["recent"] = RecentAlarmsJson(history_.get(), settings_.recentAlarms);
        SendJson(res, 200, body);
    });
    server_->Get("/api/history", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(historyMutex_);
        const Answer a = HistoryAnswer(history_.get(), req.params, settings_.historyRows);
        SendJson(res, a.status, a.body);
    });
    server_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        Json::Value body;
        body["error"] = res.status == 404 ? "not found" : "bad request";
        SendJson(res, res.status, body);
    });
    server_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        Json::Value body;
        body["error"] = "internal error";
        SendJson(res, 500, body);
    });
}

// The page's files from memory. Each carries its digest as entity tag, so a
// browser revalidates with one small request and gets 304 while the program
// is the same; the policy keeps the page from loading anything from
// elsewhere.
void HttpServer::RoutePage() {
    for (size_t k = 0; k < web::kAssetCount; ++k) {
        const web::Asset& asset = web::kAssets[k];
        const std::string path = std::string(asset.path) == "/index.html" ? "/|/index\\.html" : Literal(asset.path);
        server_->Get(path, [&asset](const httplib::Request& req, httplib::Response& res) {
            const web::Body body = web::BodyFor(asset, req.get_header_value("Accept-Encoding"));
            res.set_header("ETag", body.etag);
            res.set_header("Vary", "Accept-Encoding");
            res.set_header("Cache-Control", "no-cache");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("Content-Security-Policy",
                           "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
                           "frame-ancestors 'none'");
            if (req.get_header_value("If-None-Match") == body.etag) {
                res.status = 304;
                return;
            }
            if (body.gzip) res.set_header("Content-Encoding", "gzip");
            res.set_content(reinterpret_cast<const char*>(body.data), body.size,
                            std::string(asset.contentType) + "; charset=utf-8");
        });
    }
}

// Ahead of every route: without the configured user and password the answer
// is 401 with the challenge, whatever the path.
void HttpServer::RequireAuth() {
    auth_ = std::make_unique<BasicAuth>(settings_.authUser, settings_.authHash);
    server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (auth_->Allows(req.get_header_value("Authorization"))) return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("WWW-Authenticate", kAuthChallenge);
        Json::Value body;
        body["error"] = "authentication required";
        SendJson(res, 401, body);
        return httplib::Server::HandlerResponse::Handled;
    });
}

bool HttpServer::Start(std::string& error) {
    if (!settings_.historyPath.empty() && settings_.historyPath != ":memory:") {
        history_ = std::make_unique<history::HistoryReader>();
        if (!history_->Open(settings_.historyPath, error)) return false;
    }
    port_ = settings_.port == 0 ? server_->bind_to_any_port(settings_.address)
                                : (server_->bind_to_port(settings_.address, settings_.port) ? settings_.port : -1);
    if (port_ <= 0) {
        error = "cannot listen on " + settings_.address + ":" + std::to_string(settings_.port);
        return false;
    }
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
    // A stop that came before the server runs would be lost, and the stop
    // would then wait for it forever: return once it runs (or gave up).
    for (int k = 0; k < 5000 && !server_->is_running() && !listenEnded_; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void HttpServer::Stop() {
    if (!thread_.joinable()) return;
    server_->stop();
    thread_.join();
}

}  // namespace http
