// A run's phase, segment by segment, from its report lines.
#include <gtest/gtest.h>

#include <cmath>

#include "analyze/accumulate/phase.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"

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

}  // namespace
