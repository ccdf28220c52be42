// The Prometheus metrics file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/statistics.h"
#include "analyze/output/metrics.h"

namespace {

std::string metrics_text(const MetricsFigures &figures) {
    std::FILE *file = std::tmpfile();
    write_metrics(file, figures);
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
    return text;
}

// Every sample follows the HELP and TYPE of its metric; returns the samples.
std::vector<std::string> checked_samples(const std::string &text) {
    std::vector<std::string> samples;
    std::string described;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start)) {
        const std::string line = text.substr(start, end - start);
        if (line.rfind("# HELP ", 0) == 0) {
            described = line.substr(7, line.find(' ', 7) - 7);
        } else if (line.rfind("# TYPE ", 0) == 0) {
            EXPECT_EQ(line.substr(7, line.find(' ', 7) - 7), described) << "TYPE after its HELP";
        } else {
            EXPECT_EQ(line.substr(0, line.find('{')), described) << line;
            samples.push_back(line);
        }
    }
    EXPECT_EQ(start, text.size()) << "ends in a line end";
    return samples;
}

constexpr int64_t T0_MS = 1709645940015;  // 2024-03-05 13:39:00.015 UTC

TEST(AnalyzeMetrics, EveryMetricIsDescribedAndFiguresNotKnownAreLeftOut) {
    RunStatistics total;
    start_statistics(total);
    MetricsFigures figures = {};
    figures.log_name = "odd \"name\"\\\n\xff.log";
    figures.total = &total;
    figures.unrecognised_lines = 7;
    EXPECT_EQ(checked_samples(metrics_text(figures)),
              (std::vector<std::string>{R"(tickwatch_samples_total{log="odd \"name\"\\\n?.log"} 0)",
                                        R"(tickwatch_missing_samples_total{log="odd \"name\"\\\n?.log"} 0)",
                                        R"(tickwatch_steps_total{log="odd \"name\"\\\n?.log"} 0)",
                                        R"(tickwatch_unrecognised_lines_total{log="odd \"name\"\\\n?.log"} 7)"}));

    // Two samples, the last slewing; and the figures of stability.
    ReportFields sample = {T0_MS, 1000.0, 999.9, 0.1, 156250, 0, false};
    add_sample(total, sample);
    sample = {T0_MS + 1000, 1000.0, 1000.3, -0.3, 156001, -249, false};
    add_sample(total, sample);
    figures.log_name = "clock.log";
    // The RMS of the regular lines, as the figures of the total give it.
    const RunFigures total_figures = figures_of(total, nullptr, StabilityIntervals::oadev);
    figures.has_difference_rms = total_figures.has_regular_lines;
    figures.difference_rms_ms = total_figures.difference_rms_ms;
    figures.has_last_sample = true;
    figures.last_sample = sample;
    figures.has_frequency_offset = true;
    figures.frequency_offset_ratio = -1.5e-7;
    figures.oadev_count = 2;
    figures.oadev[0] = {1, 2.5e-7};
    figures.oadev[1] = {1024, 3e-9};
    const std::vector<std::string> samples = checked_samples(metrics_text(figures));
    const std::vector<std::string> expected = {
        R"(tickwatch_samples_total{log="clock.log"} 2)",
        R"(tickwatch_missing_samples_total{log="clock.log"} 0)",
        R"(tickwatch_steps_total{log="clock.log"} 0)",
        R"(tickwatch_unrecognised_lines_total{log="clock.log"} 7)",
        R"(tickwatch_last_sample_timestamp_seconds{log="clock.log"} 1709645941.015)",
        R"(tickwatch_difference_seconds{log="clock.log"} -0.0003)",
        R"(tickwatch_difference_rms_seconds{log="clock.log"} 0.000223606797749979)",
        R"(tickwatch_frequency_offset_ratio{log="clock.log"} -1.5e-07)",
        R"(tickwatch_time_adjustment{log="clock.log"} 156001)",
        R"(tickwatch_time_increment{log="clock.log"} 156250)",
        R"(tickwatch_adjustment_slew_ratio{log="clock.log"} -0.0015936)",
        R"(tickwatch_oadev{log="clock.log",tau_seconds="1"} 2.5e-07)",
        R"(tickwatch_oadev{log="clock.log",tau_seconds="1024"} 3e-09)",
    };
    EXPECT_EQ(samples, expected);

    EXPECT_STREQ(file_name_of("logs/day 1/clock.log"), "clock.log");
    EXPECT_STREQ(file_name_of("clock.log"), "clock.log");
#ifdef _WIN32
    EXPECT_STREQ(file_name_of("C:\\logs\\clock.log"), "clock.log");
    EXPECT_STREQ(file_name_of("D:clock.log"), "clock.log");
#endif
}

}  // namespace
