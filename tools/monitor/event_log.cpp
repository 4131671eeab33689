#include "event_log.h"

#include <chrono>
#include <ctime>
#include <sstream>

namespace monitor {

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

EventLog::~EventLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool EventLog::Open(const std::string& path, std::string& error) {
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        error = "cannot write the event file " + path;
        return false;
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;  // readable texts; MakeValidUtf8 keeps the file valid
    builder["precision"] = 7;     // values are 32-bit floats: about seven digits
    writer_.reset(builder.newStreamWriter());
    return true;
}

void EventLog::Write(const char* event, Json::Value fields) {
    if (file_ == nullptr) return;
    Json::Value line(Json::objectValue);
    line["event"] = event;
    line["time"] = LocalIsoTime();
    line["t_ms"] = static_cast<Json::Int64>(MonotonicMs());
    for (const auto& name : fields.getMemberNames()) line[name] = fields[name];
    MakeValidUtf8(line);
    std::ostringstream text;
    std::lock_guard<std::mutex> lock(mutex_);
    writer_->write(line, &text);
    text << '\n';
    const std::string out = text.str();
    std::fwrite(out.data(), 1, out.size(), file_);
    std::fflush(file_);
}

int64_t MonotonicMs() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start).count();
}

std::string LocalIsoTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

std::string HexText(const uint8_t* data, size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0xF];
    }
    return out;
}

}  // namespace monitor
