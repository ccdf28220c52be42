// The figures derived from a run's accumulators, against a direct
// computation in long double over the same samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "analyze/accumulate/figures.h"

namespace {

TEST(AnalyzeFigures, MeanRmsRateAndPercentilesAgreeWithADirectComputation) {
    auto phase = std::make_unique<PhaseSegment>();
    auto counts = std::make_unique<DifferenceCounts>();
    RunStatistics run;
    start_statistics(run, phase.get(), counts.get());
    long double sum = 0;
    long double squares = 0;
    long double rate_difference = 0;
    long double rate_counter = 0;
    std::vector<double> unmarked;
    for (int i = 0; i < 101; ++i) {
        ReportFields sample = {};
        sample.utc_ms = 1'700'000'000'000 + i * 1000;
        sample.counter_ms = 999.5 + (i % 3) * 0.25;
        // A drift with some noise, and a step at the 50th sample.
        sample.difference_ms = i == 50 ? -35.25 : ((i * 37) % 23 - 11) * 0.0125 + 0.002;
        sample.system_ms = sample.counter_ms + sample.difference_ms;
        sample.adjustment = 156250;
        sample.marked = i == 50;
        add_sample(run, sample);
        sum += sample.difference_ms;
        squares += static_cast<long double>(sample.difference_ms) * sample.difference_ms;
        if (!sample.marked) {
            rate_difference += sample.difference_ms;
            rate_counter += sample.counter_ms;
            unmarked.push_back(sample.difference_ms);
        }
    }
    const RunFigures f = figures_of(run, counts.get());
    ASSERT_TRUE(f.has_samples);
    EXPECT_NEAR(f.difference_mean_ms, static_cast<double>(sum / 101), 1e-15);
    EXPECT_NEAR(f.difference_rms_ms, static_cast<double>(std::sqrt(squares / 101)), 1e-14);
    ASSERT_TRUE(f.has_rate);
    EXPECT_NEAR(f.rate_ppm, static_cast<double>(rate_difference / rate_counter * 1e6), 1e-9);
    // Nearest rank over the 100 unmarked differences: the p-th value.
    std::sort(unmarked.begin(), unmarked.end());
    ASSERT_TRUE(f.has_percentiles);
    EXPECT_EQ(f.percentile_values, 100U);
    for (int j = 0; j < PERCENTILE_COUNT; ++j) {
        ASSERT_TRUE(f.percentiles.known[j]);
        EXPECT_NEAR(f.percentiles.ms[j], unmarked[static_cast<size_t>(PERCENTILE_LEVELS[j] - 1)], 1e-12)
            << PERCENTILE_LEVELS[j];
    }
    EXPECT_GT(f.stability_count, 0);
    EXPECT_TRUE(f.frequency.has_offset);

    // Without samples there is nothing to say; without counts, no percentiles.
    RunStatistics empty;
    start_statistics(empty);
    const RunFigures none = figures_of(empty, nullptr);
    EXPECT_FALSE(none.has_samples || none.has_rate || none.has_percentiles || none.frequency.has_offset);
    EXPECT_TRUE(std::isnan(none.difference_mean_ms) && std::isnan(none.difference_rms_ms));
    EXPECT_EQ(none.stability_count, 0);
}

}  // namespace
