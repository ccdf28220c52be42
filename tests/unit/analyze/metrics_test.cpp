// The Prometheus metrics file.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/statistics.h"
#include "analyze/report/escape.h"
#include "analyze/report/metrics.h"

namespace {

// What write puts in a file.
template <typename Write> std::string written(Write write) {
    std::FILE *file = std::tmpfile();
    write(file);
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
    return text;
}

std::string metrics_text(const AnalysisSnapshot &snapshot) {
    return written([&](std::FILE *file) { write_metrics(file, snapshot); });
}

// The samples, whole lines each. (That each follows its metric's HELP and
// TYPE, promtool checks: test_analyze_metrics.)
std::vector<std::string> checked_samples(const std::string &text) {
    EXPECT_EQ(text.back(), '\n') << "ends in a line end";
    std::vector<std::string> samples;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line[0] != '#') {
            samples.push_back(line);
        }
    }
    return samples;
}

constexpr int64_t T0_MS = 1709645940015;  // 2024-03-05 13:39:00.015 UTC

TEST(AnalyzeMetrics, EveryMetricIsDescribedAndFiguresNotKnownAreLeftOut) {
    RunStatistics total;
    start_statistics(total);
    RunFigures figures = figures_of(total, nullptr, StabilityIntervals::oadev);
    DifferenceSizeBuckets differences = {};
    // The label is the last log's file name, escaped.
    const char *logs[] = {"other.log", "logs/odd \"name\"\n\xff.log"};
    AnalysisSnapshot snapshot = {};
    snapshot.log_names = logs;
    snapshot.log_count = 2;
    snapshot.total = &total;
    snapshot.figures = &figures;
    snapshot.difference_sizes = &differences;
    snapshot.unrecognised_lines = 7;
    std::vector<std::string> samples = checked_samples(metrics_text(snapshot));
    const std::vector<std::string> counters = {R"(tickwatch_samples_total{log="odd \"name\"\n?.log"} 0)",
                                               R"(tickwatch_missing_samples_total{log="odd \"name\"\n?.log"} 0)",
                                               R"(tickwatch_steps_total{log="odd \"name\"\n?.log"} 0)",
                                               R"(tickwatch_unrecognised_lines_total{log="odd \"name\"\n?.log"} 7)"};
    EXPECT_EQ(std::vector<std::string>(samples.begin(), samples.begin() + 4), counters);
    // (A backslash too, which no file name on Windows holds.)
    EXPECT_EQ(written([](std::FILE *file) { write_label_value(file, "a\\b"); }), R"(a\\b)");
    EXPECT_EQ(samples.size(), 4U + DIFFERENCE_BUCKETS + 4) << "the histogram, empty, and the sum of squares";

    // Two samples, the last slewing; and the figures of stability.
    ReportFields sample = {T0_MS, 1000.0, 999.9, 0.1, 156250, 0, false};
    add_sample(total, sample);
    count_difference_size(differences, sample.difference_ms);
    sample = {T0_MS + 1000, 1000.0, 1000.3, -0.3, 156001, -249, false};
    add_sample(total, sample);
    count_difference_size(differences, sample.difference_ms);
    logs[1] = "clock.log";
    // The RMS of the regular lines, as the figures of the total give it.
    figures = figures_of(total, nullptr, StabilityIntervals::oadev);
    snapshot.last_sample = &sample;
    figures.frequency.has_offset = true;
    // Figures with an uncertainty to the place of its second significant digit.
    figures.frequency.offset_ppm = -0.15321;
    figures.frequency.has_uncertainty = true;
    figures.frequency.uncertainty_ppm = 0.012;
    figures.stability_count = 2;
    figures.stability[0].tau_s = 1;
    figures.stability[0].oadev = 2.5123e-7;
    figures.stability[0].oadev_low = 2.4e-7;
    figures.stability[0].oadev_high = 2.7e-7;
    figures.stability[1].tau_s = 2;
    figures.stability[1].oadev = 3e-9;
    samples = checked_samples(metrics_text(snapshot));
    const std::vector<std::string> expected = {
        R"(tickwatch_samples_total{log="clock.log"} 2)",
        R"(tickwatch_missing_samples_total{log="clock.log"} 0)",
        R"(tickwatch_steps_total{log="clock.log"} 0)",
        R"(tickwatch_unrecognised_lines_total{log="clock.log"} 7)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="1e-06"} 0)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="2e-06"} 0)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="5e-06"} 0)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="1e-05"} 0)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="2e-05"} 0)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="5e-05"} 0)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.0001"} 1)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.0002"} 1)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.0005"} 2)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.001"} 2)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.002"} 2)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.005"} 2)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.01"} 2)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="0.02"} 2)",
        R"(tickwatch_difference_abs_seconds_bucket{log="clock.log",le="+Inf"} 2)",
        R"(tickwatch_difference_abs_seconds_sum{log="clock.log"} 0.0004)",
        R"(tickwatch_difference_abs_seconds_count{log="clock.log"} 2)",
        R"(tickwatch_difference_squares_seconds_squared_total{log="clock.log"} 1e-07)",
        R"(tickwatch_last_sample_timestamp_seconds{log="clock.log"} 1709645941.015)",
        R"(tickwatch_difference_seconds{log="clock.log"} -0.0003)",
        R"(tickwatch_difference_rms_seconds{log="clock.log"} 0.000223606797749979)",
        R"(tickwatch_frequency_offset_ratio{log="clock.log"} -1.53e-07)",
        R"(tickwatch_time_adjustment_seconds{log="clock.log"} 0.0156001)",
        R"(tickwatch_time_increment_seconds{log="clock.log"} 0.015625)",
        R"(tickwatch_adjustment_slew_ratio{log="clock.log"} -0.0015936)",
        R"(tickwatch_oadev{log="clock.log",m="1"} 2.51e-07)",
        R"(tickwatch_oadev{log="clock.log",m="2"} 3e-09)",
    };
    EXPECT_EQ(samples, expected);

    // A last sample whose time tickwatch could not tell: no time made up.
    sample.utc_ms = UNKNOWN_TIME_MS;
    for (const std::string &line : checked_samples(metrics_text(snapshot))) {
        EXPECT_EQ(line.find("timestamp"), std::string::npos) << line;
    }
}

}  // namespace
