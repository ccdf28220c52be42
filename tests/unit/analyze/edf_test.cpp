// The degrees of freedom of the deviations and their intervals. Their
// coverage on simulated noise is checked by tests/simulation/coverage.cpp
// (CTest label "slow").
#include <gtest/gtest.h>

#include <cmath>

#include "analyze/accumulate/edf.h"

namespace {

// The references were printed by tests/support/confidence_reference.py
// (exact rationals, from the terms' covariance built directly from the
// phase model).
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
    // Two segments long enough for the exact form: n²/Σ(n_s²/edf_s).
    const double a = segment_edf(Variance::modified_allan, -1, 16, 4000);
    const double b = segment_edf(Variance::modified_allan, -1, 16, 4000);
    EXPECT_NEAR(pooled_edf(Variance::modified_allan, -1, 16, 8000, 2),
                8000.0 * 8000 / (4000 * 4000 / a + 4000 * 4000 / b), 1e-9 * a);
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

}  // namespace
