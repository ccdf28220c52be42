// The chart's buckets: a year of samples in fixed memory.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "analyze/accumulate/chart_data.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"

namespace {

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

// The detrended view subtracts a segment's offset only where it means
// something: a slope fitted across a slew, within its uncertainty of 0,
// would draw ramps of its own.
TEST(AnalyzeChart, SegmentsSayWhetherTheirOffsetIsSignificantAndAColumnTakesTheOneItOverlapsMost) {
    auto segments = std::make_unique<ChartSegments>();
    SegmentFigures slewing = {};
    slewing.start_utc_ms = 0;
    slewing.end_utc_ms = 220'000;
    slewing.slewed_lines = 60;
    slewing.frequency = {true, -613.35, 16.5, true, 1.6e-3, 1e6, true, 1631};
    SegmentFigures quiet = slewing;
    quiet.start_utc_ms = 220'000;
    quiet.end_utc_ms = 400'000;
    quiet.slewed_lines = 0;
    quiet.frequency = {true, 2.03, 0.002, true, 1e-7, 1e6, false, 0};  // the classical error alone: 0.1 ppm
    add_chart_segment(*segments, slewing);
    add_chart_segment(*segments, quiet);
    ASSERT_EQ(segments->count, 2);
    EXPECT_TRUE(segments->segment[0].slewed && !segments->segment[0].significant);
    EXPECT_TRUE(!segments->segment[1].slewed && segments->segment[1].significant);
    EXPECT_EQ(segment_at(*segments, 210'000, 240'000), &segments->segment[1]);
    EXPECT_EQ(segment_at(*segments, 215'000, 221'000), &segments->segment[0]);
}

}  // namespace
