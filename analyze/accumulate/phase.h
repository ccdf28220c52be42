// A run's phase (time error), segment by segment, from its report lines:
// what its stability and its frequency offset are computed from.
//
// A boundary line (marked "><", or with a counter interval outside 500 to
// 1500 ms) adds no difference, and a new segment starts at its sample. The
// segment's points are x_0 = 0 and x_k = x_{k-1} + d_k, d_k the difference
// of its k-th line. A run whose first line is no boundary starts a segment
// at the run's start.
#pragma once

#include "analyze/accumulate/frequency.h"
#include "analyze/accumulate/stability.h"
#include "analyze/parse/log_line.h"

// The phase unit: the difference's last decimal, 0.0001 ms. In it the
// phase stays a whole number, summed without rounding.
constexpr double PHASE_UNIT_S = 1e-7;
constexpr double SEGMENT_INTERVAL_MIN_MS = 500.0;
constexpr double SEGMENT_INTERVAL_MAX_MS = 1500.0;

struct RunPhase {
    bool segment_open;
    StabilitySums stability;
    FrequencySums frequency;
};

bool is_segment_boundary(const ReportFields &sample);
void start_phase(RunPhase &phase);
// segment: the working storage of the run's open segment.
void add_to_phase(RunPhase &phase, PhaseSegment &segment, const ReportFields &sample);
void add_phase_to_total(RunPhase &total, const RunPhase &run);
