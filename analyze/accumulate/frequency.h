// A clock's frequency offset: the least-squares slope of its phase against
// the counter's elapsed time, pooled over segments each with an intercept
// of its own, gathered one phase point at a time.
#pragma once

#include <cstdint>

// The pooled fit of closed segments, as a slope, the time spread and the
// residual sum about it: pooling adds the segments' own residuals and how
// far their slopes lie from the common one, never subtracting.
struct FrequencyFit {
    uint64_t points;          // N
    uint64_t segments;        // S (a segment of one point counts)
    double time_squares;      // Σ (t - t̄_seg)²
    double slope;             // x per t; 0 while time_squares is 0
    double residual_squares;  // Σ r², r = x - x̄_seg - slope·(t - t̄_seg)
};

// The open segment's sums of y = x - base_slope·t about its running means
// (Welford's update). base_slope is set to the segment's own fit at 2, 4,
// 8, ... points, so that y stays about as small as the residuals and its
// sums lose no digits to a large drift.
struct FrequencySums {
    FrequencyFit closed;
    uint64_t open_points;  // 0: no open segment
    double base_slope;
    double mean_time;
    double mean_y;
    double time_squares;  // Σ (t - t̄)²
    double cross;         // Σ (t - t̄)(y - ȳ)
    double y_squares;     // Σ (y - ȳ)²
};

struct FrequencyFigures {
    bool has_offset;  // some segment spans time: the residuals too
    double offset_ppm;
    double residual_rms_ms;
    bool has_stderr;         // and N - S - 1 > 0
    double fit_stderr;       // the slope's classical standard error, fractional
    double time_squares_s2;  // Σ (t - t̄_seg)² in s²
    // Whatever the noise (phase.h's phase_frequency; not here): as
    // has_stderr there.
    bool has_uncertainty;
    double uncertainty_ppm;
};

// Closes the open segment, if any, and opens one without points.
void start_frequency_segment(FrequencySums &sums);
// The open segment's next point: t, its time since the segment's first
// point, and x, both in the same unit.
void add_frequency_point(FrequencySums &sums, double t, double x);
// Pools from's segments, its open one too, into into's closed ones.
void add_frequency(FrequencySums &into, const FrequencySums &from);
// unit_s: the unit of t and x in seconds.
FrequencyFigures frequency_figures(const FrequencySums &sums, double unit_s);
// The open segment's alone.
FrequencyFigures open_segment_frequency(const FrequencySums &sums, double unit_s);

// An offset is told as significant where its 95 % interval, twice its 68 %
// uncertainty either side, leaves 0 out; without an uncertainty, never.
constexpr double SIGNIFICANT_UNCERTAINTIES = 2;
inline bool offset_significant(const FrequencyFigures &f) {
    return f.has_offset && f.has_uncertainty &&
           (f.offset_ppm > 0 ? f.offset_ppm : -f.offset_ppm) > SIGNIFICANT_UNCERTAINTIES * f.uncertainty_ppm;
}

// The uncertainty to round the offset to, 0 where none is known (the
// writers then keep a fixed number of decimals).
inline double known_uncertainty_ppm(const FrequencyFigures &f) { return f.has_uncertainty ? f.uncertainty_ppm : 0; }

// What an offset is worth, when little, in the words of every writer:
// "fitted across slews", "not significant" (only where an uncertainty says
// so), both, or "" for a plain figure.
const char *offset_caveat(const FrequencyFigures &f, bool across_slews);
