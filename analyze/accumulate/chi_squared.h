// The chi-squared distribution's quantiles, which a deviation's interval
// is taken from.
#pragma once

// The regularised lower incomplete gamma function P(a, x), a > 0, x >= 0.
double regularized_gamma_p(double a, double x);
// The p-quantile of chi-squared with dof (any real >= 0.5) degrees of
// freedom: the x with P(dof/2, x/2) = p, 0 < p < 1. Relative error about
// 1e-12.
double chi_squared_quantile(double p, double dof);
