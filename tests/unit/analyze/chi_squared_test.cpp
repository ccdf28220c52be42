// The chi-squared quantiles that the deviations' intervals are taken from.
#include <gtest/gtest.h>

#include <cmath>

#include "analyze/accumulate/chi_squared.h"

namespace {

// The references were printed by tests/support/confidence_reference.py
// (mpmath at 40 digits).
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

}  // namespace
