#include "analyze/accumulate/noise.h"

#include <algorithm>
#include <cmath>

namespace {

// The open segment's undifferenced points about their least-squares line
// v_i ≈ a + b·i, not about their mean: a frequency offset makes the phase a
// line, whose lag-1 correlation near 1 would send white PM to be
// differenced, and differenced white PM (ρ1 = −1/2, where δ = ρ1/(1 + ρ1)
// is steepest) is told from flicker PM only with many more points.
void close_undifferenced(Lag1Sums &sums, double n) {
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

}  // namespace

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

namespace {

// α from the closed sums, differenced from first_d on until the series is
// stationary enough (δ < 1/4); p = −2(δ + d) is then the phase's spectral
// exponent, α = p + 2.
int lag1_alpha(const Lag1Sums &closed, int first_d) {
    if (closed.points[0] < LAG1_MIN_POINTS) {
        return NOISE_UNKNOWN;
    }
    for (int d = first_d;; ++d) {
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

// Whether the once-differenced points are not stationary (δ ≥ 1/4): never
// so for white or flicker PM alone, whose first differences are; a PM
// verdict from the twice-differenced points is then PM under an FM wander,
// which pulls the verdict down from white PM's.
bool wanders(const Lag1Sums &closed) {
    if (!(closed.squares[1] > 0)) {
        return false;
    }
    const double r1 = closed.lag_products[1] / closed.squares[1];
    return r1 / (1 + r1) >= 0.25;
}

}  // namespace

int identify_noise(const Lag1Sums &sums) {
    Lag1Sums closed = sums;
    start_lag1_segment(closed);
    return lag1_alpha(closed, 0);
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

void identify_noise_per_tau(const NoiseSums &sums, const double allan_ratio[STABILITY_TAUS], int count,
                            int alpha_out[STABILITY_TAUS]) {
    int first_known = NOISE_UNKNOWN;
    int previous = NOISE_UNKNOWN;
    for (int k = 0; k < count; ++k) {
        // The sums with the open segment closed, as the verdicts read them.
        Lag1Sums closed = sums.tau[k];
        start_lag1_segment(closed);
        int alpha = lag1_alpha(closed, 0);
        // The second opinion, where the lag-1 verdict is known and R(n) is
        // telling.
        const double ratio = allan_ratio != nullptr ? allan_ratio[k] : NAN;
        bool phase_noise = false;
        if (alpha != NOISE_UNKNOWN && (1 << k) >= RATIO_MIN_M && std::isfinite(ratio)) {
            if (alpha <= 0 && ratio < RATIO_PM_MAX) {
                // A PM noise that a slow FM wander, too small to count in
                // the Allan variance, hid from the once-differenced points:
                // the twice-differenced points, in which it is lost, say
                // which.
                const int twice = lag1_alpha(closed, 2);
                alpha = ratio * (1 << k) < RATIO_WHITE_PM_MAX_M
                            ? 2
                            : (twice == NOISE_UNKNOWN ? 1 : std::clamp(twice, 1, 2));
                phase_noise = true;
            } else if (alpha == 1 && (ratio * (1 << k) < RATIO_WHITE_PM_MAX_M || wanders(closed))) {
                alpha = 2;
            } else if (alpha == -2 && ratio < RATIO_FLICKER_FM_MAX) {
                alpha = -1;
            }
        }
        // The noise with the lowest α takes over at long τ, never one with
        // a higher: a τ whose α comes out higher than the τ before it (as
        // flicker PM decimated, its aliasing whitening it, often does) keeps
        // the earlier one; unless R(n) found a PM noise, which no aliasing
        // makes of an FM noise.
        if (alpha != NOISE_UNKNOWN) {
            previous = previous == NOISE_UNKNOWN || phase_noise ? alpha : std::min(alpha, previous);
        }
        first_known = first_known == NOISE_UNKNOWN ? alpha : first_known;
        alpha_out[k] = previous;
    }
    for (int k = 0; k < count && alpha_out[k] == NOISE_UNKNOWN; ++k) {
        alpha_out[k] = first_known;
    }
}

namespace {

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
double slope_noise_factor(int alpha, double tau0_over_span) {
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
double allan_exponent(int alpha) { return alpha >= 1 ? -2 : -1 - alpha; }

}  // namespace

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
