// The frequency offset: a slope against time pooled over segments.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "analyze/accumulate/frequency.h"

namespace {

struct Point {
    double t;
    double x;
};

// The pooled fit in long double, two passes: means, then the slope, then
// the residuals themselves.
struct TwoPassFit {
    long double slope;
    long double residual_squares;
    long double time_squares;
    size_t points;
};

TwoPassFit two_pass_fit(const std::vector<std::vector<Point>> &segments) {
    TwoPassFit fit = {};
    std::vector<std::pair<long double, long double>> means;
    long double cross = 0;
    for (const auto &segment : segments) {
        long double mean_t = 0;
        long double mean_x = 0;
        for (const Point &p : segment) {
            mean_t += p.t;
            mean_x += p.x;
        }
        mean_t /= segment.size();
        mean_x /= segment.size();
        means.emplace_back(mean_t, mean_x);
        for (const Point &p : segment) {
            cross += (p.t - mean_t) * (p.x - mean_x);
            fit.time_squares += (p.t - mean_t) * (p.t - mean_t);
        }
        fit.points += segment.size();
    }
    fit.slope = cross / fit.time_squares;
    for (size_t s = 0; s < segments.size(); ++s) {
        for (const Point &p : segments[s]) {
            const long double r = p.x - means[s].second - fit.slope * (p.t - means[s].first);
            fit.residual_squares += r * r;
        }
    }
    return fit;
}

FrequencySums streamed(const std::vector<std::vector<Point>> &segments) {
    FrequencySums sums = {};
    for (const auto &segment : segments) {
        start_frequency_segment(sums);
        for (const Point &p : segment) {
            add_frequency_point(sums, p.t, p.x);
        }
    }
    return sums;
}

TEST(AnalyzeFrequency, PooledSlopeWithAnInterceptPerSegment) {
    // x = 5 + 0.5 t + e over uneven times, a second segment 1 - 0.1 t + e,
    // of 1000 and 7 points, and a segment of one point.
    std::mt19937_64 random(6);
    std::normal_distribution<double> noise(0.0, 2.0);
    std::uniform_real_distribution<double> spacing(0.5, 1.5);
    std::vector<std::vector<Point>> segments(3);
    double t = 0;
    for (int i = 0; i < 1000; ++i, t += spacing(random)) {
        segments[0].push_back({t, 5 + 0.5 * t + noise(random)});
    }
    t = 0;
    for (int i = 0; i < 7; ++i, t += spacing(random)) {
        segments[1].push_back({t, 1 - 0.1 * t + noise(random)});
    }
    segments[2].push_back({0, 1e6});
    const TwoPassFit direct = two_pass_fit(segments);
    FrequencyFigures f = frequency_figures(streamed(segments), 1e-6);
    ASSERT_TRUE(f.has_offset && f.has_stderr);
    EXPECT_NEAR(f.offset_ppm, static_cast<double>(direct.slope) * 1e6, 1e-6);
    EXPECT_NEAR(f.residual_rms_ms, static_cast<double>(std::sqrt(direct.residual_squares / 1008) * 1e-3), 1e-12);
    EXPECT_NEAR(f.fit_stderr,
                static_cast<double>(std::sqrt(direct.residual_squares / (1008 - 3 - 1) / direct.time_squares)), 1e-12);

    // Single points fit no slope; two points in one segment leave no
    // degrees of freedom.
    FrequencySums sums = {};
    start_frequency_segment(sums);
    add_frequency_point(sums, 0, 4);
    EXPECT_FALSE(frequency_figures(sums, 1).has_offset);
    add_frequency_point(sums, 2, 6);
    f = frequency_figures(sums, 1);
    EXPECT_TRUE(f.has_offset && !f.has_stderr);
    EXPECT_EQ(f.offset_ppm, 1e6);
}

TEST(AnalyzeFrequency, ALargeOffsetCancelsNoDigitsOfTheResiduals) {
    // A day of seconds at +100 ppm with 0.5 µs of white phase noise, in
    // whole 0.1 µs units as a log gives them, split in two segments: the
    // drift is 10^6 times the noise.
    std::mt19937_64 random(7);
    std::normal_distribution<double> noise(0.0, 5.0);
    std::vector<std::vector<Point>> segments(2);
    for (size_t s = 0; s < 2; ++s) {
        for (int i = 0; i < 500'000; ++i) {
            const double t = i * 1e7;
            segments[s].push_back({t, std::nearbyint(100e-6 * t + noise(random))});
        }
    }
    const TwoPassFit direct = two_pass_fit(segments);
    const FrequencyFigures f = frequency_figures(streamed(segments), 1e-7);
    ASSERT_TRUE(f.has_stderr);
    const double rms_ms = static_cast<double>(std::sqrt(direct.residual_squares / 1e6)) * 1e-4;
    const double stderr_fit = static_cast<double>(std::sqrt(direct.residual_squares / (1e6 - 3) / direct.time_squares));
    EXPECT_NEAR(f.residual_rms_ms, rms_ms, rms_ms * 1e-6);
    EXPECT_NEAR(f.fit_stderr, stderr_fit, stderr_fit * 1e-6);
    EXPECT_NEAR(f.offset_ppm, static_cast<double>(direct.slope) * 1e6, 1e-9);
}

}  // namespace

// Without an uncertainty an offset is told neither way, slews or not.
TEST(AnalyzeFrequency, ACaveatSaysNotSignificantOnlyWhereAnUncertaintySaysSo) {
    FrequencyFigures f{};
    f.has_offset = true;
    f.offset_ppm = 0.5;
    EXPECT_STREQ(offset_caveat(f, false), "");
    EXPECT_STREQ(offset_caveat(f, true), "fitted across slews");
    f.has_uncertainty = true;
    f.uncertainty_ppm = 0.3;
    EXPECT_STREQ(offset_caveat(f, false), "not significant");
    EXPECT_STREQ(offset_caveat(f, true), "fitted across slews, not significant");
    f.uncertainty_ppm = 0.2;
    EXPECT_STREQ(offset_caveat(f, true), "fitted across slews");
}
