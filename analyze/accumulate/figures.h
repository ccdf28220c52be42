// What the outputs say of a run, or of all runs together: the figures
// derived from its accumulators, computed here once and read by every
// output (text, JSON, HTML, metrics, the status line).
#pragma once

#include <cstdint>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/frequency.h"
#include "analyze/accumulate/stability.h"
#include "analyze/accumulate/statistics.h"

struct RunFigures {
    // Of every sample; NaN without one.
    bool has_samples;
    double difference_mean_ms;
    double difference_rms_ms;
    // The clock's rate over the samples that are not steps.
    bool has_rate;
    double rate_ppm;
    FrequencyFigures frequency;
    // The τ with n >= 2, in order.
    int stability_count;
    StabilityPoint stability[STABILITY_TAUS];
    // Of the unmarked lines' differences, where they were counted.
    bool has_percentiles;
    uint64_t percentile_values;  // how many there are
    Percentiles percentiles;
};

// differences: the unmarked lines' differences of the same samples, or
// nullptr where they were not counted.
RunFigures figures_of(const RunStatistics &statistics, const DifferenceCounts *differences);
