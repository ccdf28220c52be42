// A clock's frequency offset: the least-squares slope of its phase against
// time (in steps of τ0 = 1 s), pooled over segments each with an intercept
// of its own, gathered one phase point at a time.
#pragma once

#include <cstdint>

// Sums about each segment's own means. The open segment's are updated with
// each point (Welford's way, free of the cancellation of raw sums) and
// pooled when it closes.
struct FrequencySums {
    uint64_t points;       // N, closed segments
    uint64_t segments;     // S, closed segments
    double time_squares;   // Σ (t - t̄)²
    double cross;          // Σ (t - t̄)(x - x̄)
    double phase_squares;  // Σ (x - x̄)²

    uint64_t open_points;  // 0: no open segment
    double open_mean;
    double open_cross;
    double open_phase_squares;
};

struct FrequencyFigures {
    bool has_offset;  // some segment has two points: the residuals too
    double offset_ppm;
    double residual_rms_ms;
    bool has_stderr;  // and N - S - 1 > 0
    double stderr_ppm;
};

// Closes the open segment, if any, and opens one without points.
void start_frequency_segment(FrequencySums &sums);
// The open segment's next point (t = 0, 1, ...).
void add_frequency_point(FrequencySums &sums, double x);
// Pools from's segments, its open one too, into into's closed ones.
void add_frequency(FrequencySums &into, const FrequencySums &from);
// unit_s: the phase unit in seconds.
FrequencyFigures frequency_figures(const FrequencySums &sums, double unit_s);
