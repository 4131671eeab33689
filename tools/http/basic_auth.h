#pragma once
// HTTP basic authentication against one user and a crypt(3) hash of the
// password (as `mkpasswd` makes it), so the configuration never holds the
// password itself. Once a credential has been verified its header is kept,
// so a page polling every second does not pay for a slow hash each time.
#include <mutex>
#include <string>

namespace http {

// "" when `text` is a hash crypt(3) verifies with a current method, else why not.
std::string PasswordHashProblem(const std::string& text);

class BasicAuth {
public:
    BasicAuth(std::string user, std::string hash) : user_(std::move(user)), hash_(std::move(hash)) {}
    // True when the Authorization header's value carries the user and a
    // password matching the hash.
    bool Allows(const std::string& authorization);
    // True when the header is the one last accepted: Allows then answers at
    // once, without the slow hash.
    bool IsKnown(const std::string& authorization);

private:
    bool Verify(const std::string& credentials) const;

    const std::string user_;
    const std::string hash_;
    std::mutex mutex_;
    std::string accepted_;  // the last header value that passed
};

// The realm announced with a 401.
constexpr const char* kAuthChallenge = "Basic realm=\"trm27k\", charset=\"UTF-8\"";

}  // namespace http
