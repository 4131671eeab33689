// Repeated plug-in lines: the first told, repeats counted for a minute, then
// told again with the count; other lines are never held back by them.
#include <gtest/gtest.h>

#include "log_limiter.h"

TEST(LogLimiter, RepeatsAreHeldForAMinuteThenToldWithTheirCount) {
    monitor::LogLimiter limiter;
    const auto t0 = monitor::LogLimiter::Clock::now();
    const std::string count = "PMBusPower:ProcotolError 1 read ac_number is 3, configured ac_number is 2";
    uint64_t held = 99;
    EXPECT_TRUE(limiter.Pass(count, t0, held));
    EXPECT_EQ(0u, held);
    for (int k = 1; k <= 7000; ++k) EXPECT_FALSE(limiter.Pass(count, t0 + std::chrono::milliseconds(k), held));
    EXPECT_TRUE(limiter.Pass("PMBusPower:ProcotolError 1 read ac_number is 1, configured ac_number is 2", t0 + std::chrono::seconds(1), held));
    EXPECT_TRUE(limiter.Pass(count, t0 + std::chrono::seconds(60), held));
    EXPECT_EQ(7000u, held);
    EXPECT_FALSE(limiter.Pass(count, t0 + std::chrono::seconds(61), held));
    EXPECT_TRUE(limiter.Pass(count, t0 + std::chrono::seconds(125), held));
    EXPECT_EQ(1u, held);
}
