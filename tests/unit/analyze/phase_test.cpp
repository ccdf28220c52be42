// A run's phase, segment by segment, from its report lines.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "analyze/accumulate/phase.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"
#include "tests/support/power_law_noise.h"

namespace {

TEST(AnalyzePhase, GapsKeepThePhaseLostLinesAndStepsStartSegments) {
    static PhaseSegment segment;
    RunPhase phase;
    start_phase(phase);
    double utc_ms = 1.7e12;
    // A line ending `lost` lines after the one before it.
    auto line = [&](double counter_ms, double difference_ms, bool marked = false, int lost = 0) {
        utc_ms += lost * 1000.0 + counter_ms + difference_ms;
        return add_to_phase(phase, &segment,
                            ReportFields{static_cast<int64_t>(std::llround(utc_ms)), counter_ms + difference_ms,
                                         counter_ms, difference_ms, 0, 0, marked});
    };
    // Segment A from the run's start: the short first interval ends on no
    // point, its difference goes into x_1; then x_1 .. x_5 = 1.0 .. 1.4 ms.
    PhaseLine first = line(312.5, 0.9);
    EXPECT_TRUE(first.starts_segment && !first.ends_on_point && first.kind == PhaseLineKind::gap);
    for (int i = 0; i < 5; ++i) {
        line(1000, 0.1);
    }
    // A gap of 3 s: x_6 and x_7 missing, the phase on across it to x_8.
    const PhaseLine gap = line(3000, 0.3);
    EXPECT_EQ(gap.missing_points, 2U);
    EXPECT_FALSE(gap.starts_segment || gap.lost_lines);
    EXPECT_NEAR(phase.x * PHASE_UNIT_S * 1e3, 1.7, 1e-12);
    for (int i = 0; i < 3; ++i) {
        line(1000, 0);
    }
    // 60 lines lost: their differences with them; segment B from the start
    // of the next line's interval, x_1 = 0.2 ms.
    const PhaseLine after_lost = line(1000, 0.2, false, 60);
    EXPECT_TRUE(after_lost.lost_lines && after_lost.starts_segment);
    EXPECT_EQ(after_lost.missing_points, 60U);
    EXPECT_NEAR(phase.x * PHASE_UNIT_S * 1e3, 0.2, 1e-12);
    line(1000, 0.1);
    line(1000, 0.1);
    // A step: segment C from its sample, N = 3.
    EXPECT_TRUE(line(1000, -25, true).starts_segment);
    EXPECT_EQ(phase.x, 0);
    line(1000, 0.05);
    line(1000, 0.05);
    // A gap beyond the longest τ: segment D from its sample, N = 2.
    const PhaseLine long_gap = line((LONGEST_M + 1) * 1000.0, 5);
    EXPECT_TRUE(long_gap.starts_segment);
    EXPECT_EQ(long_gap.missing_points, static_cast<uint64_t>(LONGEST_M));
    line(1000, 0);

    EXPECT_DOUBLE_EQ(phase_spacing_s(phase), 1.0);
    // n for m = 1: A has 12 points, 10 triples, 4 of them through x_6 or
    // x_7; B 4 points, C 3, D 2.
    EXPECT_EQ(phase.stability.tau[0].oadev_terms, 6U + 2 + 1);
    EXPECT_EQ(phase.stability.tau[1].oadev_terms, 2U) << "A: (0, 2, 4) and (1, 3, 5)";
    EXPECT_NEAR(phase.stability.tau[0].mtie, 10'000, 1e-9) << "x_0 to x_1 in A, 0.0001 ms units";
    FrequencySums pooled = {};
    add_frequency(pooled, phase.frequency);
    EXPECT_EQ(pooled.closed.points, 10U + 4 + 3 + 2) << "the present points";
    EXPECT_EQ(pooled.closed.segments, 4U);
}

TEST(AnalyzePhase, DeviationsCarryIntervalsAndNoiseAndTheOffsetItsUncertainty) {
    // White FM: each line's difference independent, 0.01 ms, over 4000
    // lines of 1015.6 ms. The phase is a random walk, which the classical
    // standard error of the slope understates.
    static PhaseSegment segment;
    RunPhase phase;
    start_phase(phase);
    std::mt19937_64 random(11);
    std::normal_distribution<double> noise(0.0, 0.01);
    for (int i = 0; i < 4000; ++i) {
        const double difference = std::nearbyint(noise(random) * 1e4) / 1e4;
        add_to_phase(phase, &segment,
                     ReportFields{UNKNOWN_TIME_MS, 1015.6 + difference, 1015.6, difference, 0, 0, false});
    }
    StabilityPoint points[STABILITY_TAUS];
    const int count = list_phase_stability(phase, points);
    // m = 1024 has n = 1953 terms in one stretch, EDF about 2.3 for white
    // FM; m = 2048, none.
    ASSERT_EQ(count, 11);
    for (int i = 0; i < count; ++i) {
        const StabilityPoint &p = points[i];
        EXPECT_NEAR(p.tau_s, 1.0156 * (1 << i), 1e-9);
        EXPECT_TRUE(p.oadev_low < p.oadev && p.oadev < p.oadev_high) << i;
        EXPECT_TRUE(p.hdev_low < p.hdev && p.hdev < p.hdev_high) << i;
        EXPECT_NEAR(p.tdev_low_ns / p.mdev_low, p.tdev_ns / p.mdev, 1e-6 * p.tdev_ns / p.mdev) << i;
        if (i < 6) {
            EXPECT_EQ(p.alpha, 0) << i;
        }
    }
    // σ_y(τ0) = 0.01 ms / 1.0156 s; the slope's standard deviation for
    // white FM over N intervals is σ_y(τ0)·√(6/5 / N).
    const FrequencyFigures f = phase_frequency(phase, points, count);
    ASSERT_TRUE(f.has_uncertainty);
    const double expected_ppm = 1e-5 / 1.0156 * std::sqrt(1.2 / 4000) * 1e6;
    EXPECT_GT(f.uncertainty_ppm, 0.7 * expected_ppm);
    EXPECT_LT(f.uncertainty_ppm, 1.4 * expected_ppm);
    EXPECT_LT(f.fit_stderr * 1e6, 0.5 * expected_ppm) << "the classical error alone";
}

TEST(AnalyzePhase, WhitePmOverAFrequencyWanderIsNotTakenForFm) {
    // White PM of 20 µs and random-walk FM 9x below it in the Allan variance
    // at m = 256: the wander, too small to count there, makes the
    // once-differenced points read as white FM from m = 32 on.
    static PhaseSegment segment;
    RunPhase phase;
    start_phase(phase);
    const size_t n = 200'000;
    const std::vector<double> white = power_law_phase(2, n, 31);
    const std::vector<double> walk = power_law_phase(-2, n, 32);
    double previous = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = std::nearbyint(200 * white[i] + 0.0488 * walk[i]);  // 0.1 µs units
        const double difference = (x - previous) * 1e-4;                     // ms
        if (i > 0) {
            add_to_phase(phase, &segment,
                         ReportFields{UNKNOWN_TIME_MS, 1000 + difference, 1000, difference, 0, 0, false});
        }
        previous = x;
    }
    StabilityPoint points[STABILITY_TAUS];
    ASSERT_GT(list_phase_stability(phase, points), 11);
    for (const int k : {4, 5, 6, 7}) {
        EXPECT_EQ(points[k].alpha, 2) << "m = " << (1 << k);
    }
    EXPECT_EQ(points[11].alpha, -2) << "m = 2048, the random walk";
}

}  // namespace
