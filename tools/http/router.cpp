#include "router.h"

#include <array>
#include <cstring>

#include "api.h"
#include "float_json.h"
#include "metrics.h"
#include "web_assets.h"

namespace http {

namespace {
using beast_http::field;
using beast_http::status;

Response JsonAnswer(status code, const Json::Value& body) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    site::SetJsonDigits(builder);
    Response res{code, 11};
    res.set(field::content_type, "application/json");
    res.body() = Json::writeString(builder, body) + "\n";
    return res;
}

Response Error(status code, const char* text) {
    Json::Value body;
    body["error"] = text;
    return JsonAnswer(code, body);
}

// Sized for the wire; a HEAD answer keeps its length and drops its body.
void Finish(const Request& request, Response& res) {
    res.version(request.version());
    res.keep_alive(request.keep_alive());
    if (res.result() != status::not_modified) res.prepare_payload();
    if (request.method() == beast_http::verb::head) res.body().clear();
}

std::string_view TargetText(const Request& request) {
    const auto text = request.target();
    return {text.data(), text.size()};
}

std::string HeaderOf(const Request& request, field name) {
    const auto it = request.find(name);
    return it == request.end() ? std::string() : std::string(it->value());
}
}  // namespace

// The API and metrics: a path, the answer, and whether it reads the history
// database (then it is slow and runs off the connections' thread).
struct RouteRow {
    const char* path;
    Response (Router::*answer)(const Target&);
    bool readsHistory;
};

const RouteRow* Router::FindRoute(const std::string& path) {
    static constexpr std::array<RouteRow, 4> kRoutes = {{
        {"/metrics", &Router::Metrics, false},
        {"/api/state", &Router::State, false},
        {"/api/alarms", &Router::Alarms, true},
        {"/api/history", &Router::History, true},
    }};
    for (const RouteRow& row : kRoutes) {
        if (path == row.path) return &row;
    }
    return nullptr;
}

Router::Router(const site::SiteModel& model, const HttpSettings& settings) : model_(model), settings_(settings) {
    if (!settings_.authUser.empty()) auth_ = std::make_unique<BasicAuth>(settings_.authUser, settings_.authHash);
}

bool Router::OpenHistory(std::string& error) {
    if (settings_.historyPath.empty() || settings_.historyPath == ":memory:") return true;
    history_ = std::make_unique<history::HistoryReader>();
    return history_->Open(settings_.historyPath, error);
}

bool Router::IsSlow(const Request& request) {
    if (auth_) {
        const std::string authorization = HeaderOf(request, field::authorization);
        if (!authorization.empty() && !auth_->IsKnown(authorization)) return true;  // a hash to verify
    }
    Target target;
    if (!ParseTarget(TargetText(request), target)) return false;
    if (mounts_.Covers(target.path)) return true;  // a disk read
    const RouteRow* route = FindRoute(target.path);
    return route != nullptr && route->readsHistory && history_;
}

Response Router::Answer(const Request& request) {
    Response res;
    try {
        res = Dispatch(request);
    } catch (const std::exception&) {
        res = Error(status::internal_server_error, "internal error");
    }
    Finish(request, res);
    return res;
}

Response Router::Refusal(status code) {
    Response res = Error(code, "bad request");
    res.keep_alive(false);
    res.prepare_payload();
    return res;
}

// Authentication comes ahead of everything, so nothing about the paths is
// told to a client without the password.
Response Router::Dispatch(const Request& request) {
    if (auth_ && !auth_->Allows(HeaderOf(request, field::authorization))) {
        Response res = Error(status::unauthorized, "authentication required");
        res.set(field::www_authenticate, kAuthChallenge);
        return res;
    }
    const auto method = request.method();
    if (method != beast_http::verb::get && method != beast_http::verb::head) {
        Response res = Error(status::method_not_allowed, "method not allowed");
        res.set(field::allow, "GET, HEAD");
        return res;
    }
    Target target;
    if (!ParseTarget(TargetText(request), target)) return Error(status::bad_request, "bad request");
    FileAnswer file;
    if (mounts_.Read(target.path, file)) {
        Response res{status::ok, 11};
        res.set(field::content_type, file.contentType);
        res.body() = std::move(file.body);
        return res;
    }
    if (const RouteRow* route = FindRoute(target.path)) return (this->*route->answer)(target);
    return Page(request, target.path);
}

// The page's files from memory. Each carries its digest as entity tag, so a
// browser revalidates with one small request and gets 304 while the program
// is the same; the policy keeps the page from loading anything from
// elsewhere.
Response Router::Page(const Request& request, const std::string& path) const {
    const web::Asset* asset = web::FindAsset(path);
    if (asset == nullptr) return Error(status::not_found, "not found");
    // The gzipped copy made at build time, to a client that accepts it.
    const web::Body body = web::BodyFor(*asset, HeaderOf(request, field::accept_encoding));
    Response res{status::ok, 11};
    res.set(field::etag, body.etag);
    res.set(field::vary, "Accept-Encoding");
    res.set(field::cache_control, "no-cache");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Content-Security-Policy",
            "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; frame-ancestors 'none'");
    if (HeaderOf(request, field::if_none_match) == body.etag) {
        res.result(status::not_modified);
        return res;
    }
    if (body.gzip) res.set(field::content_encoding, "gzip");
    res.set(field::content_type, std::string(asset->contentType) + "; charset=utf-8");
    res.body().assign(reinterpret_cast<const char*>(body.data), body.size);
    return res;
}

Response Router::Metrics(const Target&) {
    Response res{status::ok, 11};
    RenderMetrics(*model_.Current(), settings_.version, res.body());
    res.set(field::content_type, "text/plain; version=0.0.4; charset=utf-8");
    return res;
}

Response Router::State(const Target&) { return JsonAnswer(status::ok, StateJson(*model_.Current())); }

Response Router::Alarms(const Target&) {
    Json::Value body = AlarmsJson(*model_.Current());
    if (history_) body["recent"] = RecentAlarmsJson(history_.get(), settings_.recentAlarms);
    return JsonAnswer(status::ok, body);
}

Response Router::History(const Target& target) {
    const http::Answer a = HistoryAnswer(history_.get(), target.params, settings_.historyRows);
    return JsonAnswer(static_cast<status>(a.status), a.body);
}

}  // namespace http
