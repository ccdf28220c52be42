// What the outputs say of a run, or of all runs together: the figures
// derived from its accumulators, computed here once and read by every
// output (text, JSON, HTML, metrics, the status line).
#pragma once

#include <cstdint>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/frequency.h"
#include "analyze/accumulate/phase.h"
#include "analyze/accumulate/stability.h"
#include "analyze/accumulate/statistics.h"

struct RunFigures {
    // Of the regular lines (phase.h); NaN without one.
    bool has_regular_lines;
    double difference_mean_ms;
    double difference_rms_ms;
    // The clock's rate over the samples that are not steps.
    bool has_rate;
    double rate_ppm;
    // τ0, the phase points' spacing; NaN without a sample.
    double tau0_s;
    // With its uncertainty whatever the noise, from the stability below.
    FrequencyFigures frequency;
    // The τ listed (phase.h's list_phase_stability), in order, with the
    // intervals asked for.
    int stability_count;
    StabilityPoint stability[STABILITY_TAUS];
    // Of the regular lines' differences, where they were counted.
    bool has_percentiles;
    uint64_t percentile_values;  // how many there are
    Percentiles percentiles;
    // Some line the fit spans had its adjustment slew the clock.
    bool fitted_across_slews;
    // The segments: how many, and the first ones' own figures (a total
    // lists none).
    int segment_count;
    uint64_t segments;
    SegmentFigures segment[MAX_KEPT_SEGMENTS];
};

// differences: the regular lines' differences of the same samples, or
// nullptr where they were not counted. intervals: the OADEV's alone where
// no output shows the others (their degrees of freedom are costly).
RunFigures figures_of(const RunStatistics &statistics, const DifferenceCounts *differences,
                      StabilityIntervals intervals);
