#include "analyze/accumulate/edf.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

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

// The lags j = 1 .. J − 1 as panels of `width` lags from `start`: exact up
// to lags of 256 from each multiple of S (width 1), beyond by the midpoint
// rule (see above).
template <typename Visit> void for_each_panel(int64_t lags, int64_t stride, Visit visit) {
    constexpr int64_t EXACT_WINDOW = 256;
    int64_t j = 1;
    while (j < lags) {
        const int64_t offset = j % stride;
        const int64_t distance = std::min(offset, stride - offset);
        const int64_t width = std::max(int64_t{1}, std::min(distance / EXACT_WINDOW, lags - j));
        visit(j, width);
        j += width;
    }
}

// A panel's middle lag, and the lags it stands for.
long double panel_at(int64_t start, int64_t width) {
    return static_cast<long double>(start) + static_cast<long double>(width - 1) / 2;
}
long double panel_count(int64_t width) { return static_cast<long double>(width); }

// Σ_{j=1}^{J−1} (1 − j/M) sz(j/S)².
long double lag_sum(const EdfModel &model, int64_t lags, double terms, int64_t stride) {
    long double sum = 0;
    for_each_panel(lags, stride, [&](int64_t start, int64_t width) {
        sum += panel_count(width) * weighted_square(model, panel_at(start, width), terms);
    });
    return sum;
}

EdfModel model_of(Variance variance, int alpha, int m) {
    long double filter = 1;
    if (variance != Variance::modified_allan) {
        filter = alpha <= 0 ? 0 : static_cast<long double>(m);
    }
    return {alpha, variance == Variance::overlapping_hadamard ? 3 : 2, filter, static_cast<long double>(m)};
}

// The EDF from the lag sum of a segment of M = terms, given sz at lag 0
// and at its last lag.
double edf_of_lag_sum(const EdfModel &model, long double zero, long double sum, int64_t lags, double terms) {
    const long double last = sz(model, static_cast<long double>(lags) / model.stride);
    const long double basic = zero * zero + 2 * sum + (1 - static_cast<long double>(lags) / terms) * last * last;
    return static_cast<double>(terms * zero * zero / basic);
}

double exact_segment_edf(const EdfModel &model, int64_t lags, double terms) {
    const auto stride = static_cast<int64_t>(model.stride);
    return edf_of_lag_sum(model, sz(model, 0), lag_sum(model, lags, terms, stride), lags, terms);
}

// Once M >= J = (d + 1) S, the lags summed no longer depend on M, and the
// sum is Σ sz² − (1/M) Σ j sz²: both kept per (variance, α, m = 2^k), so
// that every segment and run after the first costs a division.
struct LongSums {
    bool ready;
    long double zero;      // sz(0)²
    long double plain;     // Σ_{j=1}^{J−1} sz(j/S)², panels as in lag_sum
    long double weighted;  // Σ_{j=1}^{J−1} j sz(j/S)²
    long double last;      // sz(J/S)²
};

constexpr int CACHED_LOG2_M = 31;
constexpr int VARIANCES = 3;
constexpr int ALPHAS = EDF_ALPHA_MAX + 4 + 1;  // −4 .. EDF_ALPHA_MAX

LongSums long_sums_of(const EdfModel &model, int64_t lags) {
    LongSums sums = {true, 0, 0, 0, 0};
    const long double zero = sz(model, 0);
    const long double last = sz(model, static_cast<long double>(lags) / model.stride);
    sums.zero = zero * zero;
    sums.last = last * last;
    for_each_panel(lags, static_cast<int64_t>(model.stride), [&](int64_t start, int64_t width) {
        const long double at = panel_at(start, width);
        const long double count = panel_count(width);
        const long double z = sz(model, at / model.stride);
        sums.plain += count * z * z;
        sums.weighted += count * at * z * z;
    });
    return sums;
}

// Segments shorter than J = (d + 1) m (the longest τ of a run) sum the
// panels of their own M lags: all but the last are those of J lags, whose
// sz are kept per (variance, α, m = 2^k), within a bound on their memory.
struct Panels {
    bool ready;
    long double zero;  // sz(0)
    std::vector<int32_t> starts;
    std::vector<int32_t> widths;
    std::vector<long double> z;  // sz(panel_at / S)
};
constexpr size_t KEPT_PANELS_MAX = size_t{1} << 19;  // some 12 MB at most

// Or null, past the bound.
const Panels *panels_of(const EdfModel &model, Variance variance) {
    static Panels kept[VARIANCES][ALPHAS][CACHED_LOG2_M];
    static size_t kept_count = 0;
    const auto m = static_cast<unsigned>(model.stride);
    Panels &panels = kept[static_cast<int>(variance)][model.alpha + 4][__builtin_ctz(m)];
    if (panels.ready) {
        return &panels;
    }
    const auto stride = static_cast<int64_t>(m);
    const int64_t lags = (model.d + 1) * stride;
    size_t count = 0;
    for_each_panel(lags, stride, [&](int64_t, int64_t) { ++count; });
    // (Their lags are kept as 32-bit numbers.)
    if (kept_count + count > KEPT_PANELS_MAX || lags > INT32_MAX) {
        return nullptr;
    }
    kept_count += count;
    panels.zero = sz(model, 0);
    panels.starts.reserve(count);
    panels.widths.reserve(count);
    panels.z.reserve(count);
    for_each_panel(lags, stride, [&](int64_t start, int64_t width) {
        panels.starts.push_back(static_cast<int32_t>(start));
        panels.widths.push_back(static_cast<int32_t>(width));
        panels.z.push_back(sz(model, panel_at(start, width) / model.stride));
    });
    panels.ready = true;
    return &panels;
}

// exact_segment_edf, its sz taken from the panels kept: the same sums.
double kept_segment_edf(const EdfModel &model, const Panels &panels, int64_t lags, double terms) {
    long double sum = 0;
    size_t i = 0;
    for (; i < panels.z.size() && panels.starts[i] + panels.widths[i] <= lags; ++i) {
        const long double z = panels.z[i];
        sum += panel_count(panels.widths[i]) * ((1 - panel_at(panels.starts[i], panels.widths[i]) / terms) * z * z);
    }
    if (i < panels.z.size() && panels.starts[i] < lags) {
        // The panel that M cuts short.
        const int64_t width = lags - panels.starts[i];
        sum += panel_count(width) * weighted_square(model, panel_at(panels.starts[i], width), terms);
    }
    return edf_of_lag_sum(model, panels.zero, sum, lags, terms);
}

// And the EDF by the exact key, as runs of one length repeat it.
struct ShortEntry {
    bool ready;
    Variance variance;
    int alpha;
    int m;
    double terms;
    double edf;
};
constexpr size_t SHORT_ENTRIES = 1024;

double short_segment_edf(const EdfModel &model, Variance variance, int64_t lags, double terms) {
    static ShortEntry entries[SHORT_ENTRIES];
    const auto m = static_cast<int>(model.stride);
    uint64_t bits = 0;
    std::memcpy(&bits, &terms, sizeof bits);
    const uint64_t key = (bits * 0x9E3779B97F4A7C15ULL) ^ (static_cast<uint64_t>(m) << 8) ^
                         (static_cast<uint64_t>(model.alpha + 4) << 3) ^ static_cast<uint64_t>(variance);
    ShortEntry &entry = entries[(key ^ (key >> 29)) % SHORT_ENTRIES];
    if (!(entry.ready && entry.variance == variance && entry.alpha == model.alpha && entry.m == m &&
          entry.terms == terms)) {
        const Panels *panels = panels_of(model, variance);
        const double edf =
            panels != nullptr ? kept_segment_edf(model, *panels, lags, terms) : exact_segment_edf(model, lags, terms);
        entry = {true, variance, model.alpha, m, terms, edf};
    }
    return entry.edf;
}

}  // namespace

int edf_alpha_min(Variance variance) { return variance == Variance::overlapping_hadamard ? -4 : -2; }

double segment_edf(Variance variance, int alpha, int m, double terms) {
    if (terms < 1 || m < 1 || alpha > EDF_ALPHA_MAX || alpha < edf_alpha_min(variance)) {
        return 0;
    }
    const EdfModel model = model_of(variance, alpha, m);
    const int64_t stride = m;
    const int64_t longest = (model.d + 1) * stride;
    const int64_t lags = std::min(static_cast<int64_t>(terms), longest);
    const bool power_of_two = (m & (m - 1)) == 0;
    if (!power_of_two) {
        return exact_segment_edf(model, lags, terms);
    }
    if (lags < longest) {
        return short_segment_edf(model, variance, lags, terms);
    }
    static LongSums cache[VARIANCES][ALPHAS][CACHED_LOG2_M];
    LongSums &sums = cache[static_cast<int>(variance)][alpha + 4][__builtin_ctz(static_cast<unsigned>(m))];
    if (!sums.ready) {
        sums = long_sums_of(model, lags);
    }
    const long double basic =
        sums.zero + 2 * (sums.plain - sums.weighted / terms) + (1 - static_cast<long double>(lags) / terms) * sums.last;
    return static_cast<double>(terms * sums.zero / basic);
}

double segment_edf_by_sum(Variance variance, int alpha, int m, double terms) {
    if (terms < 1 || m < 1 || alpha > EDF_ALPHA_MAX || alpha < edf_alpha_min(variance)) {
        return 0;
    }
    const EdfModel model = model_of(variance, alpha, m);
    return exact_segment_edf(model, std::min(static_cast<int64_t>(terms), (model.d + 1) * int64_t{m}), terms);
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
    // The quantiles, some hundred steps of the incomplete gamma function
    // each, kept by their EDF: runs of one length, and the τ whose noise is
    // the same, repeat it.
    struct Quantiles {
        double edf;
        double high;
        double low;
    };
    constexpr size_t KEPT_QUANTILES = 4096;
    static Quantiles kept[KEPT_QUANTILES];
    uint64_t bits = 0;
    std::memcpy(&bits, &edf, sizeof bits);
    const uint64_t hash = bits * 0x9E3779B97F4A7C15ULL;
    Quantiles &q = kept[(hash >> 32) % KEPT_QUANTILES];
    if (!(q.edf == edf)) {
        q = {edf, chi_squared_quantile(INTERVAL_HIGH_P, edf), chi_squared_quantile(INTERVAL_LOW_P, edf)};
    }
    return {deviation * std::sqrt(edf / q.high), deviation * std::sqrt(edf / q.low)};
}
