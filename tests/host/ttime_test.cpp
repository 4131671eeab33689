// The 7-byte time stamp and the age of data.
#include <gtest/gtest.h>

#include "ttime.h"

#include <boost/date_time/posix_time/time_parsers.hpp>

using boost::posix_time::ptime;
using boost::posix_time::seconds;
using boost::posix_time::time_from_string;

TEST(TTime, YearLittleEndianThenMonthDayHourMinuteSecond) {
    const ttime_bytes t = get_ttime(time_from_string("2026-12-08 16:05:09"));
    const ttime_bytes expected{0xEA, 0x07, 12, 8, 16, 5, 9};
    EXPECT_EQ(expected, t);
}

TEST(TTime, NotADateTimeGivesZeros) {
    EXPECT_EQ(ttime_bytes{}, get_ttime(ptime()));
}

TEST(TTime, SecondsSinceIsSignedAndUnsetIsAncient) {
    EXPECT_EQ(60, host_seconds_since(host_local_now() - seconds(60)));
    EXPECT_LT(host_seconds_since(host_local_now() + seconds(30)), 0);
    EXPECT_GT(host_seconds_since(ptime()), 1'000'000'000);
}
