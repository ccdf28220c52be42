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
    uint64_t lost_points;     // of missing_points, those of the lost lines
    bool starts_segment;
    bool ends_on_point;  // a point of the grid lies at its sample
};

// Why a segment began.
enum class SegmentBoundary {
    run_start,
    step,        // a marked line
    lost_lines,  // lines lost from the log before its first
    gap,         // a gap line longer than the longest τ
};

// Its name in every output: "run start", "step", "lost lines", "gap".
const char *segment_boundary_name(SegmentBoundary boundary);

// The few τ a segment's own OADEV is given at: m = 2^k = 1, 16, 256.
constexpr int SEGMENT_OADEV_TAUS = 3;
constexpr int SEGMENT_OADEV_K[SEGMENT_OADEV_TAUS] = {0, 4, 8};
// A run's first segments are given one by one; the rest are counted.
constexpr int MAX_KEPT_SEGMENTS = 20;

// One segment's own figures: what the pooled ones are made of.
struct SegmentFigures {
    SegmentBoundary boundary;
    int64_t start_utc_ms;  // its first and last line's sample time, or UNKNOWN_TIME_MS
    int64_t end_utc_ms;
    uint64_t points;        // the phase points present
    uint64_t slewed_lines;  // its lines whose adjustment slewed the clock
    FrequencyFigures frequency;
    double oadev[SEGMENT_OADEV_TAUS];  // NaN where it has no term
};

struct RunPhase {
    bool segment_open;
    // The open segment: its figures so far, and the stability sums
    // before its first point (its own are the difference).
    SegmentFigures segment;
    StabilitySums segment_start;
    // The closed segments: the first ones' figures; and for the shares of
    // the pooled stability, their points, and at each τ those of the
    // segments long enough to have a term there.
    uint64_t segments_closed;
    int kept_segment_count;
    SegmentFigures kept_segments[MAX_KEPT_SEGMENTS];
    uint64_t closed_points;
    uint64_t contributing_points[STABILITY_TAUS];
    uint64_t slewed_lines;       // over every segment, the open one too
    SegmentFigures last_closed;  // as segment_fit gives it, or better
    double x;                    // the open segment's phase after the last line, phase units
    double t;                    // the counter's time from its x_0 to the last line, phase units
    int64_t previous_utc_ms;     // the last line's sample time, UNKNOWN_TIME_MS if none
    double regular_interval_sum_ms;
    uint64_t regular_lines;
    PhaseLine last_line;
    uint64_t point_index;  // of the open segment's last point, missing ones counted
    // The sums over every segment; the open one's last terms may still
    // wait in its storage's block (the readers below flush them).
    StabilitySums stability;
    PhaseSegment *segment_storage;  // the open segment's, or none
    NoiseSums noise;
    FrequencySums frequency;
};

void start_phase(RunPhase &phase);
// segment: the working storage of the run's open segment for the
// stability; none, and the phase, counts and frequency are still kept.
const PhaseLine &add_to_phase(RunPhase &phase, PhaseSegment *segment, const ReportFields &sample);
// Pools the run's stability, noise and frequency (and the shares) into the
// total; its segments are its own.
void add_phase_to_total(RunPhase &total, const RunPhase &run);
// The open segment's fit alone, cheap: its offset without uncertainty,
// no deviations.
SegmentFigures segment_fit(const RunPhase &phase);
// The open segment's figures so far (none open: its points are 0).
SegmentFigures open_segment_figures(const RunPhase &phase);
// The open segment as it is kept once closed: all its figures while the
// run has room for them, its fit alone after.
SegmentFigures open_segment_as_kept(const RunPhase &phase);
// The share of the phase's points whose segments have a term at m = 2^k:
// 1 where they all have, 0 without points.
double stability_share(const RunPhase &phase, int k);
// τ0 in seconds: the regular lines' mean interval, or the nominal one.
double phase_spacing_s(const RunPhase &phase);

// Below this share of the points, a τ of the pooled stability says more of
// the few segments long enough for it than of the run: it is marked.
constexpr double STABILITY_MIN_SHARE = 0.5;

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
