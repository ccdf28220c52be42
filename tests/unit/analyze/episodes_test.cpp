// Correction episodes: steps and slews, what they commanded and what the
// clock did.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "analyze/accumulate/episodes.h"
#include "analyze/parse/utc_time.h"

namespace {

constexpr int32_t INCREMENT = 156250;
constexpr int64_t T0 = 1'709'645'940'015;  // 2024-03-05 13:39:00.015

ReportFields sample_at(int64_t utc_ms, double counter_ms, double difference_ms, int32_t offset, bool marked = false) {
    return {utc_ms, counter_ms + difference_ms, counter_ms, difference_ms, INCREMENT + offset, offset, marked};
}

TEST(AnalyzeEpisodes, ASlewCommandsItsRateTimesTheCounterTimeAndMeasuresItsDifferences) {
    auto e = std::make_unique<RunEpisodes>();
    start_episodes(*e);
    add_to_episodes(*e, sample_at(T0, 1000, 0.002, 0));
    // 60 samples at -249/156250 (-1593.6 ppm), counter intervals off 1 s,
    // the clock following the command up to a small noise.
    long double commanded = 0;
    long double measured = 0;
    long double counter = 0;
    for (int i = 0; i < 60; ++i) {
        const double counter_ms = 1000 + (i % 7 - 3) * 0.1713;
        const double difference_ms = std::round((-1593.6e-6 * counter_ms + (i % 3 - 1) * 0.0004) * 1e4) / 1e4;
        add_to_episodes(*e, sample_at(T0 + 1000 + i * 1000, counter_ms, difference_ms, -249));
        commanded += -249.0L / INCREMENT * counter_ms;
        measured += difference_ms;
        counter += counter_ms;
    }
    EXPECT_TRUE(e->slewing);
    EXPECT_EQ(e->kept_count, 0) << "a slew still going on is not yet kept";
    add_to_episodes(*e, sample_at(T0 + 61'000, 1000, 0.001, 0));
    ASSERT_EQ(e->kept_count, 1);
    const Episode &slew = e->kept[0];
    EXPECT_EQ(slew.kind, EpisodeKind::slew);
    EXPECT_EQ(slew.samples, 60U);
    EXPECT_EQ(slew.start_utc_ms, T0 + 1000);
    EXPECT_EQ(slew.end_utc_ms, T0 + 60'000);
    EXPECT_NEAR(duration_s(slew), static_cast<double>(counter / 1000), 1e-9);
    EXPECT_NEAR(slew_ppm(slew), -1593.6, 1e-9);
    EXPECT_NEAR(slew.commanded_ms, static_cast<double>(commanded), 1e-9);
    EXPECT_NEAR(slew.commanded_ms, -95.6, 0.05);
    EXPECT_NEAR(slew.measured_ms, static_cast<double>(measured), 1e-9);
    EXPECT_NEAR(residual_ms(slew), static_cast<double>(measured - commanded), 1e-9);
    EXPECT_EQ(e->totals.slews, 1U);
    EXPECT_EQ(e->totals.steps, 0U);
}

TEST(AnalyzeEpisodes, StepsEndSlewsAndTotalsAddUpOverRuns) {
    auto run1 = std::make_unique<RunEpisodes>();
    start_episodes(*run1);
    // A speeding slew (+100 ppm at an adjustment of +15.625), a step in it,
    // the slew going on after the step, at half its rate for two samples
    // that the clock does not follow.
    add_to_episodes(*run1, sample_at(T0, 1000, 0.1, 16));
    add_to_episodes(*run1, sample_at(T0 + 1000, 1000, 0.1, 16));
    add_to_episodes(*run1, sample_at(T0 + 2000, 1000, 31.25, 0, true));
    add_to_episodes(*run1, sample_at(T0 + 3000, 500, 0.05, 16));
    add_to_episodes(*run1, sample_at(T0 + 4000, 1000, -0.05, 8));
    add_to_episodes(*run1, sample_at(T0 + 5000, 1000, 0.0, 8));
    // The run's end ends its slew.
    EXPECT_EQ(episode_totals_so_far(*run1).slews, 2U);
    end_episodes(*run1);
    ASSERT_EQ(run1->kept_count, 3);
    const double fast = 16.0 / INCREMENT;
    const double slow = 8.0 / INCREMENT;
    EXPECT_EQ(run1->kept[0].kind, EpisodeKind::slew);
    EXPECT_EQ(run1->kept[0].samples, 2U);
    EXPECT_NEAR(run1->kept[0].commanded_ms, fast * 2000, 1e-12);
    EXPECT_EQ(run1->kept[1].kind, EpisodeKind::step);
    EXPECT_EQ(run1->kept[1].start_utc_ms, T0 + 2000);
    EXPECT_EQ(run1->kept[1].commanded_ms, 0.0);
    EXPECT_EQ(run1->kept[1].measured_ms, 31.25);
    // The second slew changes its rate midway: its rate is the mean
    // weighted by the counter's time.
    const Episode &mixed = run1->kept[2];
    EXPECT_EQ(mixed.samples, 3U);
    EXPECT_NEAR(duration_s(mixed), 2.5, 1e-12);
    EXPECT_NEAR(slew_ppm(mixed), (fast * 500 + slow * 2000) / 2500 * 1e6, 1e-9);
    EXPECT_NEAR(mixed.commanded_ms, fast * 500 + slow * 2000, 1e-12);
    EXPECT_NEAR(mixed.measured_ms, 0.0, 1e-12);
    EXPECT_NEAR(residual_ms(mixed), -(fast * 500 + slow * 2000), 1e-12);

    EXPECT_EQ(run1->totals.steps, 1U);
    EXPECT_EQ(run1->totals.slews, 2U);
    EXPECT_NEAR(run1->totals.commanded_abs_ms, std::fabs(fast * 2000) + std::fabs(fast * 500 + slow * 2000), 1e-12);
    ASSERT_TRUE(run1->totals.has_slew_residual);
    // The first slew's residual is 0.2 - 0.2048 ms; the second's, -0.1536 ms.
    EXPECT_EQ(run1->totals.largest_slew_residual_ms, residual_ms(mixed));

    // A step that carries a slew of its own commands it.
    auto run2 = std::make_unique<RunEpisodes>();
    start_episodes(*run2);
    add_to_episodes(*run2, sample_at(UNKNOWN_TIME_MS, 1000, -62.5, -8, true));
    end_episodes(*run2);
    ASSERT_EQ(run2->kept_count, 1);
    EXPECT_EQ(run2->kept[0].start_utc_ms, UNKNOWN_TIME_MS);
    EXPECT_NEAR(run2->kept[0].commanded_ms, -slow * 1000, 1e-12);
    EXPECT_FALSE(run2->totals.has_slew_residual);

    EpisodeTotals total = {};
    add_episode_totals(total, run2->totals);
    add_episode_totals(total, run1->totals);
    EXPECT_EQ(episode_count(total), 4U);
    EXPECT_NEAR(total.commanded_abs_ms, run1->totals.commanded_abs_ms + std::fabs(slow * 1000), 1e-12);
    EXPECT_EQ(total.largest_slew_residual_ms, run1->totals.largest_slew_residual_ms);
}

TEST(AnalyzeEpisodes, AdjustmentsAlternatingInSignAreSlewsOfTheirOwn) {
    auto e = std::make_unique<RunEpisodes>();
    start_episodes(*e);
    // +1600 and -1600 ppm line by line: nothing commanded on balance, 1.6
    // ms each way, each line.
    for (int i = 0; i < 4; ++i) {
        add_to_episodes(*e, sample_at(T0 + i * 1000, 1000, 0.0, i % 2 == 0 ? 250 : -250));
    }
    end_episodes(*e);
    ASSERT_EQ(e->kept_count, 4);
    EXPECT_NEAR(e->kept[1].commanded_ms, -1.6, 1e-12);
    EXPECT_NEAR(e->totals.commanded_abs_ms, 4 * 1.6, 1e-12);
}

TEST(AnalyzeEpisodes, ASlewSaysWhatIsMissingInItAndSpansIt) {
    auto e = std::make_unique<RunEpisodes>();
    start_episodes(*e);
    add_to_episodes(*e, sample_at(T0, 1000, -1.6, -249), 3, 3000);  // missing before it: not the slew's
    add_to_episodes(*e, sample_at(T0 + 10'000, 1000, -1.6, -249), 9, 9000);
    add_to_episodes(*e, sample_at(T0 + 11'000, 1000, -1.6, -249));
    end_episodes(*e);
    ASSERT_EQ(e->kept_count, 1);
    EXPECT_EQ(e->kept[0].missing_samples, 9U);
    EXPECT_NEAR(duration_s(e->kept[0]), 12.0, 1e-12);
}

TEST(AnalyzeEpisodes, ARunKeepsItsFirstEpisodesAndCountsTheRest) {
    auto e = std::make_unique<RunEpisodes>();
    start_episodes(*e);
    for (int i = 0; i < 3 * MAX_KEPT_EPISODES; ++i) {
        add_to_episodes(*e, sample_at(T0 + i * 2000, 1000, -0.1, -1));
        add_to_episodes(*e, sample_at(T0 + i * 2000 + 1000, 1000, 0.0, 0));
    }
    EXPECT_EQ(e->kept_count, MAX_KEPT_EPISODES);
    EXPECT_EQ(e->kept[MAX_KEPT_EPISODES - 1].start_utc_ms, T0 + (MAX_KEPT_EPISODES - 1) * 2000);
    EXPECT_EQ(e->totals.slews, 3U * MAX_KEPT_EPISODES);
}

}  // namespace
