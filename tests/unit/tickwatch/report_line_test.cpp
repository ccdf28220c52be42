// The report line: the arithmetic of an interval and the text it is shown in.
#include <gtest/gtest.h>

#include <string>

#include "clock/report_line.h"
#include "tests/support/fake_platform.h"

namespace {

ClockSample sample(uint64_t system_time, int64_t counter) {
    ClockSample s;
    s.system_time.dwLowDateTime = static_cast<uint32_t>(system_time);
    s.system_time.dwHighDateTime = static_cast<uint32_t>(system_time >> 32);
    s.counter = counter;
    return s;
}

SystemTime utc(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second,
               uint16_t ms) {
    SystemTime t = {};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    t.wMilliseconds = ms;
    t.wDayOfWeek = 6;  // never shown
    return t;
}

// The line for two samples system_ticks and counter_ticks apart.
std::string line_for(int64_t system_ticks, int64_t counter_ticks, uint32_t adjustment = 156250,
                     uint32_t increment = 156250, int64_t frequency = 10'000'000,
                     SystemTime time = utc(2024, 3, 5, 13, 39, 0, 15)) {
    const uint64_t start = 133540715390000000ULL;
    IntervalReport report =
        compute_interval_report(sample(start, 5'000'000'000LL),
                                sample(start + static_cast<uint64_t>(system_ticks), 5'000'000'000LL + counter_ticks),
                                frequency, adjustment, increment);
    char buffer[256];
    format_report_line(buffer, sizeof buffer, time, report);
    return buffer;
}

TEST(ReportLine, ShowsTheUtcTimeTheTwoAdvancesTheirDifferenceAndTheAdjustment) {
    EXPECT_EQ(line_for(10'000'000, 9'999'813), "2024-03-05 13:39:00.0015: 1000.0000  999.9813   +0.0187  156250 (+0) ");
    EXPECT_EQ(line_for(10'312'500, 10'000'012, 156001, 156250, 10'000'000, utc(2024, 3, 5, 13, 39, 1, 46)),
              "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><");
}

TEST(ReportLine, CalendarFieldsAreZeroPaddedAndMillisecondsAlwaysFourDigits) {
    EXPECT_EQ(line_for(10'000'000, 10'000'000, 156250, 156250, 10'000'000, utc(2025, 1, 2, 3, 4, 5, 0)),
              "2025-01-02 03:04:05.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) ");
    EXPECT_EQ(line_for(10'000'000, 10'000'000, 156250, 156250, 10'000'000, utc(999, 12, 31, 23, 59, 59, 999)),
              "0999-12-31 23:59:59.0999: 1000.0000 1000.0000   +0.0000  156250 (+0) ");
}

TEST(ReportLine, MarksOnlyDifferencesBeyondTwentyMillisecondsEitherWay) {
    // 1020 ms against 1000 ms: exactly 20.0, no mark; one tick more is beyond.
    EXPECT_EQ(line_for(10'200'000, 10'000'000).substr(25), " 1020.0000 1000.0000  +20.0000  156250 (+0) ");
    EXPECT_EQ(line_for(10'200'001, 10'000'000).substr(25), " 1020.0001 1000.0000  +20.0001  156250 (+0) ><");
    EXPECT_EQ(line_for(9'800'000, 10'000'000).substr(25), "  980.0000 1000.0000  -20.0000  156250 (+0) ");
    EXPECT_EQ(line_for(9'799'999, 10'000'000).substr(25), "  979.9999 1000.0000  -20.0001  156250 (+0) ><");
    // Beyond by less than the fourth decimal shows: still marked.
    IntervalReport report = compute_interval_report(sample(0, 0), sample(10'200'000, 9'999'999), 10'000'000, 0, 0);
    EXPECT_STREQ(report.marker, "><");
}

TEST(ReportLine, ASteppedClockShowsTheStepEitherWay) {
    // Set back and forward by a second, an hour and 10^8 s, within a second.
    EXPECT_EQ(line_for(-10'000'000, 10'000'000).substr(25), " -1000.0000 1000.0000 -2000.0000  156250 (+0) ><");
    EXPECT_EQ(line_for(20'000'000, 10'000'000).substr(25), " 2000.0000 1000.0000 +1000.0000  156250 (+0) ><");
    EXPECT_EQ(line_for(10'000'000 - 36'000'000'000LL, 10'000'000).substr(25),
              " -3599000.0000 1000.0000 -3600000.0000  156250 (+0) ><");
    EXPECT_EQ(line_for(36'010'000'000LL, 10'000'000).substr(25),
              " 3601000.0000 1000.0000 +3600000.0000  156250 (+0) ><");
    EXPECT_EQ(line_for(10'000'000 - 1'000'000'000'000'000LL, 10'000'000).substr(25),
              " -99999999000.0000 1000.0000 -100000000000.0000  156250 (+0) ><");
    EXPECT_EQ(line_for(1'000'000'010'000'000LL, 10'000'000).substr(25),
              " 100000001000.0000 1000.0000 +100000000000.0000  156250 (+0) ><");
    // The counter's delta is signed too.
    EXPECT_EQ(line_for(10'000'000, -10'000'000).substr(25), " 1000.0000 -1000.0000 +2000.0000  156250 (+0) ><");
}

TEST(ReportLine, DeltasComeFromIntegerDifferencesNotFromAbsoluteReadings) {
    // Readings this large lose their last digits as doubles; their
    // differences do not.
    const uint64_t late = 0x7FFFFFFFFFFFFFF0ULL - 10'000'001ULL;
    const int64_t counter = 0x3FFFFFFFFFFFFFFFLL;
    IntervalReport report = compute_interval_report(
        sample(late, counter), sample(late + 10'000'001, counter + 10'000'001), 10'000'000, 156250, 156250);
    EXPECT_DOUBLE_EQ(report.system_time_delta_ms, 1000.0001);
    EXPECT_DOUBLE_EQ(report.counter_delta_ms, 1000.0001);

    // A low half that carries into the high one, and one that borrows.
    const uint64_t carry = 0x00000001FFFFFFFFULL;
    report = compute_interval_report(sample(carry, 0), sample(carry + 1, 3), 3'000'000'000LL, 0, 0);
    EXPECT_DOUBLE_EQ(report.system_time_delta_ms, 0.0001);
    EXPECT_DOUBLE_EQ(report.counter_delta_ms, 1e-6);
    report = compute_interval_report(sample(carry + 5, 0), sample(carry - 4, 0), 3'000'000'000LL, 0, 0);
    EXPECT_DOUBLE_EQ(report.system_time_delta_ms, -0.0009);
}

TEST(ReportLine, CounterDeltaFollowsTheFrequency) {
    EXPECT_EQ(line_for(10'000'000, 3'000'000'000LL, 156250, 156250, 3'000'000'000LL).substr(25),
              " 1000.0000 1000.0000   +0.0000  156250 (+0) ");
    EXPECT_EQ(line_for(10'000'000, 3'579'545, 156250, 156250, 3'579'545).substr(25),
              " 1000.0000 1000.0000   +0.0000  156250 (+0) ");
    // A counter that stood still, and two clocks that both did.
    for (int64_t frequency : {10'000'000LL, 3'000'000'000LL}) {
        EXPECT_EQ(line_for(10'000'000, 0, 156250, 156250, frequency).substr(25),
                  " 1000.0000    0.0000 +1000.0000  156250 (+0) ><");
        EXPECT_EQ(line_for(0, 0, 156250, 156250, frequency).substr(25), "    0.0000    0.0000   +0.0000  156250 (+0) ");
    }
    // An hour, and a hundred, at 10 MHz and at 3 GHz.
    EXPECT_EQ(line_for(36'000'000'000LL, 36'000'000'000LL).substr(25),
              " 3600000.0000 3600000.0000   +0.0000  156250 (+0) ");
    EXPECT_EQ(line_for(36'000'000'000LL, 10'800'000'000'000LL, 156250, 156250, 3'000'000'000LL).substr(25),
              " 3600000.0000 3600000.0000   +0.0000  156250 (+0) ");
    EXPECT_EQ(line_for(3'600'000'000'000LL, 3'600'000'000'000LL).substr(25),
              " 360000000.0000 360000000.0000   +0.0000  156250 (+0) ");
    EXPECT_EQ(line_for(3'600'000'000'000LL, 1'080'000'000'000'000LL, 156250, 156250, 3'000'000'000LL).substr(25),
              " 360000000.0000 360000000.0000   +0.0000  156250 (+0) ");
}

TEST(ReportLine, ArithmeticIsInDoubleOnEveryBuild) {
    // Differences that lie a hair from a rounding boundary of the fourth
    // decimal, at 1 GHz and 3 GHz: extended precision rounds them the other way.
    EXPECT_EQ(line_for(10'002'503, 1'008'968'750, 156250, 156250, 1'000'000'000LL).substr(25),
              " 1000.2503 1008.9688   -8.7184  156250 (+0) ");
    EXPECT_EQ(line_for(9'998'092, 2'985'302'550LL, 156250, 156250, 3'000'000'000LL).substr(25),
              "  999.8092  995.1009   +4.7083  156250 (+0) ");
    EXPECT_EQ(line_for(10'008'832, 3'003'015'150LL, 156250, 156250, 3'000'000'000LL).substr(25),
              " 1000.8832 1001.0050   -0.1218  156250 (+0) ");
}

TEST(ReportLine, AdjustmentIsShownSignedAndItsOffsetIn32BitArithmetic) {
    EXPECT_EQ(line_for(10'000'000, 10'000'000, 156300, 156250).substr(55), "  156300 (+50) ");
    EXPECT_EQ(line_for(10'000'000, 10'000'000, 0, 0xFFFFFFFFu).substr(55), "  0 (+1) ");
    EXPECT_EQ(line_for(10'000'000, 10'000'000, 0x80000000u, 0).substr(55), "  -2147483648 (-2147483648) ");
    EXPECT_EQ(line_for(10'000'000, 10'000'000, 100, 0x80000064u).substr(55), "  100 (-2147483648) ");
}

TEST(ReportLine, FormattingIsBoundedByTheBuffer) {
    IntervalReport report = compute_interval_report(sample(0, 0), sample(10'000'000, 10'000'000), 10'000'000, 1, 1);
    char buffer[16];
    int length = format_report_line(buffer, sizeof buffer, utc(2024, 3, 5, 13, 39, 0, 15), report);
    EXPECT_EQ(length, 64);
    EXPECT_STREQ(buffer, "2024-03-05 13:3");
}

}  // namespace
