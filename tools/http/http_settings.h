#pragma once
// What the HTTP server is told by the program: where to listen, what to
// read and how much of itself any client may take.
#include <string>

namespace http {

struct HttpSettings {
    std::string address = "127.0.0.1";
    int port = 0;                // 0: any free port (tests)
    std::string version;         // for trm27k_build_info
    std::string historyPath;     // empty or ":memory:": /api/history answers 404
    int historyRows = 1000;      // rows per history answer at most
    int timeoutSeconds = 5;      // a whole request (headers and body) must arrive in this, an answer leave in it
    int maxConnections = 256;    // open connections at once; past it a new one is closed at once
    int maxPerAddress = 16;      // open connections from one client address at once
    int requestsPerConnection = 20;  // then the connection is closed, so no client keeps one forever
    std::string authUser;        // empty: no authentication
    std::string authHash;        // crypt(3) hash of the user's password
    int recentAlarms = 50;       // raises and clears in /api/alarms at most
};

// "ADDR:PORT" or ":PORT" (loopback) into the settings; false on a bad text.
bool ParseListen(const std::string& text, HttpSettings& out);

}  // namespace http
