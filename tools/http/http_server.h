#pragma once
// The monitor's embedded HTTP server: the status page (embedded files),
// /metrics, /api/state, /api/alarms and /api/history, all read from snapshots
// of the site model and from the history database on a connection of its own.
// Read-only: it answers GET and HEAD only. With a user and a password hash
// set, every path asks for basic authentication. It runs on its own small
// thread pool with read and write timeouts, so a slow or hostile client ties
// up at most one of its threads and never the poll.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "basic_auth.h"
#include "history_reader.h"
#include "site_model.h"

namespace httplib {
class Server;
}

namespace http {

struct HttpSettings {
    std::string address = "127.0.0.1";
    int port = 0;                // 0: any free port (tests)
    std::string version;         // for trm27k_build_info
    std::string historyPath;     // empty or ":memory:": /api/history answers 404
    int historyRows = 1000;      // rows per history answer at most
    int threads = 4;             // clients served at once
    int timeoutSeconds = 5;      // per read and per write of a client
    std::string authUser;        // empty: no authentication
    std::string authHash;        // crypt(3) hash of the user's password
    int recentAlarms = 50;       // raises and clears in /api/alarms at most
};

class HttpServer {
public:
    HttpServer(const site::SiteModel& model, HttpSettings settings);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Serves files under `directory` at `prefix`; call before Start. The
    // status page itself is embedded and needs no folder.
    bool Mount(const std::string& prefix, const std::string& directory);
    // Binds and starts serving; false with a reason when the address is taken or bad.
    bool Start(std::string& error);
    int Port() const { return port_; }
    void Stop();

private:
    void Route();
    void RoutePage();
    void RequireAuth();

    const site::SiteModel& model_;
    HttpSettings settings_;
    std::unique_ptr<httplib::Server> server_;
    std::unique_ptr<history::HistoryReader> history_;
    std::unique_ptr<BasicAuth> auth_;
    std::mutex historyMutex_;  // one history query at a time on the reader's connection
    std::atomic<bool> listenEnded_{false};
    std::thread thread_;
    int port_ = 0;
};

// "ADDR:PORT" or ":PORT" (loopback) into the settings; false on a bad text.
bool ParseListen(const std::string& text, HttpSettings& out);

}  // namespace http
