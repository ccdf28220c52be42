#include "analyze/accumulate/stability.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
    // The extremes of the 2^k points ending at p, for k = 0, 1, ...; of
    // none present, -inf and +inf.
    const double none = std::numeric_limits<double>::infinity();
    double block_max = present(x) ? x : -none;
    double block_min = present(x) ? x : none;
    double x1 = p >= 1 ? point_back(segment, 1) : 0;  // x_{p-m}
    int k = 0;
    // The block's m have every point back to x_{p-3m}: their time-error
    // swing and levels without the checks below. (All but the longest m,
    // which has no level to pass on.)
    const int steady_levels = block_taus < STABILITY_TAUS - 1 ? block_taus : STABILITY_TAUS - 1;
    const double *const ring = segment.ring;
    const int head = segment.head;
    for (uint64_t mu = 1; k < steady_levels; ++k, mu += mu) {
        TauSums &tau = sums->tau[k];
        const double high = x1 > block_max ? x1 : block_max;
        const double low = x1 < block_min ? x1 : block_min;
        tau.mtie = high - low > tau.mtie ? high - low : tau.mtie;
        x1 = ring[(head - 2 * static_cast<int>(mu)) & (PHASE_RING_SIZE - 1)];
        PhaseSegment::Extremes &level = segment.levels[mu + (p & (mu - 1))];
        const double old_max = level.max;
        const double old_min = level.min;
        level.max = block_max;
        level.min = block_min;
        block_max = old_max > block_max ? old_max : block_max;
        block_min = old_min < block_min ? old_min : block_min;
    }
    bool terms_changed = false;
    for (; k < STABILITY_TAUS; ++k) {
        const int m = 1 << k;
        const auto mu = static_cast<uint64_t>(m);
        if (p + 1 < mu) {
            break;
        }
        if (p >= mu) {
            TauSums &tau = sums->tau[k];
            // (A missing x1 fails both comparisons and is passed over.)
            const double high = x1 > block_max ? x1 : block_max;
            const double low = x1 < block_min ? x1 : block_min;
            tau.mtie = high - low > tau.mtie ? high - low : tau.mtie;
            if (p >= 2 * mu) {
                const double x2 = point_back(segment, 2 * m);
                if (k >= block_taus) {
                    const unsigned char last_terms = segment.last_terms[k];
                    add_terms(segment, p, m, x, x1, x2, segment.window[k], segment.window_missing[k],
                              segment.last_terms[k], tau);
                    terms_changed = terms_changed || segment.last_terms[k] != last_terms;
                }
                x1 = x2;  // x_{p-m} of the next m
            }
        }
        if (k + 1 < STABILITY_TAUS) {
            // The block of 2^(k+1) ending at p: this one and the one 2^k
            // back, whose slot this one takes.
            const auto slot = static_cast<size_t>(mu + (p & (mu - 1)));
            PhaseSegment::Extremes &level = segment.levels[slot];
            const double old_max = level.max;
            const double old_min = level.min;
            level.max = block_max;
            level.min = block_min;
            block_max = old_max > block_max ? old_max : block_max;
            block_min = old_min < block_min ? old_min : block_min;
        }
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

}  // namespace

void flush_phase_points(PhaseSegment &segment) {
    const uint64_t from = segment.block_from;
    const uint64_t count = segment.points - from;
    segment.block_from = segment.points;
    if (count == 0 || segment.block_taus == 0) {
        return;
    }
    const double *const ring = segment.ring;
    constexpr int MASK = PHASE_RING_SIZE - 1;
    const int first = (segment.head - static_cast<int>(count - 1)) & MASK;  // slot of x_from
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
