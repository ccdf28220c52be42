// Report lines as tickwatch formats them, read back to their values, and the
// other lines a log holds.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <utility>

#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"
#include "clock/report_line.h"
#include "tests/support/report_text.h"

namespace {

LineKind parse(const std::string &line, ReportFields &fields) {
    return parse_log_line(line.data(), line.size(), fields);
}

LineKind kind_of(const std::string &line) {
    ReportFields fields;
    return parse(line, fields);
}

TEST(AnalyzeRoundTrip, LinesFormattedByTickwatchParseBackToTheirValues) {
    std::mt19937_64 random(6);
    auto any = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
    // Ticks between two samples: about a second, steps either way, and
    // anything at all.
    const int64_t tick_ranges[][2] = {
        {9'990'000, 10'010'000}, {-40'000'000'000, 40'000'000'000}, {INT64_MIN, INT64_MAX}};
    const int64_t frequencies[] = {10'000'000, 3'579'545, 3'000'000'000, 1};
    for (int i = 0; i < 30'000; ++i) {
        ClockSample previous = {{static_cast<uint32_t>(any(0, UINT32_MAX)), static_cast<uint32_t>(any(0, 0x7FFFFFFF))},
                                any(0, INT64_MAX / 2)};
        ClockSample current = previous;
        const auto *range = tick_ranges[i % 3];
        const uint64_t later =
            (uint64_t{previous.system_time.dwHighDateTime} << 32 | previous.system_time.dwLowDateTime) +
            static_cast<uint64_t>(any(range[0], range[1]));
        current.system_time = {static_cast<uint32_t>(later), static_cast<uint32_t>(later >> 32)};
        current.counter = previous.counter + any(range[0] / 4, range[1] / 4);
        const uint32_t increment = i % 5 == 0 ? static_cast<uint32_t>(any(0, UINT32_MAX)) : 156250;
        const uint32_t adjustment =
            i % 7 == 0 ? static_cast<uint32_t>(any(0, UINT32_MAX)) : static_cast<uint32_t>(increment - any(-300, 300));
        const IntervalReport report =
            compute_interval_report(previous, current, frequencies[i % 4], adjustment, increment);
        SystemTime utc = {};
        utc.wYear = static_cast<uint16_t>(any(1601, 9999));
        utc.wMonth = static_cast<uint16_t>(any(1, 12));
        utc.wDay = static_cast<uint16_t>(any(1, 28));
        utc.wHour = static_cast<uint16_t>(any(0, 23));
        utc.wMinute = static_cast<uint16_t>(any(0, 59));
        utc.wSecond = static_cast<uint16_t>(any(0, 59));
        utc.wMilliseconds = static_cast<uint16_t>(i % 11 == 0 ? 0 : any(0, 999));
        char buffer[256];
        format_report_line(buffer, sizeof buffer, utc, report);
        const std::string line = buffer;

        ReportFields fields;
        ASSERT_EQ(parse(line, fields), LineKind::report) << line;
        // The same line again from what was read: every field came back.
        ASSERT_EQ(format_parsed_report_line(fields), line);
        ASSERT_EQ(fields.utc_ms, days_from_civil(utc.wYear, utc.wMonth, utc.wDay) * MS_PER_DAY +
                                     ((utc.wHour * 60 + utc.wMinute) * 60 + utc.wSecond) * 1000 + utc.wMilliseconds);
        ASSERT_EQ(fields.marked, std::string(report.marker) == STEP_MARKER);
        ASSERT_EQ(increment_of(fields), increment);
        for (auto [read, shown] : {std::pair{fields.system_ms, report.system_time_delta_ms},
                                   std::pair{fields.counter_ms, report.counter_delta_ms},
                                   std::pair{fields.difference_ms, report.difference_ms}}) {
            ASSERT_NEAR(read, shown, 0.00005 + std::abs(shown) * 1e-15) << line;
        }
        // With CR LF, and without the space that ends an unmarked line.
        ASSERT_EQ(parse(line + "\r", fields), LineKind::report);
        ASSERT_EQ(format_parsed_report_line(fields), line);
        if (line.back() == ' ') {
            ASSERT_EQ(parse(line.substr(0, line.size() - 1), fields), LineKind::report);
            ASSERT_EQ(format_parsed_report_line(fields), line);
        }
    }
}

TEST(AnalyzeLogLine, KnowsTheOtherLinesOfALog) {
    const std::pair<const char *, LineKind> lines[] = {
        {"Kestivar TICKWATCH v1.6", LineKind::banner},
        {"Kestivar TICKWATCH v1.6.0.1 (!)\r", LineKind::banner},
        {"Kestivar TICKWATCH v", LineKind::banner},
        {"Using GetSystemTimePreciseAsFileTime API", LineKind::message},
        {"GetSystemTimePreciseAsFileTime API not supported, falling back to default\r", LineKind::message},
        {"Note: GetSystemTimePreciseAsFileTime API is also available, use -p", LineKind::message},
        {"MM timer resolution: 1..1000000 ms, set to 1 ms", LineKind::message},
        {"Failed to get MM timer caps.", LineKind::message},
        {"unknown parameter: -x", LineKind::message},
        {"", LineKind::empty},
        {"\r", LineKind::empty},
        {"2024-03-05 13:39:0Kestivar TICKWATCH v1.6", LineKind::cut_then_banner},
        {"Using GetSystemTimePreciseAsFileTime API and more", LineKind::unknown},
        {"kestivar tickwatch v1.6", LineKind::unknown},
        {" ", LineKind::unknown},
    };
    for (const auto &[line, kind] : lines) {
        EXPECT_EQ(kind_of(line), kind) << line;
    }
}

TEST(AnalyzeLogLine, ReportLinesMustBeExactlyAsTickwatchWritesThem) {
    const std::string good = "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><";
    ASSERT_EQ(kind_of(good), LineKind::report);
    ASSERT_EQ(kind_of("2024-02-29 23:59:59.0999:  999.9813 1000.0000   -0.0187  156250 (+0) "), LineKind::report);
    const char *const bad[] = {
        "2023-02-29 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><",  // no such day
        "2024-13-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><",
        "2024-03-05 24:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><",
        "2016-12-31 23:58:60.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><",  // a leap second at 23:59 only
        "2024-03-05 13:39:01.1046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><",  // 1046 ms
        "2024-03-05 13:39:01.046: 1031.2500 1000.0012  +31.2488  156001 (-249) ><",
        "2024-03-05 13:39:01.0046: 1031.250 1000.0012  +31.2488  156001 (-249) ><",    // three decimals
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012   31.2488  156001 (-249) ><",   // no sign
        "2024-03-05 13:39:01.0046: 1031.2500  1000.0012 +31.2488  156001 (-249) ><",   // padding moved
        "2024-03-05 13:39:01.0046: 01031.2500 1000.0012  +31.2488  156001 (-249) ><",  // leading zero
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (249) ><",
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-0) ",
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  2147483648 (+0) ",
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488 156001 (-249) ><",
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) >",
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249) >< ",
        "2024-03-05 13:39:01.0046: 1031.2500 1000.0012  +31.2488  156001 (-249)  ",
        "2024-03-05 13:39:01.0046: 1e3 1000.0012  +31.2488  156001 (-249) ><",
        "2024-03-05 13:39:01.0046:       nan 1000.0012  +31.2488  156001 (-249) ><",
        // printf never writes this many digits for a double.
        "2024-03-05 13:39:01.0046: 12345678901234567890123.0000 1000.0012  +31.2488  156001 (-249) ><",
    };
    for (const char *line : bad) {
        // (After a line of that minute, which is then kept.)
        ASSERT_EQ(kind_of(good), LineKind::report);
        EXPECT_EQ(kind_of(line), LineKind::unknown) << line;
    }
    // What tickwatch writes when it cannot tell the time, and a log whose
    // CR LF line ends were converted once more.
    ReportFields fields;
    ASSERT_EQ(parse("0000-00-00 00:00:00.0000: 1031.2500 1000.0012  +31.2488  156001 (-249) ><", fields),
              LineKind::report);
    EXPECT_EQ(fields.utc_ms, UNKNOWN_TIME_MS);
    // A leap second (UTC 23:59:60), counted as POSIX time counts it: read
    // whole, then with its minute kept; never at 23:58.
    for (int read = 0; read < 2; ++read) {
        ASSERT_EQ(parse("2016-12-31 23:59:60.0500: 1000.0000 1000.0000   +0.0000  156250 (+0) ", fields),
                  LineKind::report);
        EXPECT_EQ(std::make_pair(fields.utc_ms, fields.leap_second), std::make_pair(int64_t{1483228800500}, true));
    }
    ASSERT_EQ(kind_of("2016-12-31 23:58:59.0500: 1000.0000 1000.0000   +0.0000  156250 (+0) "), LineKind::report);
    EXPECT_EQ(kind_of("2016-12-31 23:58:60.0500: 1000.0000 1000.0000   +0.0000  156250 (+0) "), LineKind::unknown);
    EXPECT_EQ(parse(good + "\r\r", fields), LineKind::report);
    EXPECT_EQ(kind_of("0000-00-00 00:00:00.0001: 1031.2500 1000.0012  +31.2488  156001 (-249) ><"), LineKind::unknown);
    // Every cut of a good line, in a thread that has read no line before
    // (what a reader keeps from line to line is its thread's own).
    std::thread([&good] {
        for (size_t length = 1; length < good.size() - 3; ++length) {
            EXPECT_EQ(kind_of(good.substr(0, length)), LineKind::unknown) << good.substr(0, length);
        }
    }).join();
}

TEST(AnalyzeLogLine, ValuesThatTickwatchCannotHaveWrittenAreToldApart) {
    const std::string time = "2024-03-05 13:39:01.0046: ";
    const std::pair<const char *, LineKind> lines[] = {
        {" 999.8502  999.8496  +31.2488  156250 (+0) ><", LineKind::wrong_difference},
        {"1050.0000 1000.0000  +50.0000  156250 (+0) ", LineKind::wrong_marker},
        {"1020.0001 1000.0000  +20.0001  156250 (+0) ", LineKind::wrong_marker},
        // Each printed value rounded on its own: one last digit apart.
        {" 999.8502  999.8496   +0.0007  156250 (+0) ", LineKind::report},
        // At 20.0000 as printed the difference may have been either side.
        {"1020.0000 1000.0000  +20.0000  156250 (+0) ", LineKind::report},
        {" 980.0000 1000.0000  -20.0000  156250 (+0) ><", LineKind::report},
        {"1020.0001 1000.0000  +20.0001  156250 (+0) ><", LineKind::report},
    };
    for (const auto &[values, kind] : lines) {
        EXPECT_EQ(kind_of(time + values), kind) << values;
    }
    // Beyond 2^63 ticks of either clock: a difference that would draw
    // beyond any chart, or count missing samples beyond any integer.
    auto line_of = [](double system_ms, double counter_ms) {
        const IntervalReport report = {system_ms, counter_ms, system_ms - counter_ms, 156250, 0, STEP_MARKER};
        char buffer[1024];
        format_report_line(buffer, sizeof buffer, system_time_from_ms(0), report);
        return std::string(buffer);
    };
    EXPECT_EQ(kind_of(line_of(1.7e306, 0)), LineKind::out_of_range);
    EXPECT_EQ(kind_of(line_of(0, 1e300)), LineKind::out_of_range);
    EXPECT_EQ(kind_of(line_of(0x1p63 / 1e4, -0x1p63 * 1e3)), LineKind::report);
}

}  // namespace
