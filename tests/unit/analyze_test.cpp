// tickwatch-analyze's reading of a log: report lines as tickwatch formats
// them, the other lines, the reading in blocks, following a growing log, the
// chart's buckets, and the metrics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/frequency.h"
#include "analyze/accumulate/phase.h"
#include "analyze/accumulate/stability.h"
#include "analyze/output/metrics.h"
#include "analyze/output/number_text.h"
#include "analyze/output/output_file.h"
#include "analyze/parse/follow.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/log_reader.h"
#include "analyze/parse/utc_time.h"
#include "clock/report_line.h"
#include "tests/support/child_process.h"
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
        EXPECT_EQ(kind_of(line), LineKind::unknown) << line;
    }
    // What tickwatch writes when it cannot tell the time, and a log whose
    // CR LF line ends were converted once more.
    ReportFields fields;
    ASSERT_EQ(parse("0000-00-00 00:00:00.0000: 1031.2500 1000.0012  +31.2488  156001 (-249) ><", fields),
              LineKind::report);
    EXPECT_EQ(fields.utc_ms, UNKNOWN_TIME_MS);
    EXPECT_EQ(parse(good + "\r\r", fields), LineKind::report);
    EXPECT_EQ(kind_of("0000-00-00 00:00:00.0001: 1031.2500 1000.0012  +31.2488  156001 (-249) ><"), LineKind::unknown);
    // Every cut of a good line.
    for (size_t length = 1; length < good.size() - 3; ++length) {
        EXPECT_EQ(kind_of(good.substr(0, length)), LineKind::unknown) << good.substr(0, length);
    }
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

// Reads all of text through a LogReader.
struct ReadBack {
    std::vector<std::pair<ReadResult, std::string>> lines;
    std::vector<uint64_t> numbers;
};

ReadBack read_back(const std::string &text) {
    std::FILE *file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    auto block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    LogReader reader;
    start_reading(reader, file, block.get());
    ReadBack back;
    for (;;) {
        const char *line = nullptr;
        size_t length = 0;
        const ReadResult result = read_line(reader, line, length);
        if (result == ReadResult::end || result == ReadResult::error) {
            break;
        }
        back.lines.emplace_back(result, result == ReadResult::too_long ? "" : std::string(line, length));
        back.numbers.push_back(reader.line_number);
    }
    std::fclose(file);
    return back;
}

TEST(AnalyzeLogReader, ReturnsEveryLineWholeAcrossBlocksSkippingOverlongOnes) {
    // Lines of every length up to the limit, so that the blocks end at
    // every place in a line; a few far too long, one as long as a block.
    std::string text;
    std::vector<std::string> expected;
    std::mt19937 random(6);
    while (text.size() < 3 * READ_BLOCK_SIZE) {
        const size_t length = expected.size() % 97 == 50 ? READ_BLOCK_SIZE + 3 : random() % MAX_LINE_LENGTH;
        std::string line(length, static_cast<char>('a' + expected.size() % 26));
        text += line + (expected.size() % 2 == 0 ? "\r\n" : "\n");
        expected.push_back(length > MAX_LINE_LENGTH ? "" : line + (expected.size() % 2 == 0 ? "\r" : ""));
    }
    text += "cut";
    const ReadBack back = read_back(text);
    ASSERT_EQ(back.lines.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        const bool too_long = expected[i].empty() && i % 97 == 50;
        ASSERT_EQ(back.lines[i].first, too_long ? ReadResult::too_long : ReadResult::line) << i;
        ASSERT_EQ(back.lines[i].second, expected[i]) << i;
        ASSERT_EQ(back.numbers[i], i + 1);
    }
    EXPECT_EQ(back.lines.back(), std::pair(ReadResult::cut_short, std::string("cut")));

    // A byte order mark before the first line only.
    const ReadBack marked = read_back("\xEF\xBB\xBFone\n\xEF\xBB\xBFtwo\n");
    EXPECT_EQ(marked.lines[0].second, "one");
    EXPECT_EQ(marked.lines[1].second, "\xEF\xBB\xBFtwo");
    EXPECT_EQ(read_back("\xEF\xBB\xBF").lines[0], std::pair(ReadResult::cut_short, std::string()));

    EXPECT_TRUE(read_back("").lines.empty());
    EXPECT_EQ(read_back("\n\n").lines.size(), 2U);
    EXPECT_EQ(read_back(std::string(MAX_LINE_LENGTH + 1, 'x')).lines[0].first, ReadResult::too_long);
}

TEST(AnalyzeChart, AYearOfSamplesKeepsItsExtremesInAFixedNumberOfBuckets) {
    auto chart = std::make_unique<ChartData>();
    start_chart(*chart);
    const int64_t start = days_from_civil(2024, 1, 1) * MS_PER_DAY;
    const int64_t minute = 60'000;
    const int64_t samples = 366 * 24 * 60;
    const int64_t step_at = start + 200 * MS_PER_DAY;
    for (int64_t i = 0; i < samples; ++i) {
        ReportFields sample = {start + i * minute, 1000, 1000, 0.001 * static_cast<double>(i % 10), 156250, 0, false};
        if (sample.utc_ms == step_at) {
            sample.difference_ms = -3'600'000;
            sample.marked = true;
        }
        add_to_chart(*chart, sample, 1 + static_cast<int32_t>(i / (100 * 24 * 60)), i % (100 * 24 * 60) == 0);
    }
    // A span that grows steadily uses at least half of the buckets.
    int used = 0;
    for (const ChartBucket &b : chart->buckets) {
        used += b.samples > 0 ? 1 : 0;
    }
    EXPECT_GE(used, CHART_BUCKETS / 2);
    // And one sample before all others: a clock set back.
    ReportFields early = {start - 30 * MS_PER_DAY, 1000, 1000, 5, 156001, -249, false};
    add_to_chart(*chart, early, 4, false);

    EXPECT_EQ(chart->samples, static_cast<uint64_t>(samples) + 1);
    EXPECT_EQ(chart->first_ms, start - 30 * MS_PER_DAY);
    EXPECT_EQ(chart->last_ms, start + (samples - 1) * minute);
    EXPECT_EQ(chart->bucket_ms & (chart->bucket_ms - 1), 0) << "a power of 2";
    uint64_t counted = 0;
    uint64_t averaged = 0;
    uint64_t gaps = 0;
    int runs_started = 0;
    for (int i = 0; i < CHART_BUCKETS; ++i) {
        const ChartBucket &b = chart->buckets[i];
        counted += b.samples;
        averaged += b.mean_samples;
        gaps += b.gaps;
        runs_started += b.run_started != 0 ? 1 : 0;
        const int64_t from = chart->origin_ms + i * chart->bucket_ms;
        if (b.steps > 0) {
            EXPECT_TRUE(from <= step_at && step_at < from + chart->bucket_ms);
            EXPECT_EQ(std::make_tuple(b.steps, b.step_difference, b.difference_min),
                      std::make_tuple(1U, -3'600'000.0, -3'600'000.0));
        }
        if (from <= early.utc_ms && early.utc_ms < from + chart->bucket_ms) {
            EXPECT_EQ(std::make_tuple(b.samples, b.difference_max, b.slew_min_ppm),
                      std::make_tuple(1U, 5.0, -249 / 156250.0 * 1e6));
        } else if (b.samples > 100) {
            EXPECT_EQ(std::make_tuple(b.difference_max, b.slew_max_ppm), std::make_tuple(0.001 * 9, 0.0));
        }
    }
    EXPECT_EQ(counted, chart->samples);
    EXPECT_EQ(averaged, chart->samples - 1) << "the mean leaves the step out";
    // A sample a minute: every interval is a gap but those before a run's
    // first sample, and before the clock set back.
    EXPECT_EQ(gaps, static_cast<uint64_t>(samples) - 4);
    EXPECT_EQ(runs_started, 3) << "runs 2, 3 and 4";
}

// Phase points given directly, in segments, in the data's own units (taken
// as ns); also the sums of any other m given.
struct DirectStability {
    std::vector<StabilityPoint> listed;
    std::vector<StabilityPoint> other;
};

DirectStability stability_of(const std::vector<std::vector<double>> &segments, const std::vector<int> &other_m = {}) {
    static PhaseSegment segment;
    StabilitySums sums = {};
    std::vector<TauSums> other(other_m.size());
    std::vector<double> windows(other_m.size());
    for (const auto &x : segments) {
        start_segment(segment);
        for (size_t i = 1; i < x.size(); ++i) {
            add_phase_step(segment, sums, x[i] - x[i - 1]);
            for (size_t j = 0; j < other_m.size(); ++j) {
                add_deviation_terms(segment, other_m[j], windows[j], other[j]);
            }
        }
    }
    DirectStability got;
    got.listed.resize(STABILITY_TAUS);
    got.listed.resize(static_cast<size_t>(list_stability(sums, 1e-9, got.listed.data())));
    for (size_t j = 0; j < other_m.size(); ++j) {
        got.other.push_back(stability_point(other[j], other_m[j], 1e-9));
    }
    return got;
}

TEST(AnalyzeStability, ReproducesThePublishedValuesOfTheNbs14AndThe1000PointSets) {
    // Each to its printed digits: within half a unit of the 7th.
    auto check = [](const StabilityPoint &got, double tau, double oadev, double mdev, double tdev) {
        const double half = 0.5e-6;
        EXPECT_EQ(got.tau_s, tau);
        EXPECT_NEAR(got.oadev * 1e9, oadev, oadev * half) << tau;
        ASSERT_TRUE(got.has_mdev) << tau;
        EXPECT_NEAR(got.mdev * 1e9, mdev, mdev * half) << tau;
        EXPECT_NEAR(got.tdev_ns, tdev, tdev * half) << tau;
    };
    const std::vector<double> nbs14 = {0,        103.11111, 123.22222, 157.33333, 166.44444,
                                       48.55555, -96.33333, -2.22222,  111.88889, 0};
    const auto short_set = stability_of({nbs14}).listed;
    ASSERT_EQ(short_set.size(), 3U) << "m = 4 has n = 2, m = 8 too few";
    check(short_set[0], 1, 91.22945, 91.22945, 52.67135);
    check(short_set[1], 2, 85.95287, 74.78849, 86.35831);
    EXPECT_EQ(short_set[0].n, 8U);
    EXPECT_EQ(short_set[2].n, 2U);
    EXPECT_FALSE(short_set[2].has_mdev) << "n' = 0";
    // The largest swings: 48.55555 to -96.33333 in one step, -96.33333 to
    // 166.44444 within 2 and 4.
    EXPECT_NEAR(short_set[0].mtie_ns, 144.88888, 1e-9);
    EXPECT_NEAR(short_set[1].mtie_ns, 262.77777, 1e-9);
    EXPECT_NEAR(short_set[2].mtie_ns, 262.77777, 1e-9);

    std::vector<double> x = {0};
    uint64_t n = 1234567890;
    for (int i = 0; i < 1000; ++i) {
        x.push_back(x.back() + static_cast<double>(n) / 2147483647.0);
        n = 16807 * n % 2147483647;
    }
    const DirectStability long_set = stability_of({x}, {10, 100});
    check(long_set.listed[0], 1, 0.2922319, 0.2922319, 0.1687202);
    check(long_set.other[0], 10, 0.09159953, 0.06172376, 0.3563623);
    check(long_set.other[1], 100, 0.03241343, 0.02170921, 1.253382);
}

TEST(AnalyzeStability, StreamingSumsMatchADirectComputationOverLongSegments) {
    // A drifting random walk with white noise, not in whole units, long
    // enough for the MDEV window to be summed afresh; and a short segment.
    std::mt19937_64 random(6);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<std::vector<double>> segments(2);
    double walk = 0;
    for (int i = 0; i <= 620'000; ++i) {
        walk += 0.3 * noise(random);
        segments[0].push_back(i == 0 ? 0 : 1e-3 * i + walk + noise(random) + 0.1);
    }
    for (int i = 0; i <= 300; ++i) {
        segments[1].push_back(i == 0 ? 0 : 7 * noise(random));
    }
    const auto listed = stability_of(segments).listed;
    ASSERT_EQ(listed.size(), 18U) << "m = 2^17 fits 620'000 points";
    for (const unsigned k : {0U, 1U, 6U, 16U, 17U}) {
        const unsigned m = 1U << k;
        long double oadev_sum = 0;
        long double mdev_sum = 0;
        uint64_t terms = 0;
        uint64_t mdev_terms = 0;
        double mtie = 0;
        for (const auto &x : segments) {
            const size_t mu = m;
            std::vector<long double> s;
            for (size_t i = 0; i + 2 * mu < x.size(); ++i) {
                s.push_back(static_cast<long double>(x[i + 2 * mu]) - 2.0L * x[i + mu] + x[i]);
                oadev_sum += s.back() * s.back();
                ++terms;
            }
            long double window = 0;
            for (size_t i = 0; i < s.size(); ++i) {
                window += s[i] - (i >= mu ? s[i - mu] : 0);
                if (i + 1 >= mu) {
                    mdev_sum += window * window;
                    ++mdev_terms;
                }
            }
            // Extremes over m + 1 points with monotonic queues.
            std::deque<size_t> highs;
            std::deque<size_t> lows;
            for (size_t i = 0; i < x.size(); ++i) {
                while (!highs.empty() && x[highs.back()] <= x[i]) {
                    highs.pop_back();
                }
                while (!lows.empty() && x[lows.back()] >= x[i]) {
                    lows.pop_back();
                }
                highs.push_back(i);
                lows.push_back(i);
                for (auto *q : {&highs, &lows}) {
                    if (q->front() + mu < i) {
                        q->pop_front();
                    }
                }
                if (i >= mu) {
                    mtie = std::max(mtie, x[highs.front()] - x[lows.front()]);
                }
            }
        }
        const StabilityPoint &got = listed[k];
        ASSERT_EQ(got.n, terms) << m;
        const double oadev = std::sqrt(static_cast<double>(oadev_sum / (2.0L * m * m * terms)));
        const double mdev = std::sqrt(static_cast<double>(mdev_sum / (2.0L * m * m * m * m * mdev_terms)));
        EXPECT_NEAR(got.oadev * 1e9, oadev, oadev * 1e-11) << m;
        ASSERT_EQ(got.has_mdev, mdev_terms >= 2) << m;
        if (got.has_mdev) {
            EXPECT_NEAR(got.mdev * 1e9, mdev, mdev * 1e-11) << m;
        }
        EXPECT_NEAR(got.mtie_ns, mtie, mtie * 1e-12) << m;
    }
}

TEST(AnalyzePhase, BoundaryLinesStartSegmentsAndAddNoDifference) {
    static PhaseSegment segment;
    RunPhase phase;
    start_phase(phase);
    auto line = [&](double counter_ms, double difference_ms, bool marked = false) {
        add_to_phase(phase, segment,
                     ReportFields{0, counter_ms + difference_ms, counter_ms, difference_ms, 0, 0, marked});
    };
    // A short first interval; then 4 lines (N = 5), of which the 1 ms swing
    // is the largest between neighbours.
    line(312.5, 9);
    for (double d : {0.5, 1.0, -0.0001, 0.0}) {
        line(1000, d);
    }
    // A step, its difference in no segment; N = 3 from it.
    line(1000, -25, true);
    line(999.5, 0.25);
    line(1499.9999, 0.75);
    // A gap: the line after it starts a segment of 1 point, and another
    // gap one of 2.
    line(1500.0001, 3);
    line(2000, 0);
    line(500, -0.5);
    EXPECT_FALSE(is_segment_boundary(ReportFields{0, 500, 500, 0, 0, 0, false}));
    EXPECT_TRUE(is_segment_boundary(ReportFields{0, 499.9999, 499.9999, 0, 0, 0, false}));

    // n = Σ (N - 2m) over N = 5, 3, 1, 2: 3 + 1 for m = 1, 1 for m = 2.
    StabilityPoint points[STABILITY_TAUS];
    ASSERT_EQ(list_stability(phase.stability, PHASE_UNIT_S, points), 1) << "m = 2: n = 1";
    EXPECT_EQ(points[0].n, 4U);
    EXPECT_NEAR(points[0].mtie_ns, 1e6, 1e-6);
    // x = 0, 0.5, 1.5, 1.4999, 1.4999 and 0, 0.25, 1 ms: second
    // differences 0.5, -1.0001, 0.0001 and 0.5.
    const double squares = 0.25 + 1.0001 * 1.0001 + 0.0001 * 0.0001 + 0.25;
    EXPECT_NEAR(points[0].oadev, std::sqrt(squares / (2 * 4)) * 1e-3, 1e-15);
    EXPECT_EQ(phase.stability.tau[1].oadev_terms, 1U);

    // Frequency: points 5 + 3 + 1 + 2 in 4 segments.
    RunPhase total;
    start_phase(total);
    add_phase_to_total(total, phase);
    add_phase_to_total(total, phase);
    FrequencySums pooled = {};
    add_frequency(pooled, total.frequency);
    EXPECT_EQ(std::make_pair(pooled.points, pooled.segments), std::make_pair(uint64_t{22}, uint64_t{8}));
    EXPECT_NEAR(total.stability.tau[0].mtie, 10'000, 1e-9) << "in 0.0001 ms";
    EXPECT_EQ(total.stability.tau[0].oadev_terms, 8U);
}

TEST(AnalyzeDistribution, PercentilesByNearestRankExactToTheLastDecimal) {
    auto counts = std::make_unique<DifferenceCounts>();
    start_counts(*counts);
    EXPECT_FALSE(difference_percentiles(*counts).known[0]) << "no values";
    // 200 values: -20 ms (twice), then 0.0001 ms steps from -1 ms.
    count_difference(*counts, -20.0);
    count_difference(*counts, -20.0);
    for (int i = 0; i < 198; ++i) {
        count_difference(*counts, -1 + i * 0.0001);
    }
    Percentiles p = difference_percentiles(*counts);
    // Ranks 2, 10, 100, 190, 198.
    const double expected[] = {-20, -1 + 7 * 0.0001, -1 + 97 * 0.0001, -1 + 187 * 0.0001, -1 + 195 * 0.0001};
    for (int j = 0; j < PERCENTILE_COUNT; ++j) {
        ASSERT_TRUE(p.known[j]);
        EXPECT_NEAR(p.ms[j], expected[j], 1e-12) << PERCENTILE_LEVELS[j];
    }
    // One value beyond +20 ms and one short of -20: not kept, so the ranks
    // falling on them are unknown; 202 values make ranks 3, 11, 101, 192, 200.
    count_difference(*counts, 20.0001);
    count_difference(*counts, -25);
    p = difference_percentiles(*counts);
    EXPECT_TRUE(p.known[0]);
    EXPECT_EQ(p.ms[0], -20);
    EXPECT_TRUE(p.known[4]);
    count_difference(*counts, 20.0);
    count_difference(*counts, 30.0);
    count_difference(*counts, 30.0);
    p = difference_percentiles(*counts);
    EXPECT_EQ(p.ms[0], -20);
    EXPECT_FALSE(p.known[4]) << "205 values: rank 203 falls beyond +20 ms, 202 is +20 ms";

    // Summed into a total, and started again.
    auto total = std::make_unique<DifferenceCounts>();
    start_counts(*total);
    add_counts(*total, *counts);
    add_counts(*total, *counts);
    EXPECT_EQ(total->values, 410U);
    EXPECT_EQ(std::make_tuple(total->counts[0], total->below, total->above), std::make_tuple(4U, 2U, 6U));
    EXPECT_EQ(total->counts[DIFFERENCE_VALUES - 1], 2U);
    start_counts(*counts);
    count_difference(*counts, 0.0001);
    p = difference_percentiles(*counts);
    EXPECT_EQ(std::make_tuple(p.known[0], p.ms[0], p.ms[4]), std::make_tuple(true, 0.0001, 0.0001));
    EXPECT_EQ(counts->counts[0], 0U) << "cleared";
}

TEST(AnalyzeFrequency, PooledSlopeWithAnInterceptPerSegment) {
    // Against a two-pass fit: x = 5 + 0.5 t + e, a second segment
    // 1 - 0.1 t + e, of 1000 and 7 points, and a segment of one point.
    std::mt19937_64 random(6);
    std::normal_distribution<double> noise(0.0, 2.0);
    std::vector<std::vector<double>> segments(3);
    for (int t = 0; t < 1000; ++t) {
        segments[0].push_back(5 + 0.5 * t + noise(random));
    }
    for (int t = 0; t < 7; ++t) {
        segments[1].push_back(1 - 0.1 * t + noise(random));
    }
    segments[2].push_back(1e6);
    FrequencySums sums = {};
    long double cross = 0;
    long double time_squares = 0;
    for (const auto &x : segments) {
        start_frequency_segment(sums);
        long double mean = 0;
        for (double v : x) {
            add_frequency_point(sums, v);
            mean += v / static_cast<long double>(x.size());
        }
        const long double mean_t = (x.size() - 1) / 2.0L;
        for (size_t t = 0; t < x.size(); ++t) {
            cross += (t - mean_t) * (x[t] - mean);
            time_squares += (t - mean_t) * (t - mean_t);
        }
    }
    const long double slope = cross / time_squares;
    long double residual_squares = 0;
    for (const auto &x : segments) {
        long double mean = 0;
        for (double v : x) {
            mean += v / static_cast<long double>(x.size());
        }
        for (size_t t = 0; t < x.size(); ++t) {
            const long double r = x[t] - mean - slope * (t - (x.size() - 1) / 2.0L);
            residual_squares += r * r;
        }
    }
    FrequencyFigures f = frequency_figures(sums, 1e-6);
    ASSERT_TRUE(f.has_offset && f.has_stderr);
    EXPECT_NEAR(f.offset_ppm, static_cast<double>(slope), 1e-12);
    EXPECT_NEAR(f.residual_rms_ms, static_cast<double>(std::sqrt(residual_squares / 1008) * 1e-3), 1e-12);
    EXPECT_NEAR(f.stderr_ppm, static_cast<double>(std::sqrt(residual_squares / (1008 - 3 - 1) / time_squares)), 1e-12);

    // Single points fit no slope; two points in one segment leave no
    // degrees of freedom.
    sums = {};
    start_frequency_segment(sums);
    add_frequency_point(sums, 4);
    EXPECT_FALSE(frequency_figures(sums, 1).has_offset);
    add_frequency_point(sums, 6);
    f = frequency_figures(sums, 1);
    EXPECT_TRUE(f.has_offset && !f.has_stderr);
    EXPECT_EQ(f.offset_ppm, 2e6);
}

TEST(AnalyzeNumberText, ScientificAsTheHostsPrintfWritesIt) {
    // Values at every scale, some on the rounding edge to the next power.
    std::mt19937_64 random(6);
    std::vector<double> values = {9.99995e-7, 9.9999949e-7, 1e-7, 1e22, -0.00099999999, 123456.75, 1e-300};
    for (int i = 0; i < 20'000; ++i) {
        values.push_back(
            std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random), static_cast<int>(random() % 200) - 100));
    }
    for (double value : values) {
        for (int decimals : {2, 4, 6}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.*e", decimals, value);
            char text[NUMBER_TEXT_SIZE];
            const std::string got(text, put_scientific(text, value, decimals));
            ASSERT_EQ(got, expected) << decimals;
        }
    }
}

// Whether outputs (first) and logs (second) may be written: refused (with
// every pair named) when any output is a log or another output.
bool outputs_allowed(std::vector<std::string> outputs, std::vector<std::string> logs, std::string *said = nullptr) {
    std::vector<const char *> output_names;
    std::vector<const char *> log_names;
    for (const std::string &name : outputs) {
        output_names.push_back(name.c_str());
    }
    for (const std::string &name : logs) {
        log_names.push_back(name.c_str());
    }
    testing::internal::CaptureStderr();
    const bool allowed = check_output_names(output_names.data(), static_cast<int>(output_names.size()),
                                            log_names.data(), static_cast<int>(log_names.size()));
    const std::string err = testing::internal::GetCapturedStderr();
    if (said != nullptr) {
        *said = err;
    }
    return allowed;
}

std::vector<std::string> files_in(const std::string &directory) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AnalyzeOutputFile, AnOutputThatIsALogOrAnotherOutputIsRefusedByIdentity) {
    ScratchDirectory dir;
    const std::string log = dir.file("in.log");
    write_file(log, "a log\n");
    std::error_code error;
    std::filesystem::create_hard_link(log, dir.file("hard link.log"), error);
    ASSERT_FALSE(error);
    std::filesystem::create_directory(dir.file("sub"), error);

    std::string said;
    EXPECT_FALSE(outputs_allowed({log}, {log}, &said));
    EXPECT_EQ(said, "tickwatch-analyze: " + log + ": the output is the same file as the log " + log + "\n");
    EXPECT_FALSE(outputs_allowed({dir.file("hard link.log")}, {dir.file("other.log"), log}, &said));
    EXPECT_NE(said.find("hard link.log: the output is the same file as the log " + log), std::string::npos) << said;
    EXPECT_FALSE(outputs_allowed({dir.file("sub/../in.log")}, {log}));
    EXPECT_TRUE(outputs_allowed({dir.file("out.csv"), dir.file("out.svg")}, {log, "-"}));
    // Outputs that are not there yet: the same entry of the same directory.
    EXPECT_FALSE(outputs_allowed({dir.file("x"), dir.file("sub/../x")}, {log}, &said));
    EXPECT_NE(said.find("sub/../x: the same file as the output " + dir.file("x")), std::string::npos) << said;
    EXPECT_FALSE(outputs_allowed({dir.file("sub/x"), dir.file("x"), dir.file("sub/./x")}, {log}));
    write_file(dir.file("x"), "");
    EXPECT_FALSE(outputs_allowed({dir.file("x"), dir.file("sub/../x")}, {log}));
#ifdef _WIN32
    // Names differing in case name one file.
    EXPECT_FALSE(outputs_allowed({dir.file("IN.LOG")}, {log}));
    EXPECT_FALSE(outputs_allowed({dir.file("y"), dir.file("Y")}, {log}));
#endif
}

TEST(AnalyzeOutputFile, TheTargetIsReplacedOnlyOnCommitAndNothingIsLeftBehind) {
    ScratchDirectory dir;
    const std::string target = dir.file("chart é.svg");
    // (As the listing spells it: on Windows the name is in the ANSI code page.)
    const std::vector<std::string> only_target = {std::filesystem::path(target).filename().string()};
    write_file(target, "before");
    static OutputFile first;
    static OutputFile second;
    // Two at once (two runs, or a run and its next interval) never share a
    // temporary; the one committed last is what stays.
    ASSERT_TRUE(open_output_file(first, target.c_str()));
    ASSERT_TRUE(open_output_file(second, target.c_str()));
    EXPECT_STRNE(first.temporary, second.temporary);
    std::fputs("first", first.file);
    std::fputs("second", second.file);
    EXPECT_EQ(read_file(target), "before");
    ASSERT_TRUE(commit_output_file(first));
    EXPECT_EQ(read_file(target), "first");
    discard_output_file(second);
    EXPECT_EQ(read_file(target), "first");
    EXPECT_EQ(files_in(dir.path), only_target);
    // Again and again, as for every interval of a run that goes on.
    for (const char *text : {"one", "two"}) {
        ASSERT_TRUE(open_output_file(first, target.c_str()));
        std::fputs(text, first.file);
        ASSERT_TRUE(commit_output_file(first));
        EXPECT_EQ(read_file(target), text);
    }
    EXPECT_EQ(files_in(dir.path), only_target);

    // A device is written in place.
#ifdef _WIN32
    const char *device = "NUL";
#else
    const char *device = "/dev/null";
#endif
    ASSERT_TRUE(open_output_file(first, device));
    EXPECT_STREQ(first.temporary, "");
    std::fputs("gone", first.file);
    EXPECT_TRUE(commit_output_file(first));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(open_output_file(first, dir.path.c_str()));
    EXPECT_FALSE(open_output_file(first, dir.file("missing/x.csv").c_str()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(dir.path + ": cannot write: it is a directory\n"), std::string::npos) << err;
    EXPECT_NE(err.find("missing/x.csv: cannot write: "), std::string::npos) << err;
    EXPECT_EQ(files_in(dir.path), only_target);
}

// A log in a directory of its own, written and renamed as tickwatch and
// rotation tools do, and followed by its name.
class AnalyzeFollow : public ::testing::Test {
  protected:
    void SetUp() override {
        std::error_code error;
        dir = std::filesystem::temp_directory_path(error) / ("tickwatch-follow-" + std::to_string(std::rand()));
        std::filesystem::create_directories(dir, error);
        path = (dir / "clock.log").string();
        start_following(log, path.c_str(), block.get());
    }
    void TearDown() override {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
    }

    void write(const char *mode, const std::string &text) const {
        std::FILE *file = std::fopen(path.c_str(), mode);
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

    // One poll: what it found, and the whole lines it read.
    PollResult poll(std::vector<std::string> &lines) {
        lines.clear();
        std::FILE *file = nullptr;
        const PollResult result = poll_followed_log(log, file, dropped);
        if (result != PollResult::unavailable) {
            const char *text = nullptr;
            size_t length = 0;
            for (ReadResult read;
                 (read = read_line(log.reader, text, length)) != ReadResult::end && read != ReadResult::error;) {
                EXPECT_NE(read, ReadResult::cut_short);
                if (read == ReadResult::line) {
                    lines.emplace_back(text, length);
                }
            }
            std::fclose(file);  // the log may be renamed between polls
        }
        return result;
    }

    std::filesystem::path dir;
    std::string path;
    std::unique_ptr<char[]> block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    FollowedLog log;
    bool dropped = false;
};

using Lines = std::vector<std::string>;

TEST_F(AnalyzeFollow, ReadsWhatIsNewAndWaitsForALineToEnd) {
    Lines lines;
    EXPECT_EQ(poll(lines), PollResult::unavailable);
    EXPECT_EQ(log.error, ENOENT);
    write("wb", "one\r\ntw");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines, Lines{"one\r"});
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{});
    write("ab", "o\r\nthree\r\n");
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, (Lines{"two\r", "three\r"}));
    EXPECT_EQ(log.reader.line_number, 3U);
    // A line too long for a log, written in parts, is skipped once whole.
    write("ab", std::string(MAX_LINE_LENGTH + 10, 'x'));
    EXPECT_EQ(poll(lines), PollResult::same_file);
    write("ab", "xx\nfour\n");
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{"four"});
    EXPECT_EQ(log.reader.line_number, 5U);
}

TEST_F(AnalyzeFollow, ANewFileUnderTheNameIsReadFromItsStart) {
    Lines lines;
    const std::string first = "2024-03-05 13:39:00.0015 the first line, whose time no other log has\r\n";
    write("wb", first + "half a li");
    poll(lines);
    // Renamed away, and a new log in its place before the next poll.
    std::filesystem::rename(path, path + ".1");
    write("wb", "new\r\n");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_TRUE(dropped) << "the old log's last line never ended";
    EXPECT_EQ(lines, Lines{"new\r"});
    EXPECT_EQ(log.reader.line_number, 1U);

    // Deleted, and for a while nothing by the name.
    std::filesystem::remove(path);
    EXPECT_EQ(poll(lines), PollResult::unavailable);
    write("wb", first);
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_FALSE(dropped);

    // Emptied in place: shorter than what was read.
    write("wb", "");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    write("ab", first);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{first.substr(0, first.size() - 1)});

    // The same file, longer, but other first bytes: what Windows shows of a
    // new file where inodes tell nothing.
    write("r+b", "2024-03-06");
    write("ab", "more\r\n");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines.size(), 2U);
}

std::string metrics_text(const MetricsFigures &figures) {
    std::FILE *file = std::tmpfile();
    write_metrics(file, figures);
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
    return text;
}

// Every sample follows the HELP and TYPE of its metric; returns the samples.
std::vector<std::string> checked_samples(const std::string &text) {
    std::vector<std::string> samples;
    std::string described;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start)) {
        const std::string line = text.substr(start, end - start);
        if (line.rfind("# HELP ", 0) == 0) {
            described = line.substr(7, line.find(' ', 7) - 7);
        } else if (line.rfind("# TYPE ", 0) == 0) {
            EXPECT_EQ(line.substr(7, line.find(' ', 7) - 7), described) << "TYPE after its HELP";
        } else {
            EXPECT_EQ(line.substr(0, line.find('{')), described) << line;
            samples.push_back(line);
        }
    }
    EXPECT_EQ(start, text.size()) << "ends in a line end";
    return samples;
}

constexpr int64_t T0_MS = 1709645940015;  // 2024-03-05 13:39:00.015 UTC

TEST(AnalyzeMetrics, EveryMetricIsDescribedAndFiguresNotKnownAreLeftOut) {
    RunStatistics total;
    start_statistics(total);
    MetricsFigures figures = {};
    figures.log_name = "odd \"name\"\\\n\xff.log";
    figures.total = &total;
    figures.unrecognised_lines = 7;
    EXPECT_EQ(checked_samples(metrics_text(figures)),
              (std::vector<std::string>{R"(tickwatch_samples_total{log="odd \"name\"\\\n?.log"} 0)",
                                        R"(tickwatch_missing_samples_total{log="odd \"name\"\\\n?.log"} 0)",
                                        R"(tickwatch_steps_total{log="odd \"name\"\\\n?.log"} 0)",
                                        R"(tickwatch_unrecognised_lines_total{log="odd \"name\"\\\n?.log"} 7)"}));

    // Two samples, the last slewing; and the figures of stability.
    ReportFields sample = {T0_MS, 1000.0, 999.9, 0.1, 156250, 0, false};
    add_sample(total, sample);
    sample = {T0_MS + 1000, 1000.0, 1000.3, -0.3, 156001, -249, false};
    add_sample(total, sample);
    figures.log_name = "clock.log";
    figures.has_last_sample = true;
    figures.last_sample = sample;
    figures.has_frequency_offset = true;
    figures.frequency_offset_ratio = -1.5e-7;
    figures.oadev_count = 2;
    figures.oadev[0] = {1, 2.5e-7};
    figures.oadev[1] = {1024, 3e-9};
    const std::vector<std::string> samples = checked_samples(metrics_text(figures));
    const std::vector<std::string> expected = {
        R"(tickwatch_samples_total{log="clock.log"} 2)",
        R"(tickwatch_missing_samples_total{log="clock.log"} 0)",
        R"(tickwatch_steps_total{log="clock.log"} 0)",
        R"(tickwatch_unrecognised_lines_total{log="clock.log"} 7)",
        R"(tickwatch_last_sample_timestamp_seconds{log="clock.log"} 1709645941.015)",
        R"(tickwatch_difference_seconds{log="clock.log"} -0.0003)",
        R"(tickwatch_difference_rms_seconds{log="clock.log"} 0.000223606797749979)",
        R"(tickwatch_frequency_offset_ratio{log="clock.log"} -1.5e-07)",
        R"(tickwatch_time_adjustment{log="clock.log"} 156001)",
        R"(tickwatch_time_increment{log="clock.log"} 156250)",
        R"(tickwatch_adjustment_slew_ratio{log="clock.log"} -0.0015936)",
        R"(tickwatch_oadev{log="clock.log",tau_seconds="1"} 2.5e-07)",
        R"(tickwatch_oadev{log="clock.log",tau_seconds="1024"} 3e-09)",
    };
    EXPECT_EQ(samples, expected);

    EXPECT_STREQ(file_name_of("logs/day 1/clock.log"), "clock.log");
    EXPECT_STREQ(file_name_of("clock.log"), "clock.log");
#ifdef _WIN32
    EXPECT_STREQ(file_name_of("C:\\logs\\clock.log"), "clock.log");
    EXPECT_STREQ(file_name_of("D:clock.log"), "clock.log");
#endif
}

}  // namespace
