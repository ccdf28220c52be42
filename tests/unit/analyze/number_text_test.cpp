// Numbers written as text as printf would.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "analyze/report/number_text.h"

namespace {

TEST(AnalyzeNumberText, ScientificAsTheHostsPrintfWritesIt) {
    // Values at every scale, some on the rounding edge to the next power.
    std::mt19937_64 random(6);
    std::vector<double> values = {9.99995e-7, 9.9999949e-7, 1e-7, 1e22, -0.00099999999, 123456.75, 1e-300};
    for (int i = 0; i < 20'000; ++i) {
        values.push_back(
            std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random), static_cast<int>(random() % 200) - 100));
    }
    for (double value : values) {
        for (int decimals : {2, 4, 6}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.*e", decimals, value);
            char text[NUMBER_TEXT_SIZE];
            const std::string got(text, put_scientific(text, value, decimals));
            ASSERT_EQ(got, expected) << decimals;
        }
    }
}

}  // namespace
