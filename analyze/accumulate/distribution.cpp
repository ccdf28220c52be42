#include "analyze/accumulate/distribution.h"

#include <algorithm>
#include <cmath>

namespace {

bool is_listed(const DifferenceCounts &counts) { return counts.listed_count <= DIFFERENCE_LISTED; }

// A count that was zero: its index in use.
void list_index(DifferenceCounts &counts, int index) {
    if (counts.listed_count < DIFFERENCE_LISTED) {
        counts.listed[counts.listed_count] = index;
    }
    counts.listed_count += counts.listed_count <= DIFFERENCE_LISTED ? 1 : 0;
}

// Whether walking the indexes listed, sorted, costs less than the range.
bool walk_listed(const DifferenceCounts &counts) {
    return is_listed(counts) && counts.listed_count * 16 < counts.highest - counts.lowest;
}

// The listed indexes in increasing order. Beyond a few, by two counting
// passes over ten bits of the index each: a sort by comparisons
// mispredicts about every other branch on them, and took a tenth of the
// time of a log of short runs.
void sort_listed(const DifferenceCounts &counts, int sorted[DIFFERENCE_LISTED]) {
    const int n = counts.listed_count;
    if (n < 64) {
        std::copy(counts.listed, counts.listed + n, sorted);
        std::sort(sorted, sorted + n);
        return;
    }
    constexpr int BITS = 10;
    constexpr int BUCKETS = 1 << BITS;
    static_assert(DIFFERENCE_VALUES <= BUCKETS * BUCKETS, "two passes take a whole index");
    int first_pass[DIFFERENCE_LISTED];
    const int *from = counts.listed;
    int *const passes[2] = {first_pass, sorted};
    for (int pass = 0; pass < 2; ++pass) {
        const int shift = pass * BITS;
        int start[BUCKETS + 1] = {};
        for (int j = 0; j < n; ++j) {
            ++start[((from[j] >> shift) & (BUCKETS - 1)) + 1];
        }
        for (int b = 0; b < BUCKETS; ++b) {
            start[b + 1] += start[b];
        }
        int *const to = passes[pass];
        for (int j = 0; j < n; ++j) {
            to[start[(from[j] >> shift) & (BUCKETS - 1)]++] = from[j];
        }
        from = to;
    }
}

}  // namespace

void start_counts(DifferenceCounts &counts) {
    if (is_listed(counts)) {
        for (int i = 0; i < counts.listed_count; ++i) {
            counts.counts[counts.listed[i]] = 0;
        }
    } else {
        for (int i = counts.lowest; i <= counts.highest; ++i) {
            counts.counts[i] = 0;
        }
    }
    counts.values = 0;
    counts.below = 0;
    counts.above = 0;
    counts.lowest = DIFFERENCE_VALUES;
    counts.highest = -1;
    counts.listed_count = 0;
}

void count_difference(DifferenceCounts &counts, double difference_ms) {
    ++counts.values;
    // Values with four decimals are within a hair of a whole step.
    const double steps = difference_ms * DIFFERENCE_STEPS_PER_MS;
    if (steps < -DIFFERENCE_LIMIT_STEPS - 0.5) {
        ++counts.below;
        return;
    }
    if (steps >= DIFFERENCE_LIMIT_STEPS + 0.5) {
        ++counts.above;
        return;
    }
    const int index = static_cast<int>(steps + (DIFFERENCE_LIMIT_STEPS + 0.5));
    if (counts.counts[index]++ == 0) {
        counts.lowest = index < counts.lowest ? index : counts.lowest;
        counts.highest = index > counts.highest ? index : counts.highest;
        list_index(counts, index);
    }
}

void add_counts(DifferenceCounts &into, const DifferenceCounts &from) {
    if (is_listed(from)) {
        for (int j = 0; j < from.listed_count; ++j) {
            const int i = from.listed[j];
            if (into.counts[i] == 0) {
                list_index(into, i);
            }
            into.counts[i] += from.counts[i];
        }
    } else {
        for (int i = from.lowest; i <= from.highest; ++i) {
            into.counts[i] += from.counts[i];
        }
        into.listed_count = DIFFERENCE_LISTED + 1;
    }
    into.values += from.values;
    into.below += from.below;
    into.above += from.above;
    into.lowest = from.lowest < into.lowest ? from.lowest : into.lowest;
    into.highest = from.highest > into.highest ? from.highest : into.highest;
}

Percentiles difference_percentiles(const DifferenceCounts &counts) {
    Percentiles found = {};
    int next = 0;
    uint64_t at_or_below = counts.below;
    // The rank of each: ceil(p n / 100), at least 1.
    uint64_t ranks[PERCENTILE_COUNT];
    for (int j = 0; j < PERCENTILE_COUNT; ++j) {
        const uint64_t rank = (static_cast<uint64_t>(PERCENTILE_LEVELS[j]) * counts.values + 99) / 100;
        ranks[j] = rank > 0 ? rank : 1;
    }
    if (counts.values == 0) {
        return found;
    }
    while (next < PERCENTILE_COUNT && ranks[next] <= at_or_below) {
        ++next;  // among the values short of -20 ms
    }
    // The indexes in use in order: those listed, sorted, or the range
    // (where the zero counts change nothing).
    int sorted[DIFFERENCE_LISTED];
    const bool listed = walk_listed(counts);
    if (listed) {
        sort_listed(counts, sorted);
    }
    const int steps = listed ? counts.listed_count : counts.highest - counts.lowest + 1;
    for (int k = 0; k < steps && next < PERCENTILE_COUNT; ++k) {
        const int i = listed ? sorted[k] : counts.lowest + k;
        at_or_below += counts.counts[i];
        while (next < PERCENTILE_COUNT && ranks[next] <= at_or_below) {
            found.known[next] = true;
            found.ms[next++] = difference_of_index(i);
        }
    }
    return found;
}

bool size_percentile(const DifferenceCounts &counts, int level, double &ms) {
    if (counts.values == 0) {
        return false;
    }
    const uint64_t rank = (static_cast<uint64_t>(level) * counts.values + 99) / 100;
    // Outward from 0, a size at a time: both signs of each.
    const int widest = std::max(DIFFERENCE_LIMIT_STEPS - counts.lowest, counts.highest - DIFFERENCE_LIMIT_STEPS);
    auto count_at = [&counts](int i) { return i >= counts.lowest && i <= counts.highest ? counts.counts[i] : 0; };
    uint64_t at_or_below = 0;
    for (int k = 0; k <= widest; ++k) {
        at_or_below += count_at(DIFFERENCE_LIMIT_STEPS + k);
        if (k > 0) {
            at_or_below += count_at(DIFFERENCE_LIMIT_STEPS - k);
        }
        if (at_or_below >= std::max<uint64_t>(rank, 1)) {
            ms = difference_of_index(DIFFERENCE_LIMIT_STEPS + k);
            return true;
        }
    }
    return false;
}

void count_difference_size(DifferenceSizeBuckets &histogram, double difference_ms) {
    const double size = std::fabs(difference_ms);
    ++histogram.samples;
    // From the largest bound down: most samples fall in the first buckets, and stop none.
    for (int i = DIFFERENCE_BUCKETS - 1; i >= 0 && size <= DIFFERENCE_BUCKET_BOUNDS_MS[i]; --i) {
        ++histogram.at_most[i];
    }
    histogram.abs_sum_ms += size;
    histogram.square_sum_ms2 += size * size;
}
