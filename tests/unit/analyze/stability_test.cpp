// OADEV, MDEV, TDEV, HDEV and MTIE: published values, and the streaming
// sums against a direct computation, missing points and all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "analyze/accumulate/stability.h"

namespace {

// Phase points given directly, in segments, in the data's own units (taken
// as ns, τ0 = 1 s), NaN where missing; also the sums of any other m given.
struct DirectStability {
    std::vector<StabilityPoint> listed;
    std::vector<StabilityPoint> other;
};

DirectStability stability_of(const std::vector<std::vector<double>> &segments, const std::vector<int> &other_m = {}) {
    static PhaseSegment segment;
    StabilitySums sums = {};
    std::vector<TauSums> other(other_m.size());
    std::vector<double> windows(other_m.size());
    std::vector<int> missing(other_m.size());
    for (const auto &x : segments) {
        flush_phase_points(segment);
        start_segment(segment);
        for (size_t i = 1; i < x.size(); ++i) {
            add_phase_point(segment, sums, x[i]);
            for (size_t j = 0; j < other_m.size(); ++j) {
                add_deviation_terms(segment, other_m[j], windows[j], missing[j], other[j]);
            }
        }
    }
    flush_phase_points(segment);
    DirectStability got;
    for (int k = 0; k < STABILITY_TAUS && sums.tau[k].oadev_terms >= 2; ++k) {
        got.listed.push_back(stability_point(sums.tau[k], 1 << k, 1e-9, 1.0));
    }
    for (size_t j = 0; j < other_m.size(); ++j) {
        got.other.push_back(stability_point(other[j], other_m[j], 1e-9, 1.0));
    }
    return got;
}

TEST(AnalyzeStability, ReproducesThePublishedValuesOfTheNbs14AndThe1000PointSets) {
    // Each to its printed digits: within half a unit of the 7th.
    auto check = [](const StabilityPoint &got, double tau, double oadev, double mdev, double tdev, double hdev) {
        const double half = 0.5e-6;
        EXPECT_EQ(got.tau_s, tau);
        EXPECT_NEAR(got.oadev * 1e9, oadev, oadev * half) << tau;
        ASSERT_TRUE(got.has_mdev) << tau;
        EXPECT_NEAR(got.mdev * 1e9, mdev, mdev * half) << tau;
        EXPECT_NEAR(got.tdev_ns, tdev, tdev * half) << tau;
        ASSERT_TRUE(got.has_hdev) << tau;
        EXPECT_NEAR(got.hdev * 1e9, hdev, hdev * half) << tau;
    };
    const std::vector<double> nbs14 = {0,        103.11111, 123.22222, 157.33333, 166.44444,
                                       48.55555, -96.33333, -2.22222,  111.88889, 0};
    const auto short_set = stability_of({nbs14}).listed;
    ASSERT_EQ(short_set.size(), 3U) << "m = 4 has n = 2, m = 8 too few";
    check(short_set[0], 1, 91.22945, 91.22945, 52.67135, 70.80607);
    check(short_set[1], 2, 85.95287, 74.78849, 86.35831, 85.61487);
    EXPECT_EQ(short_set[0].n, 8U);
    EXPECT_EQ(short_set[2].n, 2U);
    EXPECT_FALSE(short_set[2].has_mdev) << "n' = 0";
    // The largest swings: 48.55555 to -96.33333 in one step, -96.33333 to
    // 166.44444 within 2 and 4.
    EXPECT_NEAR(short_set[0].mtie_ns, 144.88888, 1e-9);
    EXPECT_NEAR(short_set[1].mtie_ns, 262.77777, 1e-9);
    EXPECT_NEAR(short_set[2].mtie_ns, 262.77777, 1e-9);

    std::vector<double> x = {0};
    uint64_t n = 1234567890;
    for (int i = 0; i < 1000; ++i) {
        x.push_back(x.back() + static_cast<double>(n) / 2147483647.0);
        n = 16807 * n % 2147483647;
    }
    const DirectStability long_set = stability_of({x}, {10, 100});
    check(long_set.listed[0], 1, 0.2922319, 0.2922319, 0.1687202, 0.2943883);
    check(long_set.other[0], 10, 0.09159953, 0.06172376, 0.3563623, 0.09581083);
    check(long_set.other[1], 100, 0.03241343, 0.02170921, 1.253382, 0.03237638);
}

TEST(AnalyzeStability, StreamingSumsMatchADirectComputationOverLongSegmentsWithHoles) {
    // A drifting random walk with white noise, not in whole units, long
    // enough for the MDEV window to be summed afresh, with points missing:
    // 5 together, 70 000 together (within 3m of m = 2^16 and 2^17), and
    // single ones; and a short segment.
    std::mt19937_64 random(6);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<std::vector<double>> segments(2);
    double walk = 0;
    for (int i = 0; i <= 620'000; ++i) {
        walk += 0.3 * noise(random);
        const bool missing = (i >= 1000 && i < 1005) || (i >= 200'000 && i < 270'000) || (i > 300'000 && i % 9973 == 0);
        segments[0].push_back(i == 0 ? 0 : missing ? NAN : 1e-3 * i + walk + noise(random) + 0.1);
    }
    for (int i = 0; i <= 300; ++i) {
        segments[1].push_back(i == 0 ? 0 : 7 * noise(random));
    }
    const auto listed = stability_of(segments).listed;
    ASSERT_EQ(listed.size(), 18U) << "m = 2^17 fits 620'000 points";
    for (const unsigned k : {0U, 1U, 6U, 16U, 17U}) {
        const unsigned m = 1U << k;
        const size_t mu = m;
        long double oadev_sum = 0;
        long double mdev_sum = 0;
        long double hdev_sum = 0;
        uint64_t terms = 0;
        uint64_t mdev_terms = 0;
        uint64_t hdev_terms = 0;
        double mtie = 0;
        for (const auto &x : segments) {
            std::vector<long double> s;
            for (size_t i = 0; i + 2 * mu < x.size(); ++i) {
                s.push_back(static_cast<long double>(x[i + 2 * mu]) - 2.0L * x[i + mu] + x[i]);
                if (!std::isnan(s.back())) {
                    oadev_sum += s.back() * s.back();
                    ++terms;
                }
            }
            // The window of m second differences, its missing ones counted.
            long double window = 0;
            size_t window_missing = 0;
            for (size_t i = 0; i < s.size(); ++i) {
                window += std::isnan(s[i]) ? 0 : s[i];
                window_missing += std::isnan(s[i]) ? 1 : 0;
                if (i >= mu) {
                    window -= std::isnan(s[i - mu]) ? 0 : s[i - mu];
                    window_missing -= std::isnan(s[i - mu]) ? 1 : 0;
                }
                if (i + 1 >= mu && window_missing == 0) {
                    mdev_sum += window * window;
                    ++mdev_terms;
                }
            }
            for (size_t i = 0; i + 3 * mu < x.size(); ++i) {
                const long double h =
                    static_cast<long double>(x[i + 3 * mu]) - 3.0L * x[i + 2 * mu] + 3.0L * x[i + mu] - x[i];
                if (!std::isnan(h)) {
                    hdev_sum += h * h;
                    ++hdev_terms;
                }
            }
            // Extremes of the present points among m + 1 with monotonic
            // queues.
            std::deque<size_t> highs;
            std::deque<size_t> lows;
            for (size_t i = 0; i < x.size(); ++i) {
                if (!std::isnan(x[i])) {
                    while (!highs.empty() && x[highs.back()] <= x[i]) {
                        highs.pop_back();
                    }
                    while (!lows.empty() && x[lows.back()] >= x[i]) {
                        lows.pop_back();
                    }
                    highs.push_back(i);
                    lows.push_back(i);
                }
                for (auto *q : {&highs, &lows}) {
                    if (!q->empty() && q->front() + mu < i) {
                        q->pop_front();
                    }
                }
                if (i >= mu && !highs.empty()) {
                    mtie = std::max(mtie, x[highs.front()] - x[lows.front()]);
                }
            }
        }
        const StabilityPoint &got = listed[k];
        ASSERT_EQ(got.n, terms) << m;
        const double oadev = std::sqrt(static_cast<double>(oadev_sum / (2.0L * m * m * terms)));
        const double mdev = std::sqrt(static_cast<double>(mdev_sum / (2.0L * m * m * m * m * mdev_terms)));
        const double hdev = std::sqrt(static_cast<double>(hdev_sum / (6.0L * m * m * hdev_terms)));
        EXPECT_NEAR(got.oadev * 1e9, oadev, oadev * 1e-11) << m;
        ASSERT_EQ(got.has_mdev, mdev_terms >= 2) << m;
        if (got.has_mdev) {
            EXPECT_NEAR(got.mdev * 1e9, mdev, mdev * 1e-11) << m;
        }
        ASSERT_EQ(got.has_hdev, hdev_terms >= 2) << m;
        if (got.has_hdev) {
            EXPECT_NEAR(got.hdev * 1e9, hdev, hdev * 1e-11) << m;
        }
        EXPECT_NEAR(got.mtie_ns, mtie, mtie * 1e-12) << m;
    }
}

}  // namespace

TEST(AnalyzeStability, BlockSumsEqualThePointByPointSumsToTheBit) {
    // A whole-unit random walk in two segments, its blocks cut by missing
    // points, the first segment's end and reads in mid-block; the terms
    // of each m as add_deviation_terms adds them one point at a time.
    static PhaseSegment segment;
    StabilitySums sums = {};
    TauSums each[STABILITY_TAUS] = {};
    double windows[STABILITY_TAUS] = {};
    int missing[STABILITY_TAUS] = {};
    std::mt19937_64 random(5);
    std::normal_distribution<double> step(0.0, 100.0);
    for (const int length : {3 * PHASE_BLOCK + 17, 9000}) {
        flush_phase_points(segment);
        start_segment(segment);
        double x = 0;
        for (int i = 1; i < length; ++i) {
            x += std::nearbyint(step(random));
            const bool hole = i % 2500 == 0 || (i > 7000 && i < 7004);
            add_phase_point(segment, sums, hole ? NAN : x);
            for (int k = 0; k < STABILITY_TAUS; ++k) {
                add_deviation_terms(segment, 1 << k, windows[k], missing[k], each[k]);
            }
            if (i % 1000 == 999) {
                flush_phase_points(segment);
            }
        }
    }
    flush_phase_points(segment);
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        EXPECT_EQ(sums.tau[k].oadev_terms, each[k].oadev_terms) << k;
        EXPECT_EQ(sums.tau[k].oadev_sum, each[k].oadev_sum) << k;
        EXPECT_EQ(sums.tau[k].mdev_terms, each[k].mdev_terms) << k;
        EXPECT_EQ(sums.tau[k].mdev_sum, each[k].mdev_sum) << k;
        EXPECT_EQ(sums.tau[k].hdev_terms, each[k].hdev_terms) << k;
        EXPECT_EQ(sums.tau[k].hdev_sum, each[k].hdev_sum) << k;
    }
}
