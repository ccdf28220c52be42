// A run's phase (time error), segment by segment, from its report lines:
// what its stability and its frequency offset are computed from.
//
// The points lie on a grid of τ0, the mean counter interval of the regular
// lines (unmarked, 500 to 1500 ms). A segment's x_0 = 0, and each line adds
// its difference to the phase:
// - a regular line ends on the next point;
// - a gap line (unmarked, its interval outside 500 to 1500 ms) ends
//   round(interval / τ0) points on, the ones between missing; a short one
//   (0 points on) adds to the point the next line ends on;
// - a marked line, and a gap line longer than the longest τ, add nothing
//   and start a new segment at their sample;
// - lines lost from the log (the sample times jump by more than the line's
//   own interval) take their differences with them: the line after them
//   starts a new segment at the start of its interval.
// A run's first segment starts at the start of its first line's interval.
#pragma once

#include <cstdint>

#include "analyze/accumulate/frequency.h"
#include "analyze/accumulate/noise.h"
#include "analyze/accumulate/stability.h"
#include "analyze/parse/log_line.h"

// The phase unit: the difference's last decimal, 0.0001 ms. In it the
// phase and the counter's elapsed time stay whole numbers, summed without
// rounding.
constexpr double PHASE_UNIT_S = 1e-7;
constexpr double REGULAR_INTERVAL_MIN_MS = 500.0;
constexpr double REGULAR_INTERVAL_MAX_MS = 1500.0;
// τ0 until a regular line has been seen.
constexpr double NOMINAL_SPACING_MS = 1000.0;

enum class PhaseLineKind {
    regular,
    gap,     // unmarked, its interval outside 500 to 1500 ms
    marked,  // "><"
};

// What one line did.
struct PhaseLine {
    PhaseLineKind kind;
    uint64_t missing_points;  // before its own (lost lines' included)
    bool lost_lines;          // the sample times say lines are missing
    bool starts_segment;
    bool ends_on_point;  // a point of the grid lies at its sample
};

struct RunPhase {
    bool segment_open;
    double x;                 // the open segment's phase after the last line, phase units
    double t;                 // the counter's time from its x_0 to the last line, phase units
    int64_t previous_utc_ms;  // the last line's sample time, UNKNOWN_TIME_MS if none
    double regular_interval_sum_ms;
    uint64_t regular_lines;
    PhaseLine last_line;
    uint64_t point_index;  // of the open segment's last point, missing ones counted
    StabilitySums stability;
    NoiseSums noise;
    FrequencySums frequency;
};

void start_phase(RunPhase &phase);
// segment: the working storage of the run's open segment for the
// stability; none, and the phase, counts and frequency are still kept.
PhaseLine add_to_phase(RunPhase &phase, PhaseSegment *segment, const ReportFields &sample);
void add_phase_to_total(RunPhase &total, const RunPhase &run);
// τ0 in seconds: the regular lines' mean interval, or the nominal one.
double phase_spacing_s(const RunPhase &phase);

// Which intervals a listing gives: their degrees of freedom are costly, and
// the text shows only the OADEV's.
enum class StabilityIntervals { all, oadev };
// The τ listed, in order, with their 68 % intervals and noise: each while
// its OADEV has at least 1 degree of freedom, for the noise identified at
// it, or, where none is, for the least favourable noise (alpha then
// NOISE_UNKNOWN). Returns how many.
int list_phase_stability(const RunPhase &phase, StabilityPoint out[STABILITY_TAUS],
                         StabilityIntervals intervals = StabilityIntervals::all);
// The frequency offset and its uncertainty whatever the noise, from the
// phase and its listed stability (the degrees of freedom are costly:
// list them once).
FrequencyFigures phase_frequency(const RunPhase &phase, const StabilityPoint *points, int count);
