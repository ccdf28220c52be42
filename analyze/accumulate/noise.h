// The kind of noise at each τ, which the EDF depend on (edf.h), and what it
// makes of the frequency offset's uncertainty. Plain functions over plain
// records; α is the power-law exponent of the frequency noise,
// S_y(f) ∝ f^α: +2 white PM, +1 flicker PM, 0 white FM, −1 flicker FM, −2
// random-walk FM.
#pragma once

#include <cstdint>

#include "analyze/accumulate/stability.h"

// Noise identification by the lag-1 autocorrelation of the phase (Riley
// and Greenhall, 2004), for one τ = m·τ0: it is fed the segment's every
// m-th phase point, x_0, x_m, x_2m, ..., and keeps the lag-1 sums of those
// points differenced d = 0, 1 and 2 times. Each segment's sums are raw sums
// of values less the segment's first (d = 0: less the line through its
// first two, so that no drift cancels the noise's digits away), closed
// about the segment's own least-squares line (d = 0: a frequency offset
// is no noise) or mean (d = 1, 2); segments and runs pool by adding.
constexpr int LAG1_DIFFERENCES = 3;  // d = 0, 1, 2
// Fewer decimated points than this in all: "unknown".
constexpr uint64_t LAG1_MIN_POINTS = 30;
struct Lag1Sums {
    // Closed segments, for each d: Σ r_i², Σ r_i r_{i+1}, r = z less its
    // segment's line (d = 0) or mean, and the points.
    uint64_t points[LAG1_DIFFERENCES];
    double squares[LAG1_DIFFERENCES];
    double lag_products[LAG1_DIFFERENCES];
    // The open segment: raw sums of z − shift (shift its first z).
    uint64_t open_points;  // of x; 0: no open segment
    double last[LAG1_DIFFERENCES];
    double shift[LAG1_DIFFERENCES];
    double shift_slope;  // d = 0: x_1 − x_0
    double sum[LAG1_DIFFERENCES];
    double sum_squares[LAG1_DIFFERENCES];
    double sum_products[LAG1_DIFFERENCES];
    double time_products;  // d = 0: Σ i·v_i, i = 0, 1, ... in the segment
};
// Closes the open segment, if any, and opens one without points.
void start_lag1_segment(Lag1Sums &sums);
void add_lag1_point(Lag1Sums &sums, double x);
// Pools from's segments, its open one too, into into's closed ones.
void add_lag1(Lag1Sums &into, const Lag1Sums &from);
// The identified α, rounded into −2 .. +2, or NOISE_UNKNOWN.
constexpr int NOISE_UNKNOWN = 99;
int identify_noise(const Lag1Sums &sums);

// The same for every τ of stability.h, m = 2^k.
struct NoiseSums {
    Lag1Sums tau[STABILITY_TAUS];
};
void start_noise_segment(NoiseSums &sums);
// The segment's point number `index` (0, 1, ...): to each τ whose m divides it.
void add_noise_point(NoiseSums &sums, uint64_t index, double x);
void add_noise(NoiseSums &into, const NoiseSums &from);
// The second opinion on a τ's noise: R(n) = MVAR/AVAR, the modified over
// the overlapping Allan variance at τ = m·τ0 (Howe, Allan and Barnes). From
// m = 8 on it is about 1/m for white PM, 0.1 to 0.3 for flicker PM, 1/2 for
// white FM, 2/3 for flicker FM and 0.82 for random-walk FM, each within a
// few hundredths where the lag-1 method has its 30 points.
constexpr int RATIO_MIN_M = 8;
constexpr double RATIO_WHITE_PM_MAX_M = 1.5;   // R(n)·m: between white and flicker PM
constexpr double RATIO_PM_MAX = 0.4;           // between flicker PM and white FM
constexpr double RATIO_FLICKER_FM_MAX = 0.75;  // between flicker and random-walk FM
// α for each of the first `count` τ, never above the previous τ's (the
// noise with the lowest α dominates ever more as τ grows); where unknown,
// the previous τ's; the τ before the first known one take its α; all
// NOISE_UNKNOWN if none is known. allan_ratio (NaN where unknown; nullptr:
// none) overrules the lag-1 verdict where the two disagree outright:
// - an FM α (≤ 0) where R(n) < RATIO_PM_MAX: a PM noise, which the
//   once-differenced points miss when a slow FM wander hides it (white PM
//   plus random-walk FM); its α, +1 or +2, from the twice-differenced
//   points (white PM where R(n)·m < RATIO_WHITE_PM_MAX_M), and higher than
//   the previous τ's if so;
// - flicker PM where R(n)·m < RATIO_WHITE_PM_MAX_M, or where the verdict
//   came from the twice-differenced points (flicker PM alone is stationary
//   once differenced): white PM, the same wander having moved the verdict
//   by one;
// - random-walk FM where R(n) < RATIO_FLICKER_FM_MAX: flicker FM, whose
//   decimated second differences sit on the lag-1 method's boundary.
void identify_noise_per_tau(const NoiseSums &sums, const double allan_ratio[STABILITY_TAUS], int count,
                            int alpha_out[STABILITY_TAUS]);

// The uncertainty of the frequency offset (the pooled least-squares slope
// of phase against time), 68 %-style, for any of the five noises.
struct StabilityWithNoise {
    double tau_s;
    double oadev;  // fractional frequency
    double edf;    // of the OADEV at this τ
    int alpha;     // identified, −2 .. +2
};
struct FrequencyUncertaintyInputs {
    double fit_stderr;    // the fit's classical standard error (fractional)
    double time_squares;  // Σ (t − t̄)² in s², over every segment
    double tau0_s;
    const StabilityWithNoise *stability;  // in order of τ
    int stability_count;
};
// The least EDF of an OADEV that may set the noise part: enough that its
// deviation is not often far below the truth (the median of χ²/EDF is 0.79
// at EDF 2.5, 0.93 at 10: white FM's uncertainty came out 0.85x the RMS
// error), few enough that the τ is long and the extrapolation short.
constexpr double FREQUENCY_MIN_EDF = 10;
// The larger of the classical standard error, right for white PM, and the
// noise part: k(α)·σ_y(T), σ_y at the fit's span T = ∛(12 Σ(t − t̄)²/τ0²)·τ0
// (one segment of N points: about N·τ0) extrapolated by α's power law from the
// longest τ whose OADEV has EDF >= FREQUENCY_MIN_EDF. Returns the
// classical standard error alone when no τ qualifies.
double frequency_uncertainty(const FrequencyUncertaintyInputs &inputs);
