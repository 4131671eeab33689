#pragma once
// A real mosquitto broker for tests, on a free loopback port, started and
// stopped by process id; it keeps its sessions across a restart (persistence),
// so a subscriber misses nothing while the broker is down. And a subscriber
// on libmosquitto that records every message it receives.
#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testing_support {

// A loopback port free at this moment: SOCK_STREAM for TCP, SOCK_DGRAM for UDP.
inline int FreePort(int type = SOCK_STREAM) {
    const int s = ::socket(AF_INET, type, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(s);
    return ntohs(addr.sin_port);
}

inline bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return ok;
}

inline std::string MosquittoPath() {
    for (const char* p : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto"}) {
        if (::access(p, X_OK) == 0) return p;
    }
    return "";
}

class Broker {
public:
    // `dir` holds the config and the persistence file.
    Broker(const std::string& dir) : dir_(dir), port_(FreePort()) {
        // Started as root, mosquitto drops to its own user, which must still
        // write its log and persistence file here.
        ::chmod(dir_.c_str(), 0777);
        std::ofstream(dir_ + "/mosquitto.conf")
            << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
            << "persistence true\npersistence_location " << dir_ << "/\n"
            // A slow subscriber in a loaded test run must not lose messages
            // to the broker's own queue limit (1000 by default).
            << "max_queued_messages 0\n"
            << "log_dest file " << dir_ << "/mosquitto.log\n";
    }
    ~Broker() { Stop(); }
    int Port() const { return port_; }

    bool Start() {
        const std::string path = MosquittoPath();
        if (path.empty()) return false;
        const std::string conf = dir_ + "/mosquitto.conf";
        char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("-c"),
                        const_cast<char*>(conf.c_str()), nullptr};
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv, environ) != 0) return false;
        for (int k = 0; k < 200; ++k) {
            if (Accepts(port_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    std::string dir_;
    int port_;
    pid_t pid_ = -1;
};

struct Received {
    std::string topic;
    std::string payload;
    bool retained;
};

// Subscribes to `filters` with QoS 1 on a lasting session, and again after
// every reconnect.
class Subscriber {
public:
    Subscriber(int port, std::vector<std::string> filters, const std::string& id = "trm27k-test-sub")
        : filters_(std::move(filters)) {
        mosquitto_lib_init();
        client_ = mosquitto_new(id.c_str(), false, this);
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
            if (rc != 0) return;
            for (const auto& f : static_cast<Subscriber*>(self)->filters_) mosquitto_subscribe(m, nullptr, f.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mutex_);
            ++s->granted_;
            s->changed_.notify_all();
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mutex_);
            s->messages_.push_back({m->topic, std::string(static_cast<const char*>(m->payload),
                                                          static_cast<size_t>(m->payloadlen)), m->retain});
            s->changed_.notify_all();
        });
        mosquitto_connect_async(client_, "127.0.0.1", port, 10);
        mosquitto_loop_start(client_);
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    std::vector<Received> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    // Waits up to `seconds` until the broker granted every filter: from then
    // on nothing published is missed, not only the retained messages.
    bool WaitSubscribed(double seconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return granted_ >= filters_.size(); });
    }
    // Waits up to `seconds` until `done` holds for the messages so far.
    bool WaitFor(double seconds, const std::function<bool(const std::vector<Received>&)>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return done(messages_); });
    }

private:
    std::vector<std::string> filters_;
    mosquitto* client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> messages_;
    size_t granted_ = 0;  // subscriptions the broker acknowledged
};

inline size_t CountTopic(const std::vector<Received>& all, const std::string& topic) {
    size_t n = 0;
    for (const auto& m : all) n += m.topic == topic;
    return n;
}

}  // namespace testing_support
