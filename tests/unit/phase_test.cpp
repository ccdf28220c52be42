// A run's phase, segment by segment, from its report lines.
#include <gtest/gtest.h>

#include <cmath>

#include "analyze/accumulate/phase.h"
#include "analyze/parse/log_line.h"

namespace {

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

}  // namespace
