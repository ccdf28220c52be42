// How far the stability figures and the frequency offset can be trusted:
// chi-squared quantiles, the EDF of the variances, the intervals (edf.h), noise
// identification and the frequency offset's uncertainty (noise.h). Their coverage
// on simulated noise is checked by tests/simulation/coverage (label "slow").
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analyze/accumulate/chi_squared.h"
#include "analyze/accumulate/edf.h"
#include "analyze/accumulate/noise.h"
#include "tests/support/power_law_noise.h"

namespace {

// The references below were printed by tests/support/confidence_reference.py
// (mpmath at 40 digits for chi-squared; exact rationals for the EDF, from
// the terms' covariance built directly from the phase model).
TEST(ChiSquared, QuantilesMatchAnIndependentComputation) {
    struct Case {
        double dof, low, high;  // χ²(0.16), χ²(0.84)
    };
    const Case cases[] = {
        {1, 0.040760976920001, 1.97422608959095},   {1.5, 0.162548561025458, 2.85554096676687},
        {2, 0.348706774289556, 3.66516292749662},   {3.7, 1.24156910935751, 6.16079365892325},
        {10, 5.69756891786533, 14.2939712271443},   {57.25, 46.6641274964671, 67.8222020369468},
        {1000, 955.534005380256, 1044.45131729598}, {123456.5, 122962.344453499, 123950.640808967},
    };
    for (const Case &c : cases) {
        EXPECT_NEAR(chi_squared_quantile(0.16, c.dof), c.low, 1e-10 * c.low) << c.dof;
        EXPECT_NEAR(chi_squared_quantile(0.84, c.dof), c.high, 1e-10 * c.high) << c.dof;
    }
    // And the far tails, against their closed form for 2 degrees of freedom
    // (1 − p exact in doubles; P near 1 holds only absolute digits).
    EXPECT_NEAR(chi_squared_quantile(1e-9, 2), -2 * std::log1p(-1e-9), 1e-18);
    const double near_one = 1 - 1e-9;
    EXPECT_NEAR(chi_squared_quantile(near_one, 2), -2 * std::log(1 - near_one), 1e-6);
}

TEST(Edf, MatchesTheDirectComputation) {
    struct Case {
        Variance variance;
        int alpha, m;
        double terms, edf;
    };
    const Variance allan = Variance::overlapping_allan;
    const Variance modified = Variance::modified_allan;
    const Variance hadamard = Variance::overlapping_hadamard;
    const Case cases[] = {
        {allan, 2, 1, 100, 51.69442849},       {allan, 2, 8, 500, 259.276331},
        {modified, 2, 4, 200, 59.51888898},    {allan, 0, 1, 100, 66.88963211},
        {allan, 0, 16, 1000, 94.04462417},     {allan, 0, 4096, 20000, 8.159779598},
        {modified, 0, 8, 300, 36.86472961},    {hadamard, 0, 16, 1000, 80.71766977},
        {allan, -2, 2, 50, 23.42606149},       {allan, -2, 64, 3000, 43.77876118},
        {allan, -2, 4096, 15000, 3.744021422}, {modified, -2, 32, 2000, 48.31224519},
        {hadamard, -2, 8, 400, 48.95900462},   {hadamard, 2, 2048, 10000, 4993.009786},
    };
    for (const Case &c : cases) {
        EXPECT_NEAR(segment_edf(c.variance, c.alpha, c.m, c.terms), c.edf, 1e-6 * c.edf)
            << static_cast<int>(c.variance) << " alpha " << c.alpha << " m " << c.m;
    }
}

// What is kept between calls gives the full sum's EDF, in whatever order
// the (variance, α, m, M) come.
TEST(Edf, KeptSumsGiveTheFullSum) {
    for (const double scale : {1000.0, 4.0, 3.0, 10.5, 1.5, 2.7, 3.9}) {
        for (const Variance v :
             {Variance::overlapping_allan, Variance::modified_allan, Variance::overlapping_hadamard}) {
            for (int alpha = edf_alpha_min(v); alpha <= EDF_ALPHA_MAX; ++alpha) {
                for (const int m : {1, 4, 64, 2048}) {
                    const double exact = segment_edf_by_sum(v, alpha, m, scale * m);
                    EXPECT_NEAR(segment_edf(v, alpha, m, scale * m), exact, 1e-9 * exact) << alpha << " " << m;
                }
            }
        }
    }
}

// NIST SP 1065's closed-form approximations for the OADEV's EDF, N phase
// points: the white-FM one within 2 %, the others (fits) within 10 %.
TEST(Edf, AgreesWithTheClosedFormsForOadev) {
    const double n = 10001;
    for (const double m : {4.0, 64.0, 1024.0}) {
        const double terms = n - 2 * m;
        const double white_fm = (3 * (n - 1) / (2 * m) - 2 * (n - 2) / n) * 4 * m * m / (4 * m * m + 5);
        const double flicker_fm = 5 * n * n / (4 * m * (n + 3 * m));
        const double random_walk_fm =
            (n - 2) / m * ((n - 1) * (n - 1) - 3 * m * (n - 1) + 4 * m * m) / ((n - 3) * (n - 3));
        const auto m_int = static_cast<int>(m);
        EXPECT_NEAR(segment_edf(Variance::overlapping_allan, 0, m_int, terms) / white_fm, 1, 0.02) << m;
        EXPECT_NEAR(segment_edf(Variance::overlapping_allan, -1, m_int, terms) / flicker_fm, 1, 0.1) << m;
        EXPECT_NEAR(segment_edf(Variance::overlapping_allan, -2, m_int, terms) / random_walk_fm, 1, 0.1) << m;
    }
}

TEST(Edf, PoolsSegmentsAsTheirVariancesAdd) {
    // Two segments alike, long enough for the exact form n²/Σ(n_s²/edf_s):
    // twice the EDF of one.
    const double one = segment_edf(Variance::modified_allan, -1, 16, 4000);
    EXPECT_NEAR(pooled_edf(Variance::modified_allan, -1, 16, 8000, 2), 2 * one, 1e-9 * one);
    EXPECT_EQ(segment_edf(Variance::overlapping_allan, -3, 16, 4000), 0);
    EXPECT_GT(segment_edf(Variance::overlapping_hadamard, -4, 16, 4000), 0);
    EXPECT_EQ(segment_edf(Variance::overlapping_allan, 0, 16, 0.5), 0);
}

TEST(Edf, GivesTheIntervalFromTheQuantiles) {
    const DeviationInterval interval = deviation_interval(2e-9, 10);
    EXPECT_NEAR(interval.low, 2e-9 * std::sqrt(10 / 14.2939712271443), 1e-18);
    EXPECT_NEAR(interval.high, 2e-9 * std::sqrt(10 / 5.69756891786533), 1e-18);
    EXPECT_EQ(deviation_interval(1, 0).high, 0);
}

Lag1Sums lag1_of(const std::vector<double> &phase, size_t step, double drift) {
    Lag1Sums sums = {};
    start_lag1_segment(sums);
    for (size_t i = 0; i < phase.size(); i += step) {
        add_lag1_point(sums, phase[i] + drift * static_cast<double>(i));
    }
    return sums;
}

TEST(NoiseIdentification, RecoversAlphaOfGeneratedNoise) {
    for (const int alpha : {2, 1, 0, -1, -2}) {
        const std::vector<double> phase = power_law_phase(alpha, 8192, static_cast<uint64_t>(40 + alpha));
        EXPECT_EQ(identify_noise(lag1_of(phase, 1, 0)), alpha) << alpha;
        EXPECT_EQ(identify_noise(lag1_of(phase, 16, 0)), alpha) << alpha;
        // A drift of 100 000 units a step, the noise's steps being about 1.
        EXPECT_EQ(identify_noise(lag1_of(phase, 1, 1e5)), alpha) << alpha;
    }
    EXPECT_EQ(identify_noise(lag1_of(power_law_phase(0, 8192, 1), 512, 0)), NOISE_UNKNOWN);  // 16 points
}

TEST(NoiseIdentification, PoolsSegmentsAndRuns) {
    const std::vector<double> phase = power_law_phase(-1, 6000, 7);
    // One run: the series in two segments, the second restarting from 0.
    Lag1Sums run = {};
    start_lag1_segment(run);
    for (size_t i = 0; i < phase.size(); ++i) {
        if (i == 3000) {
            start_lag1_segment(run);
        }
        add_lag1_point(run, phase[i] - (i >= 3000 ? phase[3000] : 0));
    }
    // The same as two runs of one segment each, added.
    Lag1Sums total = {};
    add_lag1(total, lag1_of(std::vector<double>(phase.begin(), phase.begin() + 3000), 1, 0));
    add_lag1(total, lag1_of(std::vector<double>(phase.begin() + 3000, phase.end()), 1, 0));
    Lag1Sums closed = run;
    start_lag1_segment(closed);
    for (int d = 0; d < LAG1_DIFFERENCES; ++d) {
        EXPECT_EQ(closed.points[d], total.points[d]);
        EXPECT_NEAR(closed.lag_products[d], total.lag_products[d], 1e-9 * std::fabs(total.squares[d]));
        EXPECT_NEAR(closed.squares[d], total.squares[d], 1e-9 * total.squares[d]);
    }
    EXPECT_EQ(identify_noise(run), -1);

    // Per τ: every m-th point, and the unknown long τ take the last known α.
    NoiseSums sums = {};
    start_noise_segment(sums);
    for (size_t i = 0; i < phase.size(); ++i) {
        add_noise_point(sums, i, phase[i]);
    }
    int alpha[STABILITY_TAUS];
    identify_noise_per_tau(sums, nullptr, 12, alpha);
    EXPECT_EQ(identify_noise(sums.tau[3]), identify_noise(lag1_of(phase, 8, 0)));
    EXPECT_EQ(identify_noise(sums.tau[11]), NOISE_UNKNOWN);  // 3 points
    EXPECT_EQ(alpha[11], alpha[7]);
    EXPECT_NE(alpha[11], NOISE_UNKNOWN);
}

TEST(FrequencyUncertainty, ScalesTheLongestReliableDeviationToTheSpan) {
    // White FM over one segment of 10 000 points, τ0 = 1 s: σ_y(τ) = 1e-9/√τ.
    const double n = 10000;
    const StabilityWithNoise points[] = {
        {1, 1e-9, 9000, 0},
        {64, 1e-9 / 8, 150, 0},
        {1024, 1e-9 / 32, 9, 0},
        {2048, 1e-9 / std::sqrt(2048.0), 2, 0},  // too few degrees of freedom
    };
    FrequencyUncertaintyInputs inputs = {1e-14, n * (n * n - 1) / 12, 1, points, 4};
    // σ_y(T) = 1e-9/√T, k = √1.2, T = ∛(n³ − n).
    const double span = std::cbrt(n * n * n - n);
    EXPECT_NEAR(frequency_uncertainty(inputs), std::sqrt(1.2) * 1e-9 / std::sqrt(span), 1e-18);
    // The classical standard error where it is the larger, or alone.
    inputs.fit_stderr = 1e-10;
    EXPECT_EQ(frequency_uncertainty(inputs), 1e-10);
    inputs.fit_stderr = 1e-14;
    inputs.stability_count = 0;
    EXPECT_EQ(frequency_uncertainty(inputs), 1e-14);
}

}  // namespace
