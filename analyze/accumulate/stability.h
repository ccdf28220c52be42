// How the phase wanders over averaging times τ = m·τ0, m = 1, 2, 4, ...
// 2^17, τ0 the spacing of the points: the overlapping Allan deviation, the
// modified Allan deviation, the time deviation, the overlapping Hadamard
// deviation and the largest time-error swing, gathered from phase points one
// at a time, segment by segment, in fixed memory. A point may be missing (a
// NaN): a term that needs it is left out, and n counts the terms summed.
#pragma once

#include <cstdint>

constexpr int STABILITY_TAUS = 18;
constexpr int LONGEST_M = 1 << (STABILITY_TAUS - 1);
// Enough for x_{p-3m} of the longest m (MDEV's window, HDEV's term), a
// power of two so that a slot wraps by masking.
constexpr int PHASE_RING_SIZE = 4 * LONGEST_M;
// The points whose OADEV, MDEV and HDEV terms are summed together, τ by τ,
// where every point they need is there: at most this many.
constexpr int PHASE_BLOCK = 2048;
static_assert(PHASE_RING_SIZE >= 3 * LONGEST_M + PHASE_BLOCK, "the ring holds x_{p-3m} of a block's first point");

// The sums of one m over the segments so far, in phase units. They add up
// over segments and runs (mtie by the largest).
struct TauSums {
    uint64_t oadev_terms;  // n
    double oadev_sum;      // Σ (x_{i+2m} - 2x_{i+m} + x_i)²
    uint64_t mdev_terms;   // n'
    double mdev_sum;       // Σ_j (Σ_{i=j}^{j+m-1} (x_{i+2m} - 2x_{i+m} + x_i))²
    uint64_t hdev_terms;   // n''
    double hdev_sum;       // Σ (x_{i+3m} - 3x_{i+2m} + 3x_{i+m} - x_i)²
    // The stretches of consecutive terms each sum is made of: the segments,
    // split where points are missing (for the degrees of freedom).
    uint64_t oadev_stretches;
    uint64_t mdev_stretches;
    uint64_t hdev_stretches;
    double mtie;  // largest max - min of the points present among m + 1
};

// For m = 2^k, k = 0 .. STABILITY_TAUS - 1.
struct StabilitySums {
    TauSums tau[STABILITY_TAUS];
};

// The open segment's last phase points and what sliding windows need.
// Large (about 5 MB): keep one in static storage and reuse it for every
// segment; start_segment needs no clearing of it.
struct PhaseSegment {
    uint64_t points;                     // N so far, missing ones included
    uint64_t present_from;               // the first point after the last missing one
    int head;                            // ring slot of x_{N-1}
    double window[STABILITY_TAUS];       // the inner sum of the last MDEV term, its present terms
    int window_missing[STABILITY_TAUS];  // the second differences missing from it
    // Whether the last OADEV (1), MDEV (2) and HDEV (4) term was summed.
    unsigned char last_terms[STABILITY_TAUS];
    int complete_taus;  // the leading m whose last terms were all summed
    // The block: the last points, from block_from, whose terms at the
    // block_taus shortest m, and whose time-error swings at every m, are
    // not yet in *block_sums.
    uint64_t block_from;
    int block_taus;
    StabilitySums *block_sums;
    double ring[PHASE_RING_SIZE];  // NaN: missing
    // Level k (slots 2^k to 2^(k+1) - 1) holds the extremes of the 2^k
    // points ending at each of the last 2^k points. (Maxima and minima
    // each in a row of their own, here and below, for the loops over them
    // to take two points at a time.)
    double level_max[LONGEST_M];
    double level_min[LONGEST_M];
    // A block's extremes of the 2^k points ending at each of its points,
    // for one k and the next.
    double block_max[2][PHASE_BLOCK];
    double block_min[2][PHASE_BLOCK];
};

// One τ as reported. The 68 % intervals (…_low, …_high) are NaN where
// their degrees of freedom are not known.
struct StabilityPoint {
    double tau_s;  // m·τ0
    uint64_t n;
    double oadev;
    double oadev_low;
    double oadev_high;
    double oadev_edf;  // its degrees of freedom
    double mdev;       // with has_mdev; tdev likewise
    double mdev_low;
    double mdev_high;
    double tdev_ns;
    double tdev_low_ns;
    double tdev_high_ns;
    double hdev;  // with has_hdev
    double hdev_low;
    double hdev_high;
    double mtie_ns;
    double share;   // of the points, those whose segments have a term here (set by phase.h)
    int alpha;      // the noise's power-law exponent, or NOISE_UNKNOWN (set by phase.h)
    bool has_mdev;  // n' >= 2
    bool has_hdev;  // n'' >= 2
};

// A new segment, with its first point x_0 = 0. (Flush the last one's
// terms first: they are dropped.)
void start_segment(PhaseSegment &segment);
// The segment's next point x_k, or NaN for a missing one. Its terms may
// wait in the segment's block: flush_phase_points before reading sums.
void add_phase_point(PhaseSegment &segment, StabilitySums &sums, double x);
// Adds the block's waiting terms to the sums add_phase_point was given.
void flush_phase_points(PhaseSegment &segment);
void add_stability(StabilitySums &into, const StabilitySums &from);

// What add_phase_point does for each m = 2^k, here for any m up to
// LONGEST_M: adds the OADEV, MDEV and HDEV terms that the segment's newest
// point completes. window, missing: this m's inner MDEV sum and its missing
// terms, kept from call to call.
void add_deviation_terms(const PhaseSegment &segment, int m, double &window, int &missing, TauSums &sums);
// The deviations of one τ = m·τ0, without their intervals (NaN); unit_s is
// the phase unit in seconds.
StabilityPoint stability_point(const TauSums &sums, int m, double unit_s, double tau0_s);
