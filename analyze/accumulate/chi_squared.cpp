#include "analyze/accumulate/chi_squared.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int GAMMA_MAX_ITERATIONS = 1'000'000;
constexpr double GAMMA_EPSILON = 1e-16;

// x^a e^(−x) / Γ(a), by logarithms (no overflow for any a).
double gamma_prefactor(double a, double x) { return std::exp(a * std::log(x) - x - std::lgamma(a)); }

// P(a, x) by its series, for x < a + 1.
double gamma_p_series(double a, double x) {
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
double gamma_q_fraction(double a, double x) {
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

}  // namespace

double regularized_gamma_p(double a, double x) {
    if (x <= 0) {
        return 0;
    }
    return x < a + 1 ? gamma_p_series(a, x) : 1 - gamma_q_fraction(a, x);
}

namespace {

// A rough normal quantile (Abramowitz and Stegun 26.2.23, error < 4.5e-4):
// only the starting point of the chi-squared quantile's iteration.
double rough_normal_quantile(double p) {
    const double q = p < 0.5 ? p : 1 - p;
    const double t = std::sqrt(-2 * std::log(q));
    const double z =
        t - (2.515517 + t * (0.802853 + t * 0.010328)) / (1 + t * (1.432788 + t * (0.189269 + t * 0.001308)));
    return p < 0.5 ? -z : z;
}

}  // namespace

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
