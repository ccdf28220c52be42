#!/usr/bin/env python3
"""Reference figures for tests/unit/analyze/confidence_test.cpp, computed apart from
the code under test.

- Chi-squared quantiles: mpmath at 40 digits (gammainc, bisection).
- EDF: exact rational arithmetic, from the covariance of the estimator's
  terms built directly from the phase model, not from Greenhall and Riley's
  sums: edf = M² R(0)² / (M R(0)² + 2 Σ_{k=1}^{M-1} (M − k) R(k)²), R the
  autocovariance of the terms z_j. The phase: white PM (independent
  points), white FM (Brownian, generalised autocovariance −|t|/2) and
  random-walk FM (integrated Brownian, |t|³/12), sampled at τ0 for the
  unmodified variances; for MDEV, as the EDF algorithm models it, the sum
  of m points is the integral of the phase over mτ0.

Run: python3 tests/support/confidence_reference.py  (needs mpmath)
"""
from fractions import Fraction

import mpmath

mpmath.mp.dps = 40


def chi2_quantile(p, dof):
    k = mpmath.mpf(dof) / 2
    f = lambda x: mpmath.gammainc(k, 0, x / 2, regularized=True) - p
    low, high = mpmath.mpf(0), mpmath.mpf(dof) + 50 * mpmath.sqrt(dof) + 50
    for _ in range(200):  # bisection: slow, but nothing to go wrong
        middle = (low + high) / 2
        low, high = (middle, high) if f(middle) < 0 else (low, middle)
    return (low + high) / 2


# H: a second antiderivative of the generalised autocovariance γ, so that
# ∫_0^w ∫_0^w γ(Δ + s − u) ds du = H(Δ + w) + H(Δ − w) − 2 H(Δ).
def gamma_white_fm(t):
    return -Fraction(abs(t)) / 2


def gamma_random_walk_fm(t):
    return Fraction(abs(t)) ** 3 / 12


def h_white_fm(t):
    return -Fraction(abs(t)) ** 3 / 12


def h_random_walk_fm(t):
    return Fraction(abs(t)) ** 5 / 240


def window_cov(h, delta, width):
    return h(delta + width) + h(delta - width) - 2 * h(delta)


DIFFERENCES = {2: [1, -2, 1], 3: [-1, 3, -3, 1]}


def term_autocov(model, kind, m, k):
    """Cov(z_j, z_{j+k}) for the unmodified (d = 2 or 3) or modified
    (d = 2) variance's terms at averaging factor m."""
    d = 3 if kind == "hadamard" else 2
    c = DIFFERENCES[d]
    # Offsets of the differenced quantities, and their width: a τ0 average
    # (unmodified) or the sum of m of them, an integral over mτ0 (modified).
    width = m if kind == "modified" else 1
    total = Fraction(0)
    for a, ca in enumerate(c):
        for b, cb in enumerate(c):
            delta = k + (b - a) * m
            if model != "white_pm" and kind != "modified":
                total += ca * cb * model_gamma[model](delta)
            elif model == "white_pm":
                # Independent τ0 averages: the overlap of two windows of
                # `width` points, delta apart.
                total += ca * cb * max(0, width - abs(delta))
            else:
                total += ca * cb * window_cov(model_h[model], delta, width)
    return total


model_h = {"white_fm": h_white_fm, "random_walk_fm": h_random_walk_fm}
model_gamma = {"white_fm": gamma_white_fm, "random_walk_fm": gamma_random_walk_fm}


def edf(model, kind, m, terms):
    d = 3 if kind == "hadamard" else 2
    last = min(terms, (d + 1) * m + 2)
    r = [term_autocov(model, kind, m, k) for k in range(last)]
    denominator = terms * r[0] ** 2 + 2 * sum((terms - k) * r[k] ** 2 for k in range(1, last))
    return Fraction(terms * terms) * r[0] ** 2 / denominator


if __name__ == "__main__":
    for p in (0.16, 0.84):
        for dof in (1, 1.5, 2, 3.7, 10, 57.25, 1000, 123456.5):
            print(f"chi2 p={p} dof={dof}: {mpmath.nstr(chi2_quantile(p, dof), 15)}")
    cases = [
        ("white_pm", "allan", 1, 100), ("white_pm", "allan", 8, 500), ("white_pm", "modified", 4, 200),
        ("white_fm", "allan", 1, 100), ("white_fm", "allan", 16, 1000), ("white_fm", "allan", 4096, 20000),
        ("white_fm", "modified", 8, 300), ("white_fm", "hadamard", 16, 1000),
        ("random_walk_fm", "allan", 2, 50), ("random_walk_fm", "allan", 64, 3000),
        ("random_walk_fm", "allan", 4096, 15000), ("random_walk_fm", "modified", 32, 2000),
        ("random_walk_fm", "hadamard", 8, 400), ("white_pm", "hadamard", 2048, 10000),
    ]
    for model, kind, m, terms in cases:
        print(f"edf {model} {kind} m={m} M={terms}: {float(edf(model, kind, m, terms)):.10g}")
