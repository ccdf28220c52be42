// The one reader of a date and time and the one writer of an ISO time.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "analyze/parse/utc_time.h"

namespace {

std::string iso(int64_t utc_ms) {
    char text[ISO_TIME_SIZE];
    format_iso_time(text, sizeof text, utc_ms);
    return text;
}

TEST(AnalyzeUtcTime, WritesIsoTimesOfAnyYear) {
    EXPECT_EQ(iso(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(iso(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(iso(1709645940015), "2024-03-05T13:39:00.015Z");
    EXPECT_EQ(iso(days_from_civil(2000, 2, 29) * MS_PER_DAY + 86'399'999), "2000-02-29T23:59:59.999Z");
    EXPECT_EQ(iso(days_from_civil(10000, 1, 1) * MS_PER_DAY), "10000-01-01T00:00:00.000Z");
    EXPECT_EQ(iso(days_from_civil(-1, 12, 31) * MS_PER_DAY + 1), "-001-12-31T00:00:00.001Z");
    EXPECT_EQ(iso(UNKNOWN_TIME_MS), "unknown time");
}

// Rows a second apart, across midnights and back before 1970: the cached
// date is the one worked out afresh.
TEST(AnalyzeUtcTime, TheDayCacheGivesTheSameTimes) {
    CivilDayCache cache = NO_CIVIL_DAY;
    for (const int64_t start :
         {int64_t{-5000}, days_from_civil(2024, 2, 29) * MS_PER_DAY - 3500, int64_t{86'399'000}}) {
        for (int64_t t = start; t < start + 10'000; t += 999) {
            char cached[ISO_TIME_SIZE];
            *put_iso_time(cached, civil_from_ms(t, cache)) = '\0';
            EXPECT_EQ(cached, iso(t)) << t;
        }
    }
}

TEST(AnalyzeUtcTime, ReadsADateAndTimeAndOnlyOneThatExists) {
    CivilTime time;
    int64_t ms = 0;
    ASSERT_TRUE(read_date_time("2016-12-31 23:59:60", ' ', time));
    EXPECT_FALSE(ms_from_civil(time, false, ms));
    ASSERT_TRUE(ms_from_civil(time, true, ms)) << "a leap second, where the caller allows one";
    EXPECT_EQ(ms, days_from_civil(2017, 1, 1) * MS_PER_DAY);
    EXPECT_FALSE(read_date_time("2016-12-31T23:59:59", ' ', time)) << "the other separator";
    EXPECT_FALSE(read_date_time("2016-12-31 23:5x:59", ' ', time));
    for (const char *text : {"2023-02-29 00:00:00", "2024-00-01 00:00:00", "2024-01-32 00:00:00", "2024-01-01 24:00:00",
                             "2024-01-01 23:60:00", "2024-01-01 23:58:60"}) {
        ASSERT_TRUE(read_date_time(text, ' ', time)) << text;
        EXPECT_FALSE(ms_from_civil(time, true, ms)) << text;
    }
}

}  // namespace
