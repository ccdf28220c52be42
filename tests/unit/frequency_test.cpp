// The frequency offset: a slope pooled over segments.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "analyze/accumulate/frequency.h"

namespace {

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

}  // namespace
