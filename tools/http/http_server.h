#pragma once
// The monitor's embedded HTTP server: the status page (embedded files),
// /metrics, /api/state, /api/alarms and /api/history, all read from snapshots
// of the site model and from the history database on a connection of its own.
// Read-only: it answers GET and HEAD only. With a user and a password hash
// set, every path asks for basic authentication.
//
// One thread serves every connection with asynchronous I/O, so a slow or
// hostile client costs a socket and a timer, never a thread; history reads
// and password checks run on one worker thread beside it. Connections are
// capped in all and per client address, and each request has a deadline as
// a whole (HttpSettings). Nothing here can hold up the poll.
#include <memory>
#include <string>

#include "basic_auth.h"
#include "http_settings.h"
#include "site_model.h"

namespace http {

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
    // Connections held now (what the caps count).
    int OpenConnections() const;
    // Returns once no thread of the server runs and no new connection is
    // taken; connections still open are closed with the server.
    void Stop();

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
    int port_ = 0;
};

}  // namespace http
