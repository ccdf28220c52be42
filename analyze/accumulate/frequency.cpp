#include "analyze/accumulate/frequency.h"

#include <cmath>

namespace {

// Two fits pooled: the common slope, and each fit's residuals about it,
// Σ Stt_k (b_k - b)², added to their own (all terms positive).
void pool_fit(FrequencyFit &into, const FrequencyFit &from) {
    into.points += from.points;
    into.segments += from.segments;
    const double time_squares = into.time_squares + from.time_squares;
    if (time_squares > 0) {
        const double apart = from.slope - into.slope;
        into.residual_squares +=
            from.residual_squares + into.time_squares * from.time_squares / time_squares * apart * apart;
        into.slope += from.time_squares / time_squares * apart;
    } else {
        into.residual_squares += from.residual_squares;
    }
    into.time_squares = time_squares;
}

// The open segment's own fit.
FrequencyFit open_fit(const FrequencySums &sums) {
    FrequencyFit fit = {};
    fit.points = sums.open_points;
    fit.segments = 1;
    fit.time_squares = sums.time_squares;
    fit.slope = sums.base_slope;
    fit.residual_squares = sums.y_squares;
    if (sums.time_squares > 0) {
        const double correction = sums.cross / sums.time_squares;
        fit.slope += correction;
        fit.residual_squares = std::fmax(sums.y_squares - correction * sums.cross, 0.0);
    }
    return fit;
}

}  // namespace

void start_frequency_segment(FrequencySums &sums) {
    if (sums.open_points > 0) {
        pool_fit(sums.closed, open_fit(sums));
    }
    const FrequencyFit closed = sums.closed;
    sums = FrequencySums{};
    sums.closed = closed;
}

void add_frequency_point(FrequencySums &sums, double t, double x) {
    const uint64_t n = ++sums.open_points;
    // (The reciprocal first, off the chain of means from point to point.)
    const double share = 1 / static_cast<double>(n);
    const double y = x - sums.base_slope * t;
    const double from_old_time = t - sums.mean_time;
    const double from_old_y = y - sums.mean_y;
    sums.mean_time += from_old_time * share;
    sums.mean_y += from_old_y * share;
    const double from_new_y = y - sums.mean_y;
    sums.time_squares += from_old_time * (t - sums.mean_time);
    sums.cross += from_old_time * from_new_y;
    sums.y_squares += from_old_y * from_new_y;
    // At 2, 4, 8, ... points: y about the segment's fit so far. What is
    // subtracted here is no larger than the residuals plus the fit's
    // misfit since the last time, so few digits go.
    if ((n & (n - 1)) == 0 && n >= 2 && sums.time_squares > 0) {
        const double correction = sums.cross / sums.time_squares;
        sums.base_slope += correction;
        sums.mean_y -= correction * sums.mean_time;
        sums.y_squares = std::fmax(sums.y_squares - correction * sums.cross, 0.0);
        sums.cross = 0;
    }
}

void add_frequency(FrequencySums &into, const FrequencySums &from) {
    pool_fit(into.closed, from.closed);
    if (from.open_points > 0) {
        pool_fit(into.closed, open_fit(from));
    }
}

FrequencyFigures frequency_figures(const FrequencySums &sums, double unit_s) {
    FrequencySums all = {};
    add_frequency(all, sums);
    const FrequencyFit &fit = all.closed;
    FrequencyFigures figures = {};
    if (!(fit.time_squares > 0)) {
        return figures;
    }
    figures.has_offset = true;
    figures.offset_ppm = fit.slope * 1e6;
    figures.residual_rms_ms = std::sqrt(fit.residual_squares / static_cast<double>(fit.points)) * unit_s * 1e3;
    figures.time_squares_s2 = fit.time_squares * unit_s * unit_s;
    if (fit.points > fit.segments + 1) {
        figures.has_stderr = true;
        figures.fit_stderr =
            std::sqrt(fit.residual_squares / static_cast<double>(fit.points - fit.segments - 1) / fit.time_squares);
    }
    return figures;
}

FrequencyFigures open_segment_frequency(const FrequencySums &sums, double unit_s) {
    FrequencySums open = sums;
    open.closed = FrequencyFit{};
    return frequency_figures(open, unit_s);
}

const char *offset_caveat(const FrequencyFigures &f, bool across_slews) {
    const bool insignificant = f.has_uncertainty && !offset_significant(f);
    if (across_slews) {
        return insignificant ? "fitted across slews, not significant" : "fitted across slews";
    }
    return insignificant ? "not significant" : "";
}
