#pragma once
// The freshness rule of every child's value query: no answer before the first
// data, none from data 61 seconds old or older. A clock set back counts as fresh.
#include <stdexcept>

#include "SMDVDevice.h"
#include "ttime.h"

namespace child {

constexpr const char* kNotReady = "数据未就绪";
constexpr const char* kStale = "数据已超时";
constexpr const char* kNotProvided = "数据未提供";
constexpr const char* kChannelOutOfRange = "通道参数越界";
constexpr int64_t kStaleAfterSeconds = 61;

inline void RequireFresh(bool dataReady, const boost::posix_time::ptime& updateTime) {
    if (!dataReady) throw std::out_of_range(kNotReady);
    if (host_seconds_since(updateTime) >= kStaleAfterSeconds) throw std::out_of_range(kStale);
}

}  // namespace child
