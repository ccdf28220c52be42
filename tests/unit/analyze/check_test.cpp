// The verdict of --check: ranges as the monitoring plugins read them, and
// findings judged from crafted lines.
#include <gtest/gtest.h>

#include <string>

#include "analyze/pipeline.h"
#include "analyze/report/check.h"
#include "clock/log_format.h"
#include "tests/support/report_text.h"

namespace {

constexpr int64_t T0 = 1709645940015;  // 2024-03-05 13:39:00.015 UTC

std::string report(int second, double difference_ms, int32_t offset = 0) {
    ReportFields fields = {};
    fields.utc_ms = T0 + int64_t{1000} * second;
    fields.counter_ms = 1000.0;
    fields.system_ms = 1000.0 + difference_ms;
    fields.difference_ms = difference_ms;
    fields.adjustment = 156250 + offset;
    fields.adjustment_offset = offset;
    fields.marked = difference_ms > MARKER_THRESHOLD_MS || difference_ms < -MARKER_THRESHOLD_MS;
    return format_parsed_report_line(fields);
}

TEST(AnalyzeCheck, RangesAlertOutsideTheirEndsOrInsideWithAnAt) {
    const struct {
        const char *text;
        double inside;  // a value that does not alert (or does, with @)
        double outside;
    } cases[] = {{"10", 10, 10.5},   {"10", 0, -1},     {"10:", 10, 9.9},
                 {"~:10", -1e9, 11}, {"-5:5", -5, 5.1}, {"@5:10", 4, 7}};
    for (const auto &c : cases) {
        ThresholdRange range = {};
        ASSERT_TRUE(parse_range(c.text, range)) << c.text;
        EXPECT_FALSE(range_alerts(range, c.inside)) << c.text;
        EXPECT_TRUE(range_alerts(range, c.outside)) << c.text;
        char back[32];
        format_range(back, sizeof back, range, 1);
        EXPECT_STREQ(back, c.text);
    }
    for (const char *wrong : {"", "@", "~", "10:5", "1e999", "ten", "5:x", ":5"}) {
        ThresholdRange range = {};
        EXPECT_FALSE(parse_range(wrong, range)) << wrong;
    }
}

TEST(AnalyzeCheck, TheWorstFindingDecidesAndComesFirstWithItsFigures) {
    PipelineListener quiet;
    Pipeline pipeline(PipelineSettings{}, quiet);
    pipeline.begin_file("a.log");
    uint64_t line = 0;
    for (int second = 0; second < 200; ++second) {
        // A step of -150 ms, a slew of -1593.6 ppm for 3 s, one size of -0.5 ms among 99 of +0.1.
        const double difference = second == 50 ? -150 : second == 7 || second == 8 ? -0.5 : 0.1;
        pipeline.feed_line(report(second, difference, second >= 100 && second < 103 ? -249 : 0), ++line);
    }
    pipeline.end_file();
    CheckThresholds thresholds = default_thresholds();
    Verdict v = judge(pipeline.snapshot(), thresholds, T0);
    EXPECT_EQ(v.state, CheckState::critical);
    char words[512];
    verdict_words(words, sizeof words, v, thresholds);
    EXPECT_STREQ(words, "largest step -150 ms (critical above 100 ms), 1 step (warning above 0), largest slew -1594 "
                        "ppm for 3 s (warning above 500 ppm), difference p99 within +-0.5 ms, no samples missing");

    // The age, asked for, against the time given.
    ASSERT_TRUE(parse_range("@0:1e9", thresholds.critical[static_cast<int>(Finding::age)]));
    thresholds.critical[static_cast<int>(Finding::largest_step)] = ThresholdRange{};
    thresholds.warning[static_cast<int>(Finding::steps)] = ThresholdRange{};
    thresholds.warning[static_cast<int>(Finding::largest_slew)] = ThresholdRange{};
    v = judge(pipeline.snapshot(), thresholds, T0 + 300000);
    EXPECT_EQ(v.state, CheckState::critical);
    verdict_words(words, sizeof words, v, thresholds);
    EXPECT_STREQ(words, "last sample 101 s ago (critical within 0 to 1000000000 s), 1 step, largest step -150 ms, "
                        "largest slew -1594 ppm for 3 s, difference p99 within +-0.5 ms, no samples missing");
}

}  // namespace
