#include "analyze/accumulate/edf.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "analyze/accumulate/chi_squared.h"

// Greenhall and Riley, "Uncertainty of stability variances based on finite
// differences" (2003), the algorithm NIST SP 1065 (section 5.3) recommends,
// for any N and m, where SP 1065's closed forms for OADEV are only fits.
// The variance is the mean of M terms z_j², z a d-th difference (d = 2:
// Allan, 3: Hadamard) of the phase averaged over τ/F (F = 1: MDEV's
// averages over τ), the terms τ/S apart (S = m: all overlapping). The
// unmodified variances take the phase as sampled (F = ∞) for the FM noises,
// as the log's phase points are: this meets SP 1065's closed form for
// white FM (0.1 % at m <= 64, 2 % beyond), where F = m (the phase averaged
// over τ0) is 5 to 10 % low at small m; the PM noises have no sampled
// model and take F = m. For Gaussian power-law noise, z's autocovariance at lag t
// (in τ) is sz(t), from the generalised autocovariance sw of the phase's
// integral, and
//     edf = M sz(0)² / (sz(0)² + 2 Σ_{j=1}^{J−1} (1 − j/M) sz(j/S)²
//                       + (1 − J/M) sz(J/S)²),  J = min(M, (d + 1) S).
// The sum is exact up to lags of 256 from each multiple of S, where sz is
// not smooth; beyond, it is taken by the midpoint rule over panels no wider
// than 1/256 of their distance from there (relative error about 1e-6), so
// that m = 2^17 costs some 10⁴ evaluations rather than 4·10⁵. The paper
// replaces the same sum by tabulated integrals for S > 100.

namespace {

long double sw(long double t, int alpha) {
    const long double a = std::fabs(t);
    const long double log_a = a > 0 ? std::log(a) : 0;  // t^k ln|t| → 0 at t = 0
    switch (alpha) {
    case 2:
        return -a;
    case 1:
        return a * a * log_a;
    case 0:
        return a * a * a;
    case -1:
        return -a * a * a * a * log_a;
    case -2:
        return -a * a * a * a * a;
    case -3:
        return a * a * a * a * a * a * log_a;
    default:  // −4
        return a * a * a * a * a * a * a;
    }
}

}  // namespace

struct EdfModel {
    int alpha;
    int d;
    long double filter;  // F; 0: ∞
    long double stride;  // S
};

namespace {

long double sx(const EdfModel &model, long double t) {
    if (model.filter == 0) {
        return sw(t, model.alpha + 2);
    }
    const long double h = 1 / model.filter;
    return model.filter * model.filter * (2 * sw(t, model.alpha) - sw(t - h, model.alpha) - sw(t + h, model.alpha));
}

// (−1)^k C(2d, d + k), k = 0 .. d.
const long double DIFFERENCE_WEIGHTS[2][4] = {{6, -4, 1, 0}, {20, -15, 6, -1}};

long double sz(const EdfModel &model, long double t) {
    const long double *weights = DIFFERENCE_WEIGHTS[model.d - 2];
    long double sum = weights[0] * sx(model, t);
    for (int k = 1; k <= model.d; ++k) {
        sum += weights[k] * (sx(model, t - k) + sx(model, t + k));
    }
    return sum;
}

long double weighted_square(const EdfModel &model, long double j, double terms) {
    const long double z = sz(model, j / model.stride);
    return (1 - j / terms) * z * z;
}

// Σ_{j=1}^{J−1} (1 − j/M) sz(j/S)².
long double lag_sum(const EdfModel &model, int64_t lags, double terms, int64_t stride) {
    constexpr int64_t EXACT_WINDOW = 256;
    long double sum = 0;
    int64_t j = 1;
    while (j < lags) {
        const int64_t offset = j % stride;
        const int64_t distance = std::min(offset, stride - offset);
        const int64_t width = std::min(distance / EXACT_WINDOW, lags - j);
        if (width < 2) {
            sum += weighted_square(model, static_cast<long double>(j), terms);
            ++j;
        } else {
            const long double middle = static_cast<long double>(j) + static_cast<long double>(width - 1) / 2;
            sum += static_cast<long double>(width) * weighted_square(model, middle, terms);
            j += width;
        }
    }
    return sum;
}

}  // namespace

int edf_alpha_min(Variance variance) { return variance == Variance::overlapping_hadamard ? -4 : -2; }

double segment_edf(Variance variance, int alpha, int m, double terms) {
    if (terms < 1 || m < 1 || alpha > EDF_ALPHA_MAX || alpha < edf_alpha_min(variance)) {
        return 0;
    }
    long double filter = 1;
    if (variance != Variance::modified_allan) {
        filter = alpha <= 0 ? 0 : static_cast<long double>(m);
    }
    const EdfModel model = {alpha, variance == Variance::overlapping_hadamard ? 3 : 2, filter,
                            static_cast<long double>(m)};
    const int64_t stride = m;
    const int64_t lags = std::min(static_cast<int64_t>(terms), (model.d + 1) * stride);
    const long double zero = sz(model, 0);
    const long double last = sz(model, static_cast<long double>(lags) / model.stride);
    const long double basic = zero * zero + 2 * lag_sum(model, lags, terms, stride) +
                              (1 - static_cast<long double>(lags) / terms) * last * last;
    return static_cast<double>(terms * zero * zero / basic);
}

double pooled_edf(Variance variance, int alpha, int m, double terms, double segments) {
    // Var of the pooled mean of n = Σ n_s terms: Σ n_s² (2σ⁴/edf_s) / n², so
    // edf = n² / Σ (n_s²/edf_s) = K·edf(n/K) for K equal segments.
    return segments * segment_edf(variance, alpha, m, terms / segments);
}

DeviationInterval deviation_interval(double deviation, double edf) {
    if (edf <= 0) {
        return {0, 0};
    }
    return {deviation * std::sqrt(edf / chi_squared_quantile(INTERVAL_HIGH_P, edf)),
            deviation * std::sqrt(edf / chi_squared_quantile(INTERVAL_LOW_P, edf))};
}
