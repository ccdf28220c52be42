// The figures derived from a run's accumulators, against a direct
// computation in long double over the same samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "analyze/accumulate/figures.h"

namespace {

TEST(AnalyzeFigures, MeanRmsRateTau0AndPercentilesAgreeWithADirectComputation) {
    auto phase = std::make_unique<PhaseSegment>();
    auto counts = std::make_unique<DifferenceCounts>();
    RunStatistics run;
    start_statistics(run, phase.get(), counts.get());
    long double sum = 0;
    long double squares = 0;
    long double rate_difference = 0;
    long double rate_counter = 0;
    long double regular_intervals = 0;
    std::vector<double> regular;
    int64_t utc_ms = 1'700'000'000'000;
    for (int i = 0; i < 102; ++i) {
        ReportFields sample = {};
        // A gap of the counter at the 70th sample: a rate, but not a regular line.
        sample.counter_ms = i == 70 ? 3000.25 : 999.5 + (i % 3) * 0.25;
        // A drift with some noise, and a step at the 50th sample.
        sample.difference_ms = i == 50 ? -35.25 : ((i * 37) % 23 - 11) * 0.0125 + 0.002;
        utc_ms += static_cast<int64_t>(std::llround(sample.counter_ms + sample.difference_ms));
        sample.utc_ms = utc_ms;
        sample.system_ms = sample.counter_ms + sample.difference_ms;
        sample.adjustment = 156250;
        sample.marked = i == 50;
        add_sample(run, sample);
        if (!sample.marked) {
            rate_difference += sample.difference_ms;
            rate_counter += sample.counter_ms;
        }
        if (!sample.marked && i != 70) {
            sum += sample.difference_ms;
            squares += static_cast<long double>(sample.difference_ms) * sample.difference_ms;
            regular_intervals += sample.counter_ms;
            regular.push_back(sample.difference_ms);
        }
    }
    const RunFigures f = figures_of(run, counts.get(), StabilityIntervals::all);
    // Mean, RMS and percentiles over the 100 regular lines alone.
    ASSERT_TRUE(f.has_regular_lines);
    ASSERT_EQ(regular.size(), 100U);
    EXPECT_NEAR(f.difference_mean_ms, static_cast<double>(sum / 100), 1e-15);
    EXPECT_NEAR(f.difference_rms_ms, static_cast<double>(std::sqrt(squares / 100)), 1e-14);
    ASSERT_TRUE(f.has_rate);
    EXPECT_NEAR(f.rate_ppm, static_cast<double>(rate_difference / rate_counter * 1e6), 1e-9);
    // τ0: the regular lines' mean interval.
    EXPECT_NEAR(f.tau0_s, static_cast<double>(regular_intervals / 100 / 1000), 1e-15);
    EXPECT_NEAR(f.stability[0].tau_s, f.tau0_s, 1e-15);
    // Nearest rank over the 100 regular differences: the p-th value.
    std::sort(regular.begin(), regular.end());
    ASSERT_TRUE(f.has_percentiles);
    EXPECT_EQ(f.percentile_values, 100U);
    for (int j = 0; j < PERCENTILE_COUNT; ++j) {
        ASSERT_TRUE(f.percentiles.known[j]);
        EXPECT_NEAR(f.percentiles.ms[j], regular[static_cast<size_t>(PERCENTILE_LEVELS[j] - 1)], 1e-12)
            << PERCENTILE_LEVELS[j];
    }
    ASSERT_GT(f.stability_count, 1);
    ASSERT_TRUE(f.frequency.has_offset && f.frequency.has_stderr);
    // The uncertainty whatever the noise is filled, and never below the
    // classical standard error.
    ASSERT_TRUE(f.frequency.has_uncertainty);
    EXPECT_GE(f.frequency.uncertainty_ppm, f.frequency.fit_stderr * 1e6 * (1 - 1e-12));
    EXPECT_TRUE(std::isfinite(f.stability[0].mdev_low) && std::isfinite(f.stability[0].hdev_high));

    // Asked for the OADEV's intervals alone: the same deviations, OADEV
    // intervals and uncertainty, the others' intervals left unknown.
    const RunFigures quick = figures_of(run, counts.get(), StabilityIntervals::oadev);
    ASSERT_EQ(quick.stability_count, f.stability_count);
    for (int i = 0; i < f.stability_count; ++i) {
        EXPECT_EQ(quick.stability[i].oadev, f.stability[i].oadev);
        EXPECT_EQ(quick.stability[i].oadev_low, f.stability[i].oadev_low);
        EXPECT_EQ(quick.stability[i].oadev_high, f.stability[i].oadev_high);
        EXPECT_EQ(quick.stability[i].mdev, f.stability[i].mdev);
        EXPECT_FALSE(std::isfinite(quick.stability[i].mdev_low) || std::isfinite(quick.stability[i].hdev_low));
    }
    EXPECT_EQ(quick.frequency.uncertainty_ppm, f.frequency.uncertainty_ppm);

    // Without samples there is nothing to say; without counts, no percentiles.
    RunStatistics empty;
    start_statistics(empty);
    const RunFigures none = figures_of(empty, nullptr, StabilityIntervals::all);
    EXPECT_FALSE(none.has_regular_lines || none.has_rate || none.has_percentiles || none.frequency.has_offset ||
                 none.frequency.has_uncertainty);
    EXPECT_TRUE(std::isnan(none.difference_mean_ms) && std::isnan(none.difference_rms_ms) && std::isnan(none.tau0_s));
    EXPECT_EQ(none.stability_count, 0);

    // Only a marked line: a sample, but no regular line for the mean.
    ReportFields step = {1'700'000'000'000, 1035.25, 1000.0, 35.25, 156250, 0, true};
    add_sample(empty, step);
    const RunFigures marked = figures_of(empty, nullptr, StabilityIntervals::all);
    EXPECT_FALSE(marked.has_regular_lines);
    EXPECT_TRUE(std::isnan(marked.difference_mean_ms) && std::isnan(marked.difference_rms_ms));
}

}  // namespace
