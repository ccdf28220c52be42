// The difference's distribution and its exact percentiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "analyze/accumulate/distribution.h"

namespace {

TEST(AnalyzeDistribution, PercentilesByNearestRankExactToTheLastDecimalAndSizesByBucket) {
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
    // More values in use than are listed, 0.01 ms apart: the range is
    // walked, and cleared whole.
    for (int i = 0; i <= DIFFERENCE_LISTED; ++i) {
        count_difference(*counts, -19 + i * 0.01);
    }
    p = difference_percentiles(*counts);
    EXPECT_NEAR(p.ms[2], -19 + 512 * 0.01, 1e-12) << "rank 513 of 1026, 0.0001 ms among them";
    start_counts(*counts);
    EXPECT_EQ(counts->counts[DIFFERENCE_LIMIT_STEPS - 190000 + DIFFERENCE_LISTED * 100], 0U) << "the last one";

    // A few to all the listed values in random order, against them sorted.
    std::mt19937 random(7);
    for (const int distinct : {5, 63, 64, 700, DIFFERENCE_LISTED}) {
        start_counts(*counts);
        std::vector<double> values;
        for (int i = 0; i < distinct; ++i) {
            const double ms = std::uniform_int_distribution<int>(-195000, 195000)(random) * 0.0001;
            for (int repeat = i % 3; repeat >= 0; --repeat) {
                values.push_back(ms);
                count_difference(*counts, ms);
            }
        }
        std::sort(values.begin(), values.end());
        p = difference_percentiles(*counts);
        for (int j = 0; j < PERCENTILE_COUNT; ++j) {
            const size_t rank = (PERCENTILE_LEVELS[j] * values.size() + 99) / 100;
            EXPECT_NEAR(p.ms[j], values[rank - 1], 1e-9) << distinct << " values, " << PERCENTILE_LEVELS[j] << " %";
        }
    }

    // Its size: on a bound counted at or below it (le); a step beyond all of them.
    DifferenceSizeBuckets sizes = {};
    for (const double difference_ms : {0.001, -0.0011, 0.0, 31.25, -20.0}) {
        count_difference_size(sizes, difference_ms);
    }
    EXPECT_EQ(sizes.at_most[0], 2U);
    EXPECT_EQ(sizes.at_most[1], 3U);
    EXPECT_EQ(sizes.at_most[DIFFERENCE_BUCKETS - 1], 4U);
    EXPECT_EQ(sizes.samples, 5U);
}

}  // namespace
