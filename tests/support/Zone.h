#pragma once
// Runs a test's body in another time zone (a POSIX TZ rule, so no zone files
// are needed), and puts the previous zone back afterwards.
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace testing_support {

class ZoneScope {
public:
    explicit ZoneScope(const char* rule) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", rule, 1);
        tzset();
    }
    ~ZoneScope() {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace testing_support
