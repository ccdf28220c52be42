#include "analyze/accumulate/stability.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

// How often the sliding MDEV window is summed afresh, in windows: its
// running sum gathers rounding errors (none while the phase is in whole
// units, as from a log).
constexpr uint64_t WINDOW_RESUM_PERIOD = uint64_t{1} << 19;

static_assert((PHASE_RING_SIZE & (PHASE_RING_SIZE - 1)) == 0, "a slot wraps by masking");
static_assert(uint64_t{3} * LONGEST_M < WINDOW_RESUM_PERIOD, "3m is its own remainder modulo the resum period");

namespace {

int slot_back(int head, int back) { return (head - back) & (PHASE_RING_SIZE - 1); }

double point_back(const PhaseSegment &segment, int back) { return segment.ring[slot_back(segment.head, back)]; }

// A NaN, and only a NaN, differs from itself: a term of a missing point.
bool present(double value) { return value == value; }  // NOLINT(misc-redundant-expression)

// The MDEV inner sum of the window ending at the point in slot newest: its
// present second differences, and how many are missing.
double window_sum_at(const double *ring, int newest, int m, int &missing) {
    double sum = 0;
    missing = 0;
    for (int back = 0; back < m; ++back) {
        const double s = ring[(newest - back) & (PHASE_RING_SIZE - 1)] -
                         2 * ring[(newest - back - m) & (PHASE_RING_SIZE - 1)] +
                         ring[(newest - back - 2 * m) & (PHASE_RING_SIZE - 1)];
        if (present(s)) {
            sum += s;
        } else {
            ++missing;
        }
    }
    return sum;
}

double window_sum(const PhaseSegment &segment, int m, int &missing) {
    return window_sum_at(segment.ring, segment.head, m, missing);
}

// The terms that point p = x completes, given x1 = x_{p-m} and x2 =
// x_{p-2m} (p >= 2m).
inline void add_terms(const PhaseSegment &segment, uint64_t p, int m, double x, double x1, double x2, double &window,
                      int &missing, unsigned char &last_terms, TauSums &sums) {
    const auto mu = static_cast<uint64_t>(m);
    // Most of the time every point the terms need, x_{p-3m} to x_p, is
    // there, and so were the last terms: no term to leave out.
    if (last_terms == 7 && p >= segment.present_from + 3 * mu) {
        const double x3 = point_back(segment, 3 * m);
        const double s = x - 2 * x1 + x2;
        sums.oadev_sum += s * s;
        ++sums.oadev_terms;
        window += s - (x1 - 2 * x2 + x3);
        const double h = x - 3 * x1 + 3 * x2 - x3;
        sums.hdev_sum += h * h;
        ++sums.hdev_terms;
        const uint64_t j = p + 1 - 3 * mu;
        if (j % WINDOW_RESUM_PERIOD == 0) {
            window = window_sum(segment, m, missing);
        }
        sums.mdev_sum += window * window;
        ++sums.mdev_terms;
        return;
    }
    const double s = x - 2 * x1 + x2;
    const bool whole = present(s);
    unsigned char terms = 0;
    if (whole) {
        sums.oadev_sum += s * s;
        ++sums.oadev_terms;
        terms |= 1;
    }
    if (p == 2 * mu) {
        window = 0;
        missing = 0;
    }
    window += whole ? s : 0;
    missing += whole ? 0 : 1;
    if (p >= 3 * mu) {
        const double x3 = point_back(segment, 3 * m);
        // The second difference leaving the window, as it was added.
        const double leaving = x1 - 2 * x2 + x3;
        if (present(leaving)) {
            window -= leaving;
        } else {
            --missing;
        }
        const double h = x - 3 * x1 + 3 * x2 - x3;
        if (present(h)) {
            sums.hdev_sum += h * h;
            ++sums.hdev_terms;
            terms |= 4;
        }
    }
    if (p + 1 >= 3 * mu) {
        const uint64_t j = p + 1 - 3 * mu;
        if (j > 0 && j % WINDOW_RESUM_PERIOD == 0) {
            window = window_sum(segment, m, missing);
        }
        if (missing == 0) {
            sums.mdev_sum += window * window;
            ++sums.mdev_terms;
            terms |= 2;
        }
    }
    // A term summed after one that was not (or none) starts a stretch.
    // (Rarely: the terms of a segment are mostly all there.)
    if (terms != last_terms) {
        const unsigned char starts = terms & ~last_terms;
        sums.oadev_stretches += starts & 1;
        sums.mdev_stretches += (starts >> 1) & 1;
        sums.hdev_stretches += (starts >> 2) & 1;
        last_terms = terms;
    }
}

}  // namespace

void add_deviation_terms(const PhaseSegment &segment, int m, double &window, int &missing, TauSums &sums) {
    const uint64_t p = segment.points - 1;
    if (p >= 2 * static_cast<uint64_t>(m)) {
        // (Stretches are not told apart here.)
        unsigned char last_terms = 7;
        add_terms(segment, p, m, point_back(segment, 0), point_back(segment, m), point_back(segment, 2 * m), window,
                  missing, last_terms, sums);
    }
}

namespace {

void add_point(PhaseSegment &segment, StabilitySums *sums, double x) {
    const uint64_t p = segment.points;
    const uint64_t present_from = present(x) ? segment.present_from : p + 1;
    // Mostly every point x_{p-3m} to x_p is there, and so were the last
    // terms: the terms of those m wait in the block, to be summed there
    // τ by τ. The m with 3m <= present_span: up to the highest bit of
    // present_span / 3.
    const uint64_t present_span = p >= present_from ? p - present_from : 0;
    const int span_taus = present_span >= 3 ? 64 - __builtin_clzll(present_span / 3) : 0;
    const int steady_taus = sums == nullptr ? 0 : span_taus < STABILITY_TAUS ? span_taus : STABILITY_TAUS;
    const int block_taus = steady_taus < segment.complete_taus ? steady_taus : segment.complete_taus;
    const uint64_t waiting = p - segment.block_from;
    if (waiting > 0 &&
        (block_taus != segment.block_taus || sums != segment.block_sums || waiting == uint64_t{PHASE_BLOCK})) {
        flush_phase_points(segment);
    }
    if (p == segment.block_from) {
        segment.block_taus = block_taus;
        segment.block_sums = sums;
    }
    segment.points = p + 1;
    segment.present_from = present_from;
    segment.head = p == 0 ? 0 : (segment.head + 1) & (PHASE_RING_SIZE - 1);
    segment.ring[segment.head] = x;
    // The terms of the m not in the block, one point at a time.
    bool terms_changed = false;
    for (int k = block_taus; k < STABILITY_TAUS; ++k) {
        const int m = 1 << k;
        const auto mu = static_cast<uint64_t>(m);
        if (p < 2 * mu) {
            break;
        }
        const unsigned char last_terms = segment.last_terms[k];
        add_terms(segment, p, m, x, point_back(segment, m), point_back(segment, 2 * m), segment.window[k],
                  segment.window_missing[k], segment.last_terms[k], sums->tau[k]);
        terms_changed = terms_changed || segment.last_terms[k] != last_terms;
    }
    if (terms_changed) {
        int complete = 0;
        while (complete < STABILITY_TAUS && segment.last_terms[complete] == 7) {
            ++complete;
        }
        segment.complete_taus = complete;
    }
}

}  // namespace

void start_segment(PhaseSegment &segment) {
    segment.points = 0;
    segment.present_from = 0;
    segment.block_from = 0;
    segment.block_taus = 0;
    segment.block_sums = nullptr;
    for (unsigned char &terms : segment.last_terms) {
        terms = 0;
    }
    segment.complete_taus = 0;
    add_point(segment, nullptr, 0);
}

void add_phase_point(PhaseSegment &segment, StabilitySums &sums, double x) { add_point(segment, &sums, x); }

namespace {

// add_terms' first case for n points in a row, x_p, x_{p-m}, x_{p-2m} and
// x_{p-3m} from x, x1, x2 and x3 (the window not summed afresh).
inline void sum_steady(const double *x, const double *x1, const double *x2, const double *x3, int n, double &oadev,
                       double &hdev, double &mdev, double &window) {
    double o = oadev;
    double h = hdev;
    double d = mdev;
    double w = window;
    for (int i = 0; i < n; ++i) {
        const double s = x[i] - 2 * x1[i] + x2[i];
        o += s * s;
        w += s - (x1[i] - 2 * x2[i] + x3[i]);
        const double third = x[i] - 3 * x1[i] + 3 * x2[i] - x3[i];
        h += third * third;
        d += w * w;
    }
    oadev = o;
    hdev = h;
    mdev = d;
    window = w;
}

// The largest of max(x_i, high_i) - min(x_i, low_i) and largest, over n
// points: as one at a time, the swings first (which the compiler takes two
// or four at a time), then the largest, each of eight lanes taking every
// eighth swing. A largest value is the same whichever comes first: none is
// NaN, and none -0, each being h - l with h >= l.
double largest_swing(const double *__restrict x, const double *__restrict high, const double *__restrict low, int n,
                     double largest) {
    constexpr int LANES = 8;
    double lanes[LANES];
    for (double &lane : lanes) {
        lane = largest;
    }
    double swings[PHASE_BLOCK];
    for (int i = 0; i < n; ++i) {
        const double h = x[i] > high[i] ? x[i] : high[i];
        const double l = x[i] < low[i] ? x[i] : low[i];
        swings[i] = h - l;
    }
    int i = 0;
    for (; i + LANES <= n; i += LANES) {
        for (int j = 0; j < LANES; ++j) {
            lanes[j] = swings[i + j] > lanes[j] ? swings[i + j] : lanes[j];
        }
    }
    for (; i < n; ++i) {
        largest = swings[i] > largest ? swings[i] : largest;
    }
    for (const double lane : lanes) {
        largest = lane > largest ? lane : largest;
    }
    return largest;
}

// The extremes of each pair: out_high = max(a_high, b_high), out_low =
// min(a_low, b_low), with the comparisons of one at a time.
void combine_extremes(const double *__restrict a_high, const double *__restrict a_low, const double *__restrict b_high,
                      const double *__restrict b_low, double *__restrict out_high, double *__restrict out_low, int n) {
    for (int i = 0; i < n; ++i) {
        out_high[i] = a_high[i] > b_high[i] ? a_high[i] : b_high[i];
        out_low[i] = a_low[i] < b_low[i] ? a_low[i] : b_low[i];
    }
}

// Level k's swing and next level for a block's points whose x_{p-3m} to
// x_p are all there (m = 2^k): as add_block_swings' general case, the
// extremes 2^k back taken from the block where they are in it, and the
// level written for its last points alone.
void add_steady_level(PhaseSegment &segment, int k, uint64_t from, int count, int first, const double *high,
                      const double *low, double *next_high, double *next_low, double &mtie) {
    constexpr int MASK = PHASE_RING_SIZE - 1;
    const int mu = 1 << k;
    for (int i = 0; i < count;) {
        // A stretch in which x_{p-m} does not wrap round the ring.
        const int back = (first + i - mu) & MASK;
        const int n = std::min(count - i, PHASE_RING_SIZE - back);
        mtie = largest_swing(segment.ring + back, high + i, low + i, n, mtie);
        i += n;
    }
    if (k + 1 == STABILITY_TAUS) {
        return;
    }
    double *const level_max = segment.level_max + mu;
    double *const level_min = segment.level_min + mu;
    const int in_level = std::min(mu, count);
    for (int i = 0; i < in_level;) {
        // A stretch of the level's slots that does not wrap round it.
        const auto slot = static_cast<int>((from + static_cast<uint64_t>(i)) & static_cast<uint64_t>(mu - 1));
        const int n = std::min(in_level - i, mu - slot);
        combine_extremes(level_max + slot, level_min + slot, high + i, low + i, next_high + i, next_low + i, n);
        i += n;
    }
    if (count > mu) {
        combine_extremes(high, low, high + mu, low + mu, next_high + mu, next_low + mu, count - mu);
    }
    for (int i = count - in_level; i < count;) {
        const auto slot = static_cast<int>((from + static_cast<uint64_t>(i)) & static_cast<uint64_t>(mu - 1));
        const int n = std::min(count - i, mu - slot);
        std::copy(high + i, high + i + n, level_max + slot);
        std::copy(low + i, low + i + n, level_min + slot);
        i += n;
    }
}

// The swings and the levels of the block's points, level by level: for each
// m = 2^k, the largest max - min of the points present among x_{p-m} to
// x_p, into the block's sums; and from the extremes of the 2^k points
// ending at each p (high, low) those of the 2^(k+1), with the 2^k ending at
// p - 2^k, kept in the level's slots. The same steps as add_point took them
// one point at a time.
void add_block_swings(PhaseSegment &segment, uint64_t from, int count, int first) {
    constexpr int MASK = PHASE_RING_SIZE - 1;
    const double none = std::numeric_limits<double>::infinity();
    double *high = segment.block_max[0];
    double *low = segment.block_min[0];
    double *next_high = segment.block_max[1];
    double *next_low = segment.block_min[1];
    for (int i = 0; i < count; ++i) {
        const double x = segment.ring[(first + i) & MASK];
        high[i] = present(x) ? x : -none;
        low[i] = present(x) ? x : none;
    }
    StabilitySums *const sums = segment.block_sums;
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        const int mu = 1 << k;
        if (k < segment.block_taus) {
            // Every point of the block is at least 3m into its present ones.
            add_steady_level(segment, k, from, count, first, high, low, next_high, next_low, sums->tau[k].mtie);
        } else {
            const auto mask = static_cast<uint64_t>(mu - 1);
            double mtie = sums != nullptr ? sums->tau[k].mtie : 0;
            for (int i = 0; i < count; ++i) {
                const uint64_t p = from + static_cast<uint64_t>(i);
                if (p + 1 < static_cast<uint64_t>(mu)) {
                    continue;
                }
                if (p >= static_cast<uint64_t>(mu)) {
                    // (A missing x_{p-m} fails both comparisons and is passed over.)
                    const double x1 = segment.ring[(first + i - mu) & MASK];
                    const double h = x1 > high[i] ? x1 : high[i];
                    const double l = x1 < low[i] ? x1 : low[i];
                    mtie = h - l > mtie ? h - l : mtie;
                }
                if (k + 1 < STABILITY_TAUS) {
                    const auto slot = static_cast<size_t>(static_cast<uint64_t>(mu) + (p & mask));
                    double &slot_max = segment.level_max[slot];
                    double &slot_min = segment.level_min[slot];
                    const double old_max = slot_max;
                    const double old_min = slot_min;
                    slot_max = high[i];
                    slot_min = low[i];
                    next_high[i] = old_max > high[i] ? old_max : high[i];
                    next_low[i] = old_min < low[i] ? old_min : low[i];
                }
            }
            if (sums != nullptr) {
                sums->tau[k].mtie = mtie;
            }
        }
        std::swap(high, next_high);
        std::swap(low, next_low);
    }
}

}  // namespace

void flush_phase_points(PhaseSegment &segment) {
    const uint64_t from = segment.block_from;
    const uint64_t count = segment.points - from;
    segment.block_from = segment.points;
    if (count == 0) {
        return;
    }
    const double *const ring = segment.ring;
    constexpr int MASK = PHASE_RING_SIZE - 1;
    const int first = (segment.head - static_cast<int>(count - 1)) & MASK;  // slot of x_from
    add_block_swings(segment, from, static_cast<int>(count), first);
    for (int k = 0; k < segment.block_taus; ++k) {
        const int m = 1 << k;
        const auto mu = static_cast<uint64_t>(m);
        TauSums &tau = segment.block_sums->tau[k];
        // The same steps, in the same order, as add_terms' first case:
        // the same sums to the last bit.
        double oadev = tau.oadev_sum;
        double hdev = tau.hdev_sum;
        double mdev = tau.mdev_sum;
        double window = segment.window[k];
        // The point whose window is summed afresh, if the block has it (at
        // most one: the block is shorter than the period).
        const uint64_t resum = (3 * mu + WINDOW_RESUM_PERIOD - (from + 1) % WINDOW_RESUM_PERIOD) % WINDOW_RESUM_PERIOD;
        const int n = static_cast<int>(count);
        int i = 0;
        while (i < n) {
            const int slot = (first + i) & MASK;
            if (static_cast<uint64_t>(i) == resum) {
                // Its terms as the others', its window afresh.
                const double mdev_before = mdev;
                sum_steady(ring + slot, ring + ((slot - m) & MASK), ring + ((slot - 2 * m) & MASK),
                           ring + ((slot - 3 * m) & MASK), 1, oadev, hdev, mdev, window);
                window = window_sum_at(ring, slot, m, segment.window_missing[k]);
                mdev = mdev_before + window * window;
                ++i;
                continue;
            }
            // A stretch in which none of x_p, x_{p-m}, x_{p-2m}, x_{p-3m}
            // wraps round the ring, ending before the resum.
            int end = resum > static_cast<uint64_t>(i) && resum < count ? static_cast<int>(resum) : n;
            for (int back = 0; back <= 3 * m; back += m) {
                const int start = (slot - back) & MASK;
                end = std::min(end, i + (PHASE_RING_SIZE - start));
            }
            sum_steady(ring + slot, ring + ((slot - m) & MASK), ring + ((slot - 2 * m) & MASK),
                       ring + ((slot - 3 * m) & MASK), end - i, oadev, hdev, mdev, window);
            i = end;
        }
        tau.oadev_sum = oadev;
        tau.hdev_sum = hdev;
        tau.mdev_sum = mdev;
        tau.oadev_terms += count;
        tau.hdev_terms += count;
        tau.mdev_terms += count;
        segment.window[k] = window;
    }
}

void add_stability(StabilitySums &into, const StabilitySums &from) {
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        TauSums &a = into.tau[k];
        const TauSums &b = from.tau[k];
        a.oadev_terms += b.oadev_terms;
        a.oadev_sum += b.oadev_sum;
        a.mdev_terms += b.mdev_terms;
        a.mdev_sum += b.mdev_sum;
        a.hdev_terms += b.hdev_terms;
        a.hdev_sum += b.hdev_sum;
        a.oadev_stretches += b.oadev_stretches;
        a.mdev_stretches += b.mdev_stretches;
        a.hdev_stretches += b.hdev_stretches;
        a.mtie = b.mtie > a.mtie ? b.mtie : a.mtie;
    }
}

StabilityPoint stability_point(const TauSums &sums, int m, double unit_s, double tau0_s) {
    const double md = m;
    StabilityPoint point = {};
    point.oadev_low = point.oadev_high = NAN;
    point.mdev_low = point.mdev_high = NAN;
    point.tdev_low_ns = point.tdev_high_ns = NAN;
    point.hdev_low = point.hdev_high = NAN;
    point.tau_s = md * tau0_s;
    point.n = sums.oadev_terms;
    // The deviations over τ² = (m τ0)², with x in seconds.
    const double scale = unit_s / point.tau_s;
    point.oadev = std::sqrt(sums.oadev_sum / (2 * static_cast<double>(sums.oadev_terms))) * scale;
    point.has_mdev = sums.mdev_terms >= 2;
    if (point.has_mdev) {
        point.mdev = std::sqrt(sums.mdev_sum / (2 * md * md * static_cast<double>(sums.mdev_terms))) * scale;
        point.tdev_ns = point.tau_s * point.mdev / std::sqrt(3.0) * 1e9;
    }
    point.has_hdev = sums.hdev_terms >= 2;
    if (point.has_hdev) {
        point.hdev = std::sqrt(sums.hdev_sum / (6 * static_cast<double>(sums.hdev_terms))) * scale;
    }
    point.mtie_ns = sums.mtie * unit_s * 1e9;
    return point;
}
