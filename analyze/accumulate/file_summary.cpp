#include "analyze/accumulate/file_summary.h"

#include <cmath>

namespace {

// The index at which the count so far reaches share of all kept values.
int index_at_share(const DifferenceCounts &counts, uint64_t kept, double share) {
    const auto target = static_cast<uint64_t>(std::ceil(share * static_cast<double>(kept)));
    uint64_t seen = 0;
    for (int i = counts.lowest; i <= counts.highest; ++i) {
        seen += counts.counts[i];
        if (seen >= target && seen > 0) {
            return i;
        }
    }
    return counts.highest;
}

}  // namespace

DifferenceHistogram difference_histogram(const DifferenceCounts &counts) {
    DifferenceHistogram h = {};
    h.kept = counts.values - counts.below - counts.above;
    h.outside_below = counts.below;
    h.outside_above = counts.above;
    h.width = 1;
    if (h.kept == 0) {
        return h;
    }
    const int first = index_at_share(counts, h.kept, 0.001);
    const int last = index_at_share(counts, h.kept, 0.999);
    constexpr int mantissas[] = {1, 2, 5};
    for (int k = 1, power = 1; (last - first) / h.width + 2 > MAX_HISTOGRAM_BINS; ++k) {
        power *= k % 3 == 0 ? 10 : 1;
        h.width = mantissas[k % 3] * power;
    }
    h.start = first - ((first % h.width) + h.width) % h.width;
    h.bins = (last - h.start) / h.width + 1;
    for (int i = counts.lowest; i <= counts.highest; ++i) {
        if (i < h.start) {
            h.outside_below += counts.counts[i];
        } else if (i >= h.start + h.bins * h.width) {
            h.outside_above += counts.counts[i];
        } else {
            h.counts[(i - h.start) / h.width] += counts.counts[i];
        }
    }
    return h;
}

void summarise_file(FileSummary &summary, const char *name, int32_t runs, const RunStatistics &statistics,
                    const EpisodeTotals &episodes, const DifferenceCounts &counts, StabilityIntervals intervals) {
    summary.name = name;
    summary.runs = runs;
    summary.statistics = statistics;
    summary.statistics.phase_segment = nullptr;
    summary.statistics.difference_counts = nullptr;
    summary.episodes = episodes;
    summary.figures = figures_of(statistics, &counts, intervals);
    summary.histogram = difference_histogram(counts);
}

const StabilityPoint *stability_at(const FileSummary &summary, int m) {
    // The listing starts at m = 1 and leaves no power of 2 out.
    for (int k = 0; k < summary.figures.stability_count; ++k) {
        if (1 << k == m) {
            return &summary.figures.stability[k];
        }
    }
    return nullptr;
}
