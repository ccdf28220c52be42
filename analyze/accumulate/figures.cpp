#include "analyze/accumulate/figures.h"

#include <cmath>

RunFigures figures_of(const RunStatistics &statistics, const DifferenceCounts *differences) {
    RunFigures f = {};
    f.has_samples = statistics.samples > 0;
    f.difference_mean_ms = f.has_samples ? difference_mean(statistics) : NAN;
    f.difference_rms_ms = f.has_samples ? difference_rms(statistics) : NAN;
    f.has_rate = run_rate_ppm(statistics, f.rate_ppm);
    f.frequency = frequency_figures(statistics.phase.frequency, PHASE_UNIT_S);
    f.stability_count = list_stability(statistics.phase.stability, PHASE_UNIT_S, f.stability);
    f.has_percentiles = differences != nullptr;
    if (f.has_percentiles) {
        f.percentile_values = differences->values;
        f.percentiles = difference_percentiles(*differences);
    }
    return f;
}
