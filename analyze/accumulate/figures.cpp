#include "analyze/accumulate/figures.h"

#include <cmath>

RunFigures figures_of(const RunStatistics &statistics, const DifferenceCounts *differences,
                      StabilityIntervals intervals) {
    RunFigures f = {};
    f.has_regular_lines = statistics.regular_lines > 0;
    f.difference_mean_ms = difference_mean(statistics);
    f.difference_rms_ms = difference_rms(statistics);
    f.has_rate = run_rate_ppm(statistics, f.rate_ppm);
    f.tau0_s = statistics.samples > 0 ? phase_spacing_s(statistics.phase) : NAN;
    // The uncertainty needs the noise and the degrees of freedom the
    // listing finds: listed first.
    f.stability_count = list_phase_stability(statistics.phase, f.stability, intervals);
    f.frequency = phase_frequency(statistics.phase, f.stability, f.stability_count);
    const RunPhase &phase = statistics.phase;
    f.fitted_across_slews = phase.slewed_lines > 0;
    f.segments = phase.segments_closed + (phase.segment_open ? 1 : 0);
    f.segment_count = phase.kept_segment_count;
    for (int i = 0; i < f.segment_count; ++i) {
        f.segment[i] = phase.kept_segments[i];
    }
    if (phase.segment_open && f.segment_count < MAX_KEPT_SEGMENTS) {
        f.segment[f.segment_count++] = open_segment_figures(phase);
    }
    f.has_percentiles = differences != nullptr;
    if (f.has_percentiles) {
        f.percentile_values = differences->values;
        f.percentiles = difference_percentiles(*differences);
    }
    return f;
}
