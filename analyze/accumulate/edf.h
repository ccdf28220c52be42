// How far a stability figure can be trusted: the equivalent degrees of
// freedom (EDF) of the OADEV, MDEV (and TDEV) and HDEV estimates, which
// depend on the kind of noise (noise.h), and their 68 % intervals. α is the
// power-law exponent of the frequency noise, S_y(f) ∝ f^α: +2 white PM, +1
// flicker PM, 0 white FM, −1 flicker FM, −2 random-walk FM.
#pragma once

// The variances whose EDF is known. TDEV's is MDEV's.
enum class Variance {
    overlapping_allan,     // d = 2, unmodified, all overlapping terms
    modified_allan,        // d = 2, averaged over τ, all overlapping terms
    overlapping_hadamard,  // d = 3, unmodified, all overlapping terms
};

// The α that have an EDF: edf_alpha_min(variance) .. EDF_ALPHA_MAX.
constexpr int EDF_ALPHA_MAX = 2;
int edf_alpha_min(Variance variance);  // −2; −4 for the Hadamard variance

// The EDF of a variance estimated at τ = m·τ0 from one segment whose
// estimate has `terms` terms (OADEV: N − 2m, MDEV: N − 3m + 1, HDEV:
// N − 3m, N the segment's phase points), for noise α, by Greenhall and
// Riley's algorithm (its sums to about 1e-6, see edf.cpp). 0 when
// terms < 1, or α outside edf_alpha_min(variance) .. EDF_ALPHA_MAX.
// For m a power of two, what its sums need is kept per (variance, α, m)
// between calls, so that the many segments and runs of a log cost little
// more than one.
double segment_edf(Variance variance, int alpha, int m, double terms);
// The same summed afresh at every call, as segment_edf checks against.
double segment_edf_by_sum(Variance variance, int alpha, int m, double terms);
// The same pooled over `segments` segments with `terms` terms in all (the
// sums of stability.h): taken as that many segments of equal length, which
// is exact while every segment has at least (d + 1)·m terms (d = 3 for
// HDEV, else 2) and close otherwise. segments >= 1.
double pooled_edf(Variance variance, int alpha, int m, double terms, double segments);

// The 68 % interval of a deviation from its estimate and EDF:
// [σ·√(edf/χ²(0.84)), σ·√(edf/χ²(0.16))]. Both 0 when edf <= 0.
constexpr double INTERVAL_LOW_P = 0.16;
constexpr double INTERVAL_HIGH_P = 0.84;
struct DeviationInterval {
    double low;
    double high;
};
DeviationInterval deviation_interval(double deviation, double edf);
