#include "event_log.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <sstream>

#include "local_time.h"

#include "float_json.h"

namespace events {

namespace {
// Length of the UTF-8 sequence at `s`, or 0 when it is not a valid one.
size_t Utf8SequenceAt(const unsigned char* s, size_t left) {
    if (s[0] < 0x80) return 1;
    const size_t n = s[0] >= 0xF0 && s[0] <= 0xF4 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC2 ? 2 : 0;
    if (n == 0 || n > left || s[0] > 0xF4) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0;
    }
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    if ((s[0] == 0xE0 && s[1] < 0xA0) || (s[0] == 0xED && s[1] > 0x9F) ||
        (s[0] == 0xF0 && s[1] < 0x90) || (s[0] == 0xF4 && s[1] > 0x8F)) {
        return 0;
    }
    return n;
}

// Device bytes (a model text, a broken frame) need not be UTF-8: every byte
// that starts no valid sequence becomes U+FFFD, so each line stays valid JSON.
void MakeValidUtf8(Json::Value& v) {
    if (v.isString()) {
        const std::string text = v.asString();
        const auto* s = reinterpret_cast<const unsigned char*>(text.data());
        std::string out;
        bool changed = false;
        for (size_t i = 0; i < text.size();) {
            const size_t n = Utf8SequenceAt(s + i, text.size() - i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                changed = true;
                ++i;
            } else {
                out.append(text, i, n);
                i += n;
            }
        }
        if (changed) v = out;
    } else if (v.isArray() || v.isObject()) {
        for (auto& member : v) MakeValidUtf8(member);
    }
}
}  // namespace

namespace {
std::atomic<bool> g_reopen{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
}  // namespace

EventLog::~EventLog() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    if (fd_ >= 0) ::close(fd_);
}

void EventLog::RequestReopen() { g_reopen = true; }

bool EventLog::Open(const std::string& path, std::string& error, EventFileSettings settings) {
    if (path.empty()) return true;
    path_ = path;
    settings_ = std::move(settings);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;  // readable texts; MakeValidUtf8 keeps the file valid
    site::SetJsonDigits(builder);  // floats as site::FloatJson gives them
    writer_.reset(builder.newStreamWriter());
    if (!OpenFile(error)) return false;
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "events");  // as top -H and ps -L show it
        Run();
    });
    return true;
}

bool EventLog::OpenFile(std::string& error) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        error = "cannot write the event file " + path_ + ": " + std::strerror(errno);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return false;
    }
    // A device or a pipe (/dev/full, a fifo) is written to but never rotated.
    regular_ = S_ISREG(st.st_mode);
    size_ = regular_ ? static_cast<uint64_t>(st.st_size) : 0;
    if (regular_) DropCutLine();
    return true;
}

// A kill during a write of several pages can leave the last line cut off
// (the kernel stops a write between pages on a fatal signal). Appending
// after it would glue two events together, so the cut line is dropped.
void EventLog::DropCutLine() {
    char block[4096];
    uint64_t end = size_;
    while (end > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(end, sizeof block));
        const ssize_t n = ::pread(fd_, block, want, static_cast<off_t>(end - want));
        if (n != static_cast<ssize_t>(want)) return;  // unreadable: leave it as it is
        const void* newline = ::memrchr(block, '\n', want);
        if (newline != nullptr) {
            end -= want - (static_cast<const char*>(newline) - block) - 1;
            break;
        }
        end -= want;
    }
    if (end != size_ && ::ftruncate(fd_, static_cast<off_t>(end)) == 0) size_ = end;
}

bool EventLog::Omitted(const char* event) const {
    for (const std::string& kind : settings_.omit) {
        if (kind == event) return true;
    }
    return false;
}

// FILE becomes FILE.1, FILE.1 becomes FILE.2 and so on; the oldest past
// `keep` is overwritten by the rename. A rename that fails leaves the file
// growing rather than losing events.
void EventLog::RotateIfFull(size_t lineBytes) {
    if (!regular_ || settings_.maxBytes == 0 || size_ == 0 ||
        size_ + lineBytes <= settings_.maxBytes) {
        return;
    }
    for (int k = settings_.keep - 1; k >= 1; --k) {
        const std::string from = path_ + "." + std::to_string(k);
        ::rename(from.c_str(), (path_ + "." + std::to_string(k + 1)).c_str());
    }
    const bool moved = settings_.keep > 0 ? ::rename(path_.c_str(), (path_ + ".1").c_str()) == 0
                                          : ::unlink(path_.c_str()) == 0;
    std::string error;
    if (moved && !OpenFile(error)) std::fprintf(stderr, "trm27k-monitor: %s\n", error.c_str());
}

// One write per line; a short write is cut back off, so a reader never
// meets half a line.
bool EventLog::Append(const std::string& line) {
    if (fd_ < 0) {
        ReportFailure(EBADF);
        return false;
    }
    const ssize_t n = ::write(fd_, line.data(), line.size());
    if (n == static_cast<ssize_t>(line.size())) {
        size_ += line.size();
        return true;
    }
    const int cause = n < 0 ? errno : ENOSPC;
    if (n > 0 && (!regular_ || ::ftruncate(fd_, static_cast<off_t>(size_)) != 0)) {
        size_ += static_cast<uint64_t>(n);  // could not take it back: at least keep count
    }
    ReportFailure(cause);
    return false;
}

void EventLog::ReportFailure(int cause) {
    ++lost_;
    lastFailure_ = std::strerror(cause);
    if (lostSinceWrite_++ == 0 && onFailure_) onFailure_(lastFailure_);
    if (std::find(causesReported_.begin(), causesReported_.end(), cause) != causesReported_.end()) {
        return;
    }
    causesReported_.push_back(cause);
    std::fprintf(stderr, "trm27k-monitor: cannot write the event file %s: %s (lines are counted "
                 "as lost; further failures of this kind are only counted)\n", path_.c_str(),
                 lastFailure_.c_str());
}

std::string EventLog::Line(const char* event, Json::Value fields) {
    Json::Value line(Json::objectValue);
    line["event"] = event;
    line["time"] = site::LocalIsoTime();
    line["t_ms"] = static_cast<Json::Int64>(MonotonicMs());
    for (const auto& name : fields.getMemberNames()) line[name] = fields[name];
    MakeValidUtf8(line);
    std::ostringstream text;
    std::lock_guard<std::mutex> lock(formatMutex_);  // the writer is shared
    writer_->write(line, &text);
    text << '\n';
    return text.str();
}

void EventLog::Write(const char* event, Json::Value fields) {
    if (path_.empty() || Omitted(event)) return;
    std::string line = Line(event, std::move(fields));
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (queuedBytes_ + line.size() > kMaxQueuedBytes) {
            ++dropped_;
            return;
        }
        queuedBytes_ += line.size();
        queue_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void EventLog::Flush() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

uint64_t EventLog::Lost() {
    Flush();
    std::lock_guard<std::mutex> lock(queueMutex_);
    return lost_ + dropped_;
}

// The file's thread: takes the queued lines and writes them one by one.
void EventLog::Run() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) break;  // stopping, and everything is written
        std::deque<std::string> lines;
        lines.swap(queue_);
        queuedBytes_ = 0;
        const uint64_t dropped = dropped_;
        dropped_ = 0;
        writing_ = true;
        lock.unlock();
        if (dropped > 0) {
            lost_ += dropped;
            lostSinceWrite_ += dropped;
            lastFailure_ = "the disk could not keep up";
        }
        for (const std::string& line : lines) WriteLine(line);
        lock.lock();
        writing_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
    writing_ = false;
    idle_.notify_all();
}

void EventLog::WriteLine(const std::string& line) {
    if (g_reopen.exchange(false)) {
        std::string error;
        if (!OpenFile(error)) std::fprintf(stderr, "trm27k-monitor: %s\n", error.c_str());
    }
    if (lostSinceWrite_ > 0 && fd_ >= 0) {
        Json::Value v(Json::objectValue);
        v["target"] = "events";
        v["state"] = "resumed";
        v["lost"] = static_cast<Json::UInt64>(lostSinceWrite_);
        v["reason"] = lastFailure_;
        const std::string notice = Line("storage", std::move(v));
        RotateIfFull(notice.size());
        if (Append(notice)) {
            lostSinceWrite_ = 0;
        } else {
            --lost_;  // the notice is no event of its own
            --lostSinceWrite_;
        }
    }
    RotateIfFull(line.size());
    if (Append(line)) lostSinceWrite_ = 0;
}

int64_t MonotonicMs() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start).count();
}

}  // namespace events
