// UTC times: the one writer of ISO text, and the time window that the one
// reader of a date and time reads (as log_line_test.cpp's lines do).
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "analyze/parse/time_window.h"
#include "analyze/parse/utc_time.h"

namespace {

std::string iso(int64_t utc_ms) {
    char text[ISO_TIME_SIZE];
    format_iso_time(text, sizeof text, utc_ms);
    return text;
}

// Rows a second apart across midnights, before 1970 too: the cached date
// is the one worked out afresh.
TEST(AnalyzeUtcTime, WritesIsoTimesOfAnyYearWithOrWithoutTheDayCache) {
    EXPECT_EQ(iso(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(iso(days_from_civil(10000, 1, 1) * MS_PER_DAY), "10000-01-01T00:00:00.000Z");
    EXPECT_EQ(iso(days_from_civil(-1, 12, 31) * MS_PER_DAY + 1), "-001-12-31T00:00:00.001Z");
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

// The first and the last instant of what text names, or NO_TIME.
const std::pair<int64_t, int64_t> NO_TIME = {1, 0};
std::pair<int64_t, int64_t> edges(const char *text) {
    int64_t first = 0;
    int64_t last = 0;
    const bool read = parse_window_time(text, WindowEdge::first, first);
    return read && parse_window_time(text, WindowEdge::last, last) ? std::pair(first, last) : NO_TIME;
}

// Each form: the last instant takes the whole second, minute or day named.
TEST(AnalyzeTimeWindow, ReadsUtcTimesInEveryFormToTheirFirstAndLastInstant) {
    const int64_t t = 1'709'645'940'000;  // 2024-03-05 13:39:00
    const int64_t day = days_from_civil(2024, 3, 5) * MS_PER_DAY;
    const int64_t new_year = days_from_civil(2017, 1, 1) * MS_PER_DAY;
    for (const char *second :
         {"2024-03-05T13:39:00", "2024-03-05T13:39:00Z", "2024-03-05t13:39:00z", "2024-03-05 13:39:00"}) {
        EXPECT_EQ(edges(second), std::pair(t, t + 999)) << second;
    }
    EXPECT_EQ(edges("2024-03-05T13:39"), std::pair(t, t + 59'999));
    EXPECT_EQ(edges("2024-03-05"), std::pair(day, day + MS_PER_DAY - 1));
    EXPECT_EQ(edges("2024-03-05T13:39:00.5"), std::pair(t + 500, t + 599));
    EXPECT_EQ(edges("2024-03-05T13:39:00.015Z"), std::pair(t + 15, t + 15));
    EXPECT_EQ(edges("2024-03-05 13:39:00.0015"), std::pair(t + 15, t + 15)) << "as the log writes 15 ms";
    EXPECT_EQ(edges("2016-12-31T23:59:60"), std::pair(new_year, new_year + 999));
    EXPECT_EQ(edges("1970-01-01T00:00:00Z"), std::pair(int64_t{0}, int64_t{999}));
    for (const char *bad :
         {"", "2024-03-05Z", "2024-03-05T", "2024-03-05T13", "2024-03-05T13:3", "2024-03-05T13:39:0",
          "2024-03-05T13:39:00.", "2024-03-05T13:39:00.1234", "2024-03-05T13:39:00,5", "2024-03-05T13:39:00+01:00",
          "2023-02-29T00:00:00", "2024-03-05T13:39:60", "2024-03-05_13:39:00", "2024-3-05T13:39:00",
          "+024-03-05T13:39:00", "2024-03-05T13:39:00ZZ"}) {
        EXPECT_EQ(edges(bad), NO_TIME) << bad;
    }
}

// (Its edges are within: AnalyzePipeline's window.) A sample whose time
// tickwatch could not tell is within no limited window, not even one that
// is only limited after it.
TEST(AnalyzeTimeWindow, HoldsNoUnknownTime) {
    EXPECT_TRUE(is_within(TimeWindow{}, UNKNOWN_TIME_MS));
    EXPECT_FALSE(is_within(TimeWindow{false, true, 0, 2000}, UNKNOWN_TIME_MS));
    EXPECT_TRUE(is_within(TimeWindow{false, true, 0, 2000}, 2000));
}

}  // namespace
