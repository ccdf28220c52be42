#include "analyze/accumulate/confidence.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------- chi-squared

constexpr int GAMMA_MAX_ITERATIONS = 1'000'000;
constexpr double GAMMA_EPSILON = 1e-16;

// x^a e^(−x) / Γ(a), by logarithms (no overflow for any a).
static double gamma_prefactor(double a, double x) { return std::exp(a * std::log(x) - x - std::lgamma(a)); }

// P(a, x) by its series, for x < a + 1.
static double gamma_p_series(double a, double x) {
    double term = 1 / a;
    double sum = term;
    for (int n = 1; n < GAMMA_MAX_ITERATIONS; ++n) {
        term *= x / (a + n);
        sum += term;
        if (term < sum * GAMMA_EPSILON) {
            break;
        }
    }
    return sum * gamma_prefactor(a, x);
}

// Q(a, x) = 1 − P(a, x) by its continued fraction (modified Lentz), for
// x >= a + 1.
static double gamma_q_fraction(double a, double x) {
    constexpr double TINY = 1e-300;
    double b = x + 1 - a;
    double c = 1 / TINY;
    double d = 1 / b;
    double h = d;
    for (int i = 1; i < GAMMA_MAX_ITERATIONS; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        d = std::fabs(d) < TINY ? TINY : d;
        c = b + an / c;
        c = std::fabs(c) < TINY ? TINY : c;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1) < GAMMA_EPSILON) {
            break;
        }
    }
    return h * gamma_prefactor(a, x);
}

double regularized_gamma_p(double a, double x) {
    if (x <= 0) {
        return 0;
    }
    return x < a + 1 ? gamma_p_series(a, x) : 1 - gamma_q_fraction(a, x);
}

// A rough normal quantile (Abramowitz and Stegun 26.2.23, error < 4.5e-4):
// only the starting point of the chi-squared quantile's iteration.
static double rough_normal_quantile(double p) {
    const double q = p < 0.5 ? p : 1 - p;
    const double t = std::sqrt(-2 * std::log(q));
    const double z =
        t - (2.515517 + t * (0.802853 + t * 0.010328)) / (1 + t * (1.432788 + t * (0.189269 + t * 0.001308)));
    return p < 0.5 ? -z : z;
}

double chi_squared_quantile(double p, double dof) {
    const double a = dof / 2;
    // Wilson and Hilferty's cube-root normal approximation as the start.
    const double v = 2 / (9 * dof);
    const double cube = 1 - v + rough_normal_quantile(p) * std::sqrt(v);
    double x = cube > 0 ? dof * cube * cube * cube : dof * 0.1;
    // Newton's steps on P(a, x/2) = p, kept inside a bracket that only
    // narrows; bisection when a step leaves it.
    double low = 0;
    double high = std::max(2 * x, dof + 10 * std::sqrt(2 * dof) + 20);
    while (regularized_gamma_p(a, high / 2) < p) {
        low = high;
        high *= 2;
    }
    x = std::clamp(x, low, high);
    for (int i = 0; i < 200; ++i) {
        const double f = regularized_gamma_p(a, x / 2) - p;
        if (f < 0) {
            low = x;
        } else {
            high = x;
        }
        const double density = x > 0 ? gamma_prefactor(a, x / 2) / x : 0;  // d/dx P(a, x/2)
        double next = density > 0 ? x - f / density : (low + high) / 2;
        if (!(next > low && next < high)) {
            next = (low + high) / 2;
        }
        const bool converged = std::fabs(next - x) <= 1e-14 * x;
        x = next;
        if (converged || high - low <= 1e-15 * high) {
            break;
        }
    }
    return x;
}

// ---------------------------------------------------------------------- EDF
//
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

static long double sw(long double t, int alpha) {
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

struct EdfModel {
    int alpha;
    int d;
    long double filter;  // F; 0: ∞
    long double stride;  // S
};

static long double sx(const EdfModel &model, long double t) {
    if (model.filter == 0) {
        return sw(t, model.alpha + 2);
    }
    const long double h = 1 / model.filter;
    return model.filter * model.filter * (2 * sw(t, model.alpha) - sw(t - h, model.alpha) - sw(t + h, model.alpha));
}

// (−1)^k C(2d, d + k), k = 0 .. d.
static const long double DIFFERENCE_WEIGHTS[2][4] = {{6, -4, 1, 0}, {20, -15, 6, -1}};

static long double sz(const EdfModel &model, long double t) {
    const long double *weights = DIFFERENCE_WEIGHTS[model.d - 2];
    long double sum = weights[0] * sx(model, t);
    for (int k = 1; k <= model.d; ++k) {
        sum += weights[k] * (sx(model, t - k) + sx(model, t + k));
    }
    return sum;
}

static long double weighted_square(const EdfModel &model, long double j, double terms) {
    const long double z = sz(model, j / model.stride);
    return (1 - j / terms) * z * z;
}

// Σ_{j=1}^{J−1} (1 − j/M) sz(j/S)².
static long double lag_sum(const EdfModel &model, int64_t lags, double terms, int64_t stride) {
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

// ------------------------------------------------------- noise identification

// The open segment's undifferenced points about their least-squares line
// v_i ≈ a + b·i, not about their mean: a frequency offset makes the phase a
// line, whose lag-1 correlation near 1 would send white PM to be
// differenced, and differenced white PM (ρ1 = −1/2, where δ = ρ1/(1 + ρ1)
// is steepest) is told from flicker PM only with many more points.
static void close_undifferenced(Lag1Sums &sums, double n) {
    const double sum = sums.sum[0];
    const double last = sums.last[0] - sums.shift[0] - sums.shift_slope * (n - 1);  // the first is 0
    const double t_mean = (n - 1) / 2;
    const double time_squares = n * (n * n - 1) / 12;
    const double cross = sums.time_products - t_mean * sum;
    const double b = time_squares > 0 ? cross / time_squares : 0;
    const double a = sum / n - b * t_mean;
    // Σ_{i=0}^{n−2} (v_i − a − b·i)(v_{i+1} − a − b·(i+1)), expanded.
    const double k = n - 1;
    const double i_sum = k * (k - 1) / 2;
    const double i_squares = (k - 1) * k * (2 * k - 1) / 6;
    const double line_products = k * a * a + 2 * a * b * i_sum + b * b * i_squares + b * (k * a + b * i_sum);
    const double lag = sums.sum_products[0] -
                       (a * (sum - last) + b * (sums.time_products - k * last) + b * (sum - last)) -
                       (a * sum + b * sums.time_products - b * sum) + line_products;
    sums.points[0] += static_cast<uint64_t>(n);
    sums.squares[0] += std::max(0.0, sums.sum_squares[0] - sum * sum / n - b * cross);
    sums.lag_products[0] += lag;
}

void start_lag1_segment(Lag1Sums &sums) {
    for (int d = 0; d < LAG1_DIFFERENCES; ++d) {
        const auto differences = static_cast<uint64_t>(d);
        const auto n = static_cast<double>(sums.open_points > differences ? sums.open_points - differences : 0);
        if (d == 0 && n >= 1) {
            close_undifferenced(sums, n);
        } else if (n >= 1) {
            // The differenced points about their mean.
            const double mean = sums.sum[d] / n;
            const double last = sums.last[d] - sums.shift[d];  // the first is 0
            sums.points[d] += static_cast<uint64_t>(n);
            sums.squares[d] += std::max(0.0, sums.sum_squares[d] - n * mean * mean);
            sums.lag_products[d] += sums.sum_products[d] - mean * (2 * sums.sum[d] - last) + (n - 1) * mean * mean;
        }
        sums.sum[d] = 0;
        sums.sum_squares[d] = 0;
        sums.sum_products[d] = 0;
    }
    sums.time_products = 0;
    sums.open_points = 0;
}

void add_lag1_point(Lag1Sums &sums, double x) {
    const uint64_t index = sums.open_points++;
    double z = x;
    for (int d = 0; d < LAG1_DIFFERENCES && index >= static_cast<uint64_t>(d); ++d) {
        const double previous = sums.last[d];
        sums.last[d] = z;
        if (index == static_cast<uint64_t>(d)) {
            sums.shift[d] = z;
            break;
        }
        if (d == 0 && index == 1) {
            sums.shift_slope = z - previous;
        }
        // The undifferenced points less the line through the first two:
        // what is left of a drift is of the size of the noise.
        const double line = d == 0 ? sums.shift_slope * static_cast<double>(index) : 0;
        const double previous_line = d == 0 ? line - sums.shift_slope : 0;
        const double value = z - sums.shift[d] - line;
        if (d == 0) {
            sums.time_products += static_cast<double>(index) * value;
        }
        sums.sum[d] += value;
        sums.sum_squares[d] += value * value;
        sums.sum_products[d] += (previous - sums.shift[d] - previous_line) * value;
        z -= previous;
    }
}

void add_lag1(Lag1Sums &into, const Lag1Sums &from) {
    Lag1Sums closed = from;
    start_lag1_segment(closed);
    for (int d = 0; d < LAG1_DIFFERENCES; ++d) {
        into.points[d] += closed.points[d];
        into.squares[d] += closed.squares[d];
        into.lag_products[d] += closed.lag_products[d];
    }
}

int identify_noise(const Lag1Sums &sums) {
    Lag1Sums closed = sums;
    start_lag1_segment(closed);
    if (closed.points[0] < LAG1_MIN_POINTS) {
        return NOISE_UNKNOWN;
    }
    // Difference until the series is stationary enough (δ < 1/4), then
    // p = −2(δ + d) is the phase's spectral exponent, α = p + 2.
    for (int d = 0;; ++d) {
        if (!(closed.squares[d] > 0)) {
            return NOISE_UNKNOWN;
        }
        const double r1 = closed.lag_products[d] / closed.squares[d];
        const double delta = r1 > -1 ? r1 / (1 + r1) : -1e9;
        if (delta < 0.25 || d == LAG1_DIFFERENCES - 1) {
            const double alpha = std::round(-2 * (delta + d)) + 2;
            return static_cast<int>(std::clamp(alpha, -2.0, 2.0));
        }
    }
}

void start_noise_segment(NoiseSums &sums) {
    for (Lag1Sums &tau : sums.tau) {
        start_lag1_segment(tau);
    }
}

void add_noise_point(NoiseSums &sums, uint64_t index, double x) {
    for (int k = 0; k < STABILITY_TAUS && (index & ((uint64_t{1} << k) - 1)) == 0; ++k) {
        add_lag1_point(sums.tau[k], x);
    }
}

void add_noise(NoiseSums &into, const NoiseSums &from) {
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        add_lag1(into.tau[k], from.tau[k]);
    }
}

void identify_noise_per_tau(const NoiseSums &sums, int count, int alpha_out[STABILITY_TAUS]) {
    int first_known = NOISE_UNKNOWN;
    int previous = NOISE_UNKNOWN;
    for (int k = 0; k < count; ++k) {
        // The noise with the lowest α takes over at long τ, never one with
        // a higher: a τ whose α comes out higher than the τ before it (as
        // flicker PM decimated, its aliasing whitening it, often does) keeps
        // the earlier one.
        const int alpha = identify_noise(sums.tau[k]);
        previous = alpha == NOISE_UNKNOWN ? previous : (previous == NOISE_UNKNOWN ? alpha : std::min(alpha, previous));
        first_known = first_known == NOISE_UNKNOWN ? alpha : first_known;
        alpha_out[k] = previous;
    }
    for (int k = 0; k < count && alpha_out[k] == NOISE_UNKNOWN; ++k) {
        alpha_out[k] = first_known;
    }
}

// ------------------------------------------------- frequency offset uncertainty

// The slope's noise part over a span T is k(α)·σ_y(T):
// - white PM (+2): Var = σ_x²/Σ(t − t̄)² = 4 σ_y²(T)·τ0/T, k = 2√(τ0/T)
//   (σ_y²(τ) = 3σ_x²/τ²): the classical standard error itself;
// - flicker PM (+1): Var ∝ σ_y²(T) up to a logarithm: k = 0.54, by
//   simulation;
// - white FM (0): phase a random walk, Var = (6/5) q/T with
//   σ_y²(T) = q/T: k = √(6/5);
// - flicker FM (−1): k = 1.43, by simulation;
// - random-walk FM (−2): frequency a Brownian motion of rate r, the slope
//   ∫ y(s)·6s(T−s)/T³ ds, Var = (13/35) r T with σ_y²(T) = rT/3:
//   k = √(39/35).
// The factors by simulation: tests/simulation/coverage's series (20 000 points) with
// the true α given, the median uncertainty then equal to the RMS error
// (docs/statistics.md).
static double slope_noise_factor(int alpha, double tau0_over_span) {
    switch (alpha) {
    case 2:
        return 2 * std::sqrt(tau0_over_span);
    case 1:
        return 0.54;
    case 0:
        return std::sqrt(6.0 / 5);
    case -1:
        return 1.43;
    default:  // −2
        return std::sqrt(39.0 / 35);
    }
}

// σ_y² ∝ τ^μ: μ = −2 for the PM noises (flicker PM up to a logarithm),
// −1, 0 and +1 for white, flicker and random-walk FM.
static double allan_exponent(int alpha) { return alpha >= 1 ? -2 : -1 - alpha; }

double frequency_uncertainty(const FrequencyUncertaintyInputs &inputs) {
    const StabilityWithNoise *reference = nullptr;
    for (int i = 0; i < inputs.stability_count; ++i) {
        const StabilityWithNoise &point = inputs.stability[i];
        if (point.edf >= FREQUENCY_MIN_EDF && point.alpha >= -2 && point.alpha <= 2) {
            reference = &point;
        }
    }
    if (reference == nullptr || !(inputs.time_squares > 0)) {
        return inputs.fit_stderr;
    }
    const double tau0 = inputs.tau0_s;
    const double span = std::cbrt(12 * inputs.time_squares / (tau0 * tau0)) * tau0;
    const double at_span = reference->oadev * std::pow(span / reference->tau_s, allan_exponent(reference->alpha) / 2);
    const double noise = slope_noise_factor(reference->alpha, tau0 / span) * at_span;
    return std::max(inputs.fit_stderr, noise);
}
