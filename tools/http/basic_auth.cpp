#include "basic_auth.h"

#include <crypt.h>

#include <memory>

namespace http {

namespace {
// Equal without telling by its timing how much of it matched.
bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t k = 0; k < a.size(); ++k) diff |= static_cast<unsigned char>(a[k] ^ b[k]);
    return diff == 0;
}

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Standard base64 with its padding; false on anything else.
bool DecodeBase64(const std::string& text, std::string& out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    out.clear();
    for (size_t k = 0; k < text.size(); k += 4) {
        const bool last = k + 4 == text.size();
        const int pad = last ? (text[k + 3] == '=') + (text[k + 2] == '=') : 0;
        if (pad == 1 && text[k + 2] == '=') return false;  // "x=y=" is no padding
        unsigned int bits = 0;
        for (int j = 0; j < 4 - pad; ++j) {
            const int v = Sextet(text[k + static_cast<size_t>(j)]);
            if (v < 0) return false;
            bits |= static_cast<unsigned int>(v) << (18 - 6 * j);
        }
        out.push_back(static_cast<char>(bits >> 16));
        if (pad < 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (pad < 1) out.push_back(static_cast<char>(bits & 0xFF));
    }
    return true;
}
}  // namespace

std::string PasswordHashProblem(const std::string& text) {
    if (text.empty() || text.front() != '$') {
        return "wants a crypt(3) hash such as mkpasswd makes (it starts with '$'), never the password";
    }
    if (crypt_checksalt(text.c_str()) != CRYPT_SALT_OK) {
        return "is not a hash of a method this system's crypt(3) accepts";
    }
    // A whole hash gives a result of its own length; a bare setting or a
    // broken hash gives another length or crypt's failure token ("*0").
    auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_r("", text.c_str(), data.get());
    if (hashed == nullptr || hashed[0] == '*' || std::string(hashed).size() != text.size()) {
        return "is not a whole crypt(3) hash (as mkpasswd prints it)";
    }
    return "";
}

bool BasicAuth::IsKnown(const std::string& authorization) {
    std::lock_guard<std::mutex> lock(mutex_);
    return !accepted_.empty() && SameText(accepted_, authorization);
}

bool BasicAuth::Allows(const std::string& authorization) {
    constexpr size_t kPrefix = 6;  // "Basic "
    if (authorization.size() <= kPrefix || authorization.size() > 1024 ||
        authorization.compare(0, kPrefix, "Basic ") != 0) {
        return false;
    }
    if (IsKnown(authorization)) return true;
    std::string credentials;
    if (!DecodeBase64(authorization.substr(kPrefix), credentials) || !Verify(credentials)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    accepted_ = authorization;
    return true;
}

bool BasicAuth::Verify(const std::string& credentials) const {
    const size_t colon = credentials.find(':');
    if (colon == std::string::npos || credentials.find('\0') != std::string::npos) return false;
    const std::string password = credentials.substr(colon + 1);
    // crypt_data is 32 KiB: on the heap rather than a pool thread's stack.
    auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_r(password.c_str(), hash_.c_str(), data.get());
    const bool userMatches = SameText(credentials.substr(0, colon), user_);
    return hashed != nullptr && SameText(hashed, hash_) && userMatches;
}

}  // namespace http
