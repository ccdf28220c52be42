// Noise identification and the frequency offset's uncertainty. Their
// coverage on simulated noise is checked by tests/simulation/coverage.cpp
// (CTest label "slow").
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analyze/accumulate/noise.h"
#include "tests/support/power_law_noise.h"

namespace {

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
    identify_noise_per_tau(sums, 12, alpha);
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
