// The time window of --from and --to.
#include <gtest/gtest.h>

#include "analyze/parse/time_window.h"

namespace {

TEST(AnalyzeTimeWindow, ReadsUtcTimesWithOrWithoutZ) {
    int64_t ms = 0;
    ASSERT_TRUE(parse_window_time("2024-03-05T13:39:00", ms));
    EXPECT_EQ(ms, 1'709'645'940'000);
    ASSERT_TRUE(parse_window_time("2024-02-29T23:59:59Z", ms));
    EXPECT_EQ(ms, days_from_civil(2024, 3, 1) * MS_PER_DAY - 1000);
    ASSERT_TRUE(parse_window_time("1970-01-01T00:00:00Z", ms));
    EXPECT_EQ(ms, 0);
    // (Dates and times that do not exist: utc_time_test.cpp.)
    for (const char *bad :
         {"", "2024-03-05", "2024-03-05 13:39:00", "2024-03-05T13:39", "2024-03-05T13:39:00.5",
          "2024-03-05T13:39:00+01:00", "2024-03-05T13:39:00z", "2023-02-29T00:00:00", "2024-03-05T13:39:60",
          "2024-3-05T13:39:00", "+024-03-05T13:39:00", "2024-03-05T13:39:00ZZ"}) {
        EXPECT_FALSE(parse_window_time(bad, ms)) << bad;
    }
}

TEST(AnalyzeTimeWindow, HoldsBothEdgesAndNoUnknownTime) {
    const TimeWindow none = {};
    EXPECT_TRUE(is_within(none, UNKNOWN_TIME_MS));
    const TimeWindow window = {true, true, 1000, 2000};
    EXPECT_FALSE(is_within(window, 999));
    EXPECT_TRUE(is_within(window, 1000));
    EXPECT_TRUE(is_within(window, 2000));
    EXPECT_FALSE(is_within(window, 2001));
    EXPECT_FALSE(is_within(window, UNKNOWN_TIME_MS));
    const TimeWindow from_only = {true, false, 1000, 0};
    EXPECT_TRUE(is_within(from_only, INT64_MAX));
    EXPECT_FALSE(is_within(from_only, UNKNOWN_TIME_MS));
}

}  // namespace
