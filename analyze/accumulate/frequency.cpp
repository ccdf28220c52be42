#include "analyze/accumulate/frequency.h"

#include <cmath>

// The open segment's sums, moved to the closed ones.
static void pool_open_segment(FrequencySums &into, const FrequencySums &from) {
    if (from.open_points == 0) {
        return;
    }
    const auto n = static_cast<double>(from.open_points);
    into.points += from.open_points;
    ++into.segments;
    into.time_squares += n * (n * n - 1) / 12;  // t = 0 .. n-1
    into.cross += from.open_cross;
    into.phase_squares += from.open_phase_squares;
}

void start_frequency_segment(FrequencySums &sums) {
    pool_open_segment(sums, sums);
    sums.open_points = 0;
    sums.open_mean = 0;
    sums.open_cross = 0;
    sums.open_phase_squares = 0;
}

void add_frequency_point(FrequencySums &sums, double x) {
    const uint64_t n = ++sums.open_points;
    const auto nd = static_cast<double>(n);
    // (The reciprocal first, off the chain of means from point to point.)
    const double share = 1 / nd;
    const double from_old_mean = x - sums.open_mean;
    sums.open_mean += from_old_mean * share;
    const double from_new_mean = x - sums.open_mean;
    // t = n - 1 is n/2 from the mean of 0 .. n-2.
    sums.open_cross += nd / 2 * from_new_mean;
    sums.open_phase_squares += from_old_mean * from_new_mean;
}

void add_frequency(FrequencySums &into, const FrequencySums &from) {
    into.points += from.points;
    into.segments += from.segments;
    into.time_squares += from.time_squares;
    into.cross += from.cross;
    into.phase_squares += from.phase_squares;
    pool_open_segment(into, from);
}

FrequencyFigures frequency_figures(const FrequencySums &sums, double unit_s) {
    FrequencySums all = {};
    add_frequency(all, sums);
    FrequencyFigures figures = {};
    if (!(all.time_squares > 0)) {
        return figures;
    }
    const double slope = all.cross / all.time_squares;
    const double residual_squares = std::fmax(all.phase_squares - slope * all.cross, 0.0);
    figures.has_offset = true;
    figures.offset_ppm = slope * unit_s * 1e6;
    figures.residual_rms_ms = std::sqrt(residual_squares / static_cast<double>(all.points)) * unit_s * 1e3;
    if (all.points > all.segments + 1) {
        figures.has_stderr = true;
        figures.stderr_ppm = std::sqrt(residual_squares / static_cast<double>(all.points - all.segments - 1)) /
                             std::sqrt(all.time_squares) * unit_s * 1e6;
    }
    return figures;
}
