// The analysis as one object: crafted lines in, runs and snapshots out.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "analyze/pipeline.h"
#include "clock/log_format.h"
#include "tests/support/fake_file_system.h"
#include "tests/support/report_text.h"

namespace {

constexpr int64_t T0 = 1709645940015;  // 2024-03-05 13:39:00.015 UTC

// The line tickwatch writes for a sample a second after the last, at
// after_ms past T0, with the difference given (four decimals) and the
// adjustment that far from the increment (-249: a slew of -1593.6 ppm).
std::string report_at(int64_t after_ms, double difference_ms, int32_t offset = 0) {
    ReportFields fields = {};
    fields.utc_ms = T0 + after_ms;
    fields.counter_ms = 1000.0;
    fields.system_ms = 1000.0 + difference_ms;
    fields.difference_ms = fields.system_ms - fields.counter_ms;
    fields.adjustment = 156250 + offset;
    fields.adjustment_offset = offset;
    fields.marked = difference_ms > MARKER_THRESHOLD_MS || difference_ms < -MARKER_THRESHOLD_MS;
    return format_parsed_report_line(fields);
}

std::string report(int second, double difference_ms, int32_t offset = 0) {
    return report_at(second * 1000, difference_ms, offset);
}

// What the pipeline told, one line of text each.
struct Told : PipelineListener {
    std::vector<std::string> runs;         // "number file first-last samples"
    std::vector<std::string> skipped;      // "file:line issue count"
    std::vector<std::string> episodes;     // each run's "steps slews kept"
    std::vector<std::string> out_of_step;  // "file:line after system count"
    int samples = 0;

    void sample_taken(const ReportFields & /*sample*/, int32_t /*run*/) override { ++samples; }
    void run_ended(const RunRecord &record) override {
        const LogRun &run = record.run;
        runs.push_back(std::to_string(run.number) + " " + run.file + " " + std::to_string(run.first_line) + "-" +
                       std::to_string(run.last_line) + " " + std::to_string(run.statistics.samples));
        const EpisodeTotals &totals = record.episodes.totals;
        episodes.push_back(std::to_string(totals.steps) + " " + std::to_string(totals.slews) + " " +
                           std::to_string(record.episodes.kept_count));
    }
    void line_skipped(const SkippedLine &line) override {
        skipped.push_back(std::string(line.file) + ":" + std::to_string(line.number) + " " +
                          std::to_string(static_cast<int>(line.issue)) + " " + std::to_string(line.not_understood));
    }
    void sample_out_of_step(const OutOfStepSample &sample) override {
        out_of_step.push_back(std::string(sample.file) + ":" + std::to_string(sample.number) + " " +
                              std::to_string(std::lround(sample.after_ms)) + " " +
                              std::to_string(std::lround(sample.system_ms)) + " " + std::to_string(sample.out_of_step));
    }
};

void feed(Pipeline &pipeline, const char *file, const std::vector<std::string> &lines) {
    pipeline.begin_file(file);
    for (size_t i = 0; i < lines.size(); ++i) {
        pipeline.feed_line(lines[i], i + 1);
    }
}

TEST(AnalyzePipeline, RunsEndAtABannerAndWithTheirFileAndAreNumberedAcrossFiles) {
    Told told;
    Pipeline pipeline(PipelineSettings{}, told);
    feed(pipeline, "a.log",
         {LOG_BANNER_PREFIX "1.6", LOG_PRECISE_TIME_USED, report(0, 0.5), report(1, 1.5), LOG_BANNER_PREFIX "1.6",
          report(2, -1.0), ""});
    EXPECT_EQ(told.runs, std::vector<std::string>({"1 a.log 1-4 2"}));
    EXPECT_EQ(pipeline.end_file().reports, 3U);
    // Without a banner, the run starts at the first report line; a line cut
    // short by a banner starts the next.
    feed(pipeline, "b.log",
         {"", report(3, 2.0), report(4, 1.0).substr(0, 20) + LOG_BANNER_PREFIX "1.6", report(5, 3.0)});
    pipeline.end_file();
    EXPECT_EQ(told.runs,
              std::vector<std::string>({"1 a.log 1-4 2", "2 a.log 5-7 1", "3 b.log 2-2 1", "4 b.log 3-4 1"}));
    EXPECT_EQ(told.samples, 5);

    const AnalysisSnapshot &s = pipeline.snapshot();
    EXPECT_EQ(s.runs, 4);
    EXPECT_EQ(s.total->samples, 5U);
    EXPECT_EQ(s.unrecognised_lines, 1U) << "the line cut short";
    EXPECT_NEAR(s.figures->difference_mean_ms, (0.5 + 1.5 - 1.0 + 2.0 + 3.0) / 5, 1e-12);
    ASSERT_NE(s.last_sample, nullptr);
    EXPECT_NEAR(s.last_sample->difference_ms, 3.0, 1e-9);
    EXPECT_EQ(s.difference_chart, nullptr) << "not asked for";
    EXPECT_EQ(s.listed_run_count, 0);
}

// --follow takes snapshots while the last run is still open: it counts once,
// and the figures it gives are those it gives once it has ended.
TEST(AnalyzePipeline, ASnapshotCountsTheOpenRunOnceAndAsItsEndDoes) {
    Told told;
    Pipeline pipeline(PipelineSettings{true, true, TimeWindow{}, StabilityIntervals::all}, told);
    std::vector<std::string> lines = {LOG_BANNER_PREFIX "1.6"};
    for (int i = 0; i < 6; ++i) {
        lines.push_back(report(i, 0.0));
    }
    lines.push_back(LOG_BANNER_PREFIX "1.6");
    for (int i = 6; i < 12; ++i) {
        lines.push_back(report(i, 5.0));
    }
    feed(pipeline, "clock.log", lines);
    pipeline.snapshot();
    const AnalysisSnapshot &open = pipeline.snapshot();
    // The median is the open run's only if it counted twice.
    ASSERT_TRUE(open.figures->percentiles.known[2]);
    const double open_median = open.figures->percentiles.ms[2];
    EXPECT_EQ(open_median, 0.0);
    EXPECT_EQ(open.total->samples, 12U);
    EXPECT_EQ(open.differences->values, 12U);
    EXPECT_EQ(open.listed_run_count, 2);
    EXPECT_EQ(open.listed_runs[1].run.statistics.samples, 6U);
    const double open_mean = open.figures->difference_mean_ms;
    const double open_oadev = open.figures->stability[0].oadev;
    EXPECT_EQ(open.difference_chart->samples, 12U);
    EXPECT_EQ(open.difference_sizes->samples, 12U);

    pipeline.end_file();
    const AnalysisSnapshot &ended = pipeline.snapshot();
    EXPECT_EQ(ended.total->samples, 12U);
    EXPECT_EQ(ended.differences->values, 12U);
    EXPECT_EQ(ended.difference_sizes->samples, 12U);
    EXPECT_NEAR(ended.difference_sizes->square_sum_ms2, 6 * 25.0, 1e-9);
    EXPECT_EQ(ended.figures->percentiles.ms[2], open_median);
    EXPECT_EQ(ended.figures->difference_mean_ms, open_mean);
    EXPECT_EQ(ended.figures->stability[0].oadev, open_oadev);
    EXPECT_EQ(ended.listed_run_count, 2);
    EXPECT_NEAR(ended.listed_runs[1].figures.difference_mean_ms, 5.0, 1e-9);

    pipeline.restart();
    const AnalysisSnapshot &none = pipeline.snapshot();
    EXPECT_EQ(std::make_tuple(none.runs, none.total->samples, none.differences->values, none.listed_run_count,
                              none.difference_chart->samples, none.phase_chart->samples),
              std::make_tuple(0, uint64_t{0}, uint64_t{0}, 0, uint64_t{0}, uint64_t{0}));
    EXPECT_EQ(none.last_sample, nullptr);
    EXPECT_EQ(none.difference_sizes->samples, 0U);
    EXPECT_FALSE(none.figures->has_regular_lines);
}

// A run's episodes come with it; a snapshot counts the open run's in, its
// open slew ended there; each file is summed up apart, a followed log
// renamed and read anew as the same file.
TEST(AnalyzePipeline, EpisodesAndFileSummariesGoWithTheRunsTheyAreOf) {
    Told told;
    Pipeline pipeline(PipelineSettings{true, true, TimeWindow{}, StabilityIntervals::all}, told);
    feed(pipeline, "a.log",
         {LOG_BANNER_PREFIX "1.6", report(0, 0.0), report(1, -1.5, -249), report(2, -1.5, -249), report(3, 0.0),
          report(4, 30.0), LOG_BANNER_PREFIX "1.6", report(5, -1.5, -249), report(6, -1.5, -249)});
    EXPECT_EQ(told.episodes, std::vector<std::string>({"1 1 2"}));
    const AnalysisSnapshot &open = pipeline.snapshot();
    EXPECT_EQ(std::make_tuple(open.episodes.steps, open.episodes.slews), std::make_tuple(uint64_t{1}, uint64_t{2}));
    ASSERT_EQ(open.file_count, 1);
    EXPECT_EQ(std::make_tuple(open.files[0].runs, open.files[0].statistics.samples, open.files[0].episodes.slews),
              std::make_tuple(2, uint64_t{7}, uint64_t{2}));
    ASSERT_EQ(open.listed_run_count, 2);
    EXPECT_EQ(open.listed_runs[1].episodes.kept_count, 1) << "the open slew, as if the run ended";
    EXPECT_EQ(open.phase_time_chart->samples, 7U);
    EXPECT_EQ(open.rate_chart->samples, 6U) << "the step's line is not a rate";

    pipeline.end_file();
    EXPECT_EQ(told.episodes.back(), "0 1 1");
    feed(pipeline, "b.log", {report(7, 0.0), report(8, 30.0)});
    pipeline.end_file();
    // Renamed and made anew: its runs go on in the same summary.
    pipeline.begin_file("b.log", FileStart::same_log);
    pipeline.feed_line(report(9, 1.0), 1);
    pipeline.end_file();
    const AnalysisSnapshot &s = pipeline.snapshot();
    EXPECT_EQ(std::make_tuple(s.episodes.steps, s.episodes.slews), std::make_tuple(uint64_t{2}, uint64_t{2}));
    ASSERT_EQ(s.file_count, 2);
    const FileSummary &a = s.files[0];
    const FileSummary &b = s.files[1];
    EXPECT_EQ(std::make_tuple(std::string(a.name), a.runs, a.statistics.samples, a.episodes.steps, a.episodes.slews),
              std::make_tuple(std::string("a.log"), 2, uint64_t{7}, uint64_t{1}, uint64_t{2}));
    EXPECT_EQ(std::make_tuple(std::string(b.name), b.runs, b.statistics.samples, b.episodes.steps, b.episodes.slews),
              std::make_tuple(std::string("b.log"), 2, uint64_t{3}, uint64_t{1}, uint64_t{0}));
    // The mean of the regular lines: the steps of 30 ms are left out.
    EXPECT_NEAR(a.figures.difference_mean_ms, (4 * -1.5 + 0.0 + 0.0) / 6, 1e-9);
    EXPECT_NEAR(b.figures.difference_mean_ms, (0.0 + 1.0) / 2, 1e-9);
    EXPECT_EQ(b.figures.percentile_values, 2U) << "the regular lines of b's runs";
}

// The window's edges cut runs; a banner starts none, the first sample
// within it does; the lines outside are counted apart.
TEST(AnalyzePipeline, ATimeWindowLeavesOutTheSamplesOutsideItAndCutsTheRunsAtItsEdges) {
    Told told;
    PipelineSettings settings = {};
    settings.window = TimeWindow{true, true, T0 + 2000, T0 + 4000};
    Pipeline pipeline(settings, told);
    feed(pipeline, "w.log",
         {LOG_BANNER_PREFIX "1.6", report(0, 0.5), report(1, 0.5), report(2, 0.5), report(3, 0.5), report(4, 0.5),
          report(5, 0.5), LOG_BANNER_PREFIX "1.6", report(6, 0.5)});
    EXPECT_EQ(pipeline.snapshot().outside_window, 4U) << "the open file's counted in";
    const FileCounts counts = pipeline.end_file();
    EXPECT_EQ(std::make_tuple(counts.reports, counts.outside_window), std::make_tuple(uint64_t{7}, uint64_t{4}));
    EXPECT_EQ(told.runs, std::vector<std::string>({"1 w.log 4-6 3"}));
    EXPECT_EQ(told.samples, 3);
    const AnalysisSnapshot &s = pipeline.snapshot();
    EXPECT_EQ(std::make_tuple(s.runs, s.total->samples, s.outside_window),
              std::make_tuple(1, uint64_t{3}, uint64_t{4}));
}

TEST(AnalyzePipeline, LinesLeftOutAreToldAndCountedPerFile) {
    // Read from a file: a line too long, report lines tickwatch cannot have
    // written, and a last line without its end.
    FakeFileSystem files;
    const std::string wrong_marker = report(1, 0.5) + STEP_MARKER;
    const std::string text = report(0, 0.5) + "\r\n" + "garbage\n" + std::string(5000, 'x') + "\n" + wrong_marker +
                             "\n" + report(2, 0.5) + "\n" + report(3, 0.5);
    files.write("x.log", text);
    const std::unique_ptr<File> file = files.open_to_read("x.log");
    auto block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    LogReader reader;
    start_reading(reader, file.get(), block.get());

    Told told;
    Pipeline pipeline(PipelineSettings{}, told);
    pipeline.begin_file("x.log");
    EXPECT_TRUE(pipeline.read_lines(reader));
    // (LineIssue: too_long 0, not_understood 2, wrong_marker 4, no_line_end 6.)
    EXPECT_EQ(told.skipped, std::vector<std::string>({"x.log:2 2 1", "x.log:3 0 2", "x.log:4 4 3", "x.log:6 6 3"}));
    EXPECT_EQ(pipeline.snapshot().unrecognised_lines, 3U) << "the open file's counted in";
    const FileCounts x = pipeline.end_file();
    EXPECT_EQ(std::make_tuple(x.reports, x.not_understood), std::make_tuple(uint64_t{2}, uint64_t{3}));
    EXPECT_EQ(told.runs, std::vector<std::string>({"1 x.log 1-5 2"}));

    feed(pipeline, "y.log", {"garbage"});
    EXPECT_EQ(told.skipped.back(), "y.log:1 2 1") << "counted again from the next file's start";
    EXPECT_EQ(pipeline.end_file().reports, 0U);
    EXPECT_EQ(pipeline.snapshot().unrecognised_lines, 4U);
}

// Two tickwatch writing to one log: a sample sooner after the one before
// than its own interval is told when it comes, and taken all the same;
// lines lost, or the system time set back, are no such thing.
TEST(AnalyzePipeline, SamplesOutOfStepAreToldAndCountedPerFile) {
    Told told;
    Pipeline pipeline(PipelineSettings{}, told);
    feed(pipeline, "one.log",
         {LOG_BANNER_PREFIX "1.6", report(0, 0.0), report(5, 0.0), report(1, -5000.0), report(2, 0.0)});
    EXPECT_EQ(pipeline.end_file().out_of_step, 0U);
    // A leap second: 23:59:60 and the next day's first second, one after the other.
    feed(pipeline, "leap.log",
         {LOG_BANNER_PREFIX "1.6", "2016-12-31 23:59:60.0500: 1000.0000 1000.0000   +0.0000  156250 (+0) ",
          "2017-01-01 00:00:00.0500: 1000.0000 1000.0000   +0.0000  156250 (+0) "});
    EXPECT_EQ(pipeline.end_file().out_of_step, 0U);
    std::vector<std::string> lines = {LOG_BANNER_PREFIX "1.6"};
    for (int i = 0; i < 3; ++i) {
        lines.push_back(report_at(i * 1000, 0.0));
        lines.push_back(report_at(i * 1000 + 500, 0.0));  // the other's, half a second after
    }
    feed(pipeline, "mixed.log", lines);
    const FileCounts counts = pipeline.end_file();
    EXPECT_EQ(counts.out_of_step, 5U);
    ASSERT_EQ(told.out_of_step.size(), 5U);
    EXPECT_EQ(told.out_of_step[0], "mixed.log:3 500 1000 1");
    EXPECT_EQ(told.out_of_step[1], "mixed.log:4 500 1000 2");
    EXPECT_EQ(pipeline.snapshot().total->samples, 4U + 2U + 6U) << "taken all the same";
}

// Ctrl+C while a log is read whole: the reading stops at the next line, and
// what was read counts.
TEST(AnalyzePipeline, ReadingStopsWhenAskedToAndKeepsWhatWasRead) {
    FakeFileSystem files;
    for (int i = 0; i < 10; ++i) {
        files.write("x.log", report(i, 0.5) + "\n", true);
    }
    const std::unique_ptr<File> file = files.open_to_read("x.log");
    auto block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    LogReader reader;
    start_reading(reader, file.get(), block.get());
    Told told;
    Pipeline pipeline(PipelineSettings{}, told);
    pipeline.begin_file("x.log");
    static int asked = 0;
    EXPECT_TRUE(pipeline.read_lines(reader, [] { return ++asked > 4; }));
    EXPECT_EQ(pipeline.end_file().reports, 4U);
    EXPECT_EQ(told.samples, 4);
}

}  // namespace
