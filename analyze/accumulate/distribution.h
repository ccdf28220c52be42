// The distribution of the difference: one count per value the log can
// hold within ±20 ms (its values have four decimals), so that percentiles
// come out exact in fixed memory; and its size in a few coarse buckets.
#pragma once

#include <cstdint>

constexpr int DIFFERENCE_STEPS_PER_MS = 10000;
constexpr int DIFFERENCE_LIMIT_STEPS = 20 * DIFFERENCE_STEPS_PER_MS;
constexpr int DIFFERENCE_VALUES = 2 * DIFFERENCE_LIMIT_STEPS + 1;

constexpr int DIFFERENCE_LISTED = 1024;

constexpr int PERCENTILE_COUNT = 5;
constexpr int PERCENTILE_LEVELS[PERCENTILE_COUNT] = {1, 5, 50, 95, 99};

// About 3 MB: keep it in static storage or value-initialised (zeroed) on
// the heap, and behind a pointer.
struct DifferenceCounts {
    uint64_t values;  // all counted, below and above included
    uint64_t below;   // short of -20 ms, and beyond +20 ms: not kept
    uint64_t above;   // apart (no unmarked line of tickwatch's is)
    int lowest;       // the index range in use
    int highest;
    // The indexes in use, in the order first counted, while there are at
    // most DIFFERENCE_LISTED of them (more: DIFFERENCE_LISTED + 1, and the
    // range is walked): a short run's few values among a wide range.
    int listed_count;
    int listed[DIFFERENCE_LISTED];
    uint64_t counts[DIFFERENCE_VALUES];  // index: difference / 0.0001 ms + 200000
};

struct Percentiles {
    // False where the rank falls among the values beyond ±20 ms, which are
    // not kept; or where there are no values.
    bool known[PERCENTILE_COUNT];
    double ms[PERCENTILE_COUNT];
};

// Back to no values; clears only the range in use.
void start_counts(DifferenceCounts &counts);
void count_difference(DifferenceCounts &counts, double difference_ms);
void add_counts(DifferenceCounts &into, const DifferenceCounts &from);
// By nearest rank: the smallest value with at least p % of the values at
// or below it.
Percentiles difference_percentiles(const DifferenceCounts &counts);
// The level-th percentile of the size |difference|, by nearest rank; false
// without values or where the rank falls beyond ±20 ms.
bool size_percentile(const DifferenceCounts &counts, int level, double &ms);
inline double difference_of_index(int index) {
    return static_cast<double>(index - DIFFERENCE_LIMIT_STEPS) / DIFFERENCE_STEPS_PER_MS;
}

// The size of the difference, |system time - counter| per sample, counted
// into fixed buckets (a 1-2-5 series from 1 us to the 20 ms of a step) and
// summed, so that a query gives its RMS and quantiles over any window.
constexpr int DIFFERENCE_BUCKETS = 14;
constexpr double DIFFERENCE_BUCKET_BOUNDS_MS[DIFFERENCE_BUCKETS] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1,
                                                                    0.2,   0.5,   1,     2,    5,    10,   20};

struct DifferenceSizeBuckets {
    uint64_t samples;
    uint64_t at_most[DIFFERENCE_BUCKETS];  // samples with |difference| <= the bound; cumulative
    double abs_sum_ms;
    double square_sum_ms2;
};

// Every sample, steps included.
void count_difference_size(DifferenceSizeBuckets &histogram, double difference_ms);
