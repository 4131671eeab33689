#pragma once
// One request to its answer: authentication first when it is set, then GET
// and HEAD only, then the mounted folders, the API and metrics, the page's
// embedded files, and a JSON error for anything else. Answers come from
// snapshots of the site model; reading the history database or verifying a
// password may take long, so IsSlow tells the server to run those off the
// thread that serves every connection.
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <memory>
#include <string>

#include "basic_auth.h"
#include "file_mount.h"
#include "history_reader.h"
#include "http_settings.h"
#include "site_model.h"
#include "target.h"

namespace http {

namespace beast_http = boost::beast::http;
using Request = beast_http::request<beast_http::string_body>;
using Response = beast_http::response<beast_http::string_body>;

struct RouteRow;

class Router {
public:
    Router(const site::SiteModel& model, const HttpSettings& settings);

    bool Mount(const std::string& prefix, const std::string& directory) { return mounts_.Add(prefix, directory); }
    // Opens the history database when the settings name one.
    bool OpenHistory(std::string& error);
    bool IsSlow(const Request& request);
    // The whole answer, sized for the wire. History reads are not shared:
    // slow requests come from one thread at a time.
    Response Answer(const Request& request);
    // The answer to a request that could not be read whole (bad syntax, too large).
    static Response Refusal(beast_http::status status);

private:
    static const RouteRow* FindRoute(const std::string& path);
    Response Dispatch(const Request& request);
    Response Page(const Request& request, const std::string& path) const;
    Response Metrics(const Target& target);
    Response State(const Target& target);
    Response Alarms(const Target& target);
    Response History(const Target& target);

    const site::SiteModel& model_;
    const HttpSettings settings_;
    std::unique_ptr<BasicAuth> auth_;
    std::unique_ptr<history::HistoryReader> history_;
    FileMounts mounts_;
};

}  // namespace http
