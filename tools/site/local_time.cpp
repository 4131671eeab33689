#include "local_time.h"

namespace site {

std::string LocalIsoTimeAt(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

std::string LocalIsoTime() { return LocalIsoTimeAt(std::time(nullptr)); }

}  // namespace site
