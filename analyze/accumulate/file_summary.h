// What one log file amounts to, pooled over its runs, kept small once the
// file is read: the figures that set several files side by side.
#pragma once

#include <cstdint>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/statistics.h"

constexpr int MAX_HISTOGRAM_BINS = 81;

// The differences' distribution in at most MAX_HISTOGRAM_BINS bins over
// the middle 99.8 % of the kept values (a lone outlier would squeeze the
// rest into a bar), each bin 1, 2 or 5 times a power of ten of 0.0001 ms.
struct DifferenceHistogram {
    int start;  // the first bin's first index in DifferenceCounts
    int width;  // indices per bin
    int bins;   // 0: no value within ±20 ms
    uint64_t kept;
    uint64_t outside_below;  // the kept values left of the bins, and those beyond ±20 ms
    uint64_t outside_above;
    uint64_t counts[MAX_HISTOGRAM_BINS];
};

DifferenceHistogram difference_histogram(const DifferenceCounts &counts);
inline double histogram_low_ms(const DifferenceHistogram &h) {
    return difference_of_index(h.start) - 0.5 / DIFFERENCE_STEPS_PER_MS;
}
inline double histogram_bin_ms(const DifferenceHistogram &h) {
    return static_cast<double>(h.width) / DIFFERENCE_STEPS_PER_MS;
}

struct FileSummary {
    const char *name;
    int32_t runs;
    RunStatistics statistics;  // pooled over its runs; its storage pointers cleared
    EpisodeTotals episodes;
    RunFigures figures;  // figures_of its statistics and counts
    DifferenceHistogram histogram;
};

// statistics: the file's runs pooled; counts: their regular lines'
// differences; intervals: as figures_of's.
void summarise_file(FileSummary &summary, const char *name, int32_t runs, const RunStatistics &statistics,
                    const EpisodeTotals &episodes, const DifferenceCounts &counts, StabilityIntervals intervals);
// The stability point at τ = m·τ0 (m a power of 2), or nullptr where there
// is none: files of different τ0 compare at the same m.
const StabilityPoint *stability_at(const FileSummary &summary, int m);
