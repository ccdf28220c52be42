// What the writers are given: a run as it ended, with what it amounts to;
// and everything read so far, as one record.
#pragma once

#include <cstdint>

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/statistics.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/time_window.h"

// The runs kept whole for the report's tables, the first ones; the rest
// are counted.
constexpr int REPORT_LISTED_RUNS = 20;
// Of several logs, the first ones get time charts of their own, each on
// its own time axis (unrelated logs may be years apart), in the report
// and the picture.
constexpr int REPORT_FILE_CHARTS = 8;

// One file's charts over time, as the pooled ones are drawn.
struct FileCharts {
    ChartData difference;
    ChartData rate;
    ChartData phase;
    ChartData phase_time;
    ChartSegments segments;      // the ended segments
    const ChartSegments *shown;  // those, and an open run's open one: set by the snapshot
};

// A run: its statistics, figures_of them and its differences, and its
// correction episodes.
struct RunRecord {
    LogRun run;
    RunFigures figures;
    RunEpisodes episodes;  // its first MAX_KEPT_EPISODES
};

// What the logs read so far amount to, the open run counted in: the one
// record every writer of the whole takes. Its pointers are the pipeline's,
// valid until the pipeline is next fed, ended or asked again.
struct AnalysisSnapshot {
    // What the outputs name: every log asked for, as shown.
    const char *const *log_names;
    int log_count;
    TimeWindow window;  // the samples outside it are left out

    int32_t runs;                                   // begun so far
    uint64_t unrecognised_lines;                    // the open file's counted in
    const RunStatistics *total;                     // over all runs
    const RunFigures *figures;                      // figures_of the total and its differences
    const DifferenceCounts *differences;            // the unmarked lines' of all runs
    const DifferenceSizeBuckets *difference_sizes;  // every sample's, as total counts them
    const ReportFields *last_sample;                // the last taken, or nullptr before any
    EpisodeTotals episodes;                         // of all runs
    uint64_t outside_window;                        // report lines left out by the window
    const FileSummary *files;                       // each file begun, in order; the open one as read so far
    int file_count;
    // The charts and the runs listed: only where the pipeline keeps them.
    const ChartData *difference_chart;  // with keep_chart, else nullptr
    const ChartData *rate_chart;        // with keep_chart: the unmarked lines' measured rate, ppm
    const ChartData *phase_chart;       // with keep_report, else nullptr
    const ChartData *phase_time_chart;  // with keep_report: the phase points' times in their segments, s
    const ChartSegments *segments;      // with keep_chart: each segment's fitted offset
    const RunRecord *listed_runs;       // with keep_report: the first REPORT_LISTED_RUNS
    int listed_run_count;
    // With keep_chart and several logs: the charts of each of the first
    // REPORT_FILE_CHARTS files begun, in order (their phase with
    // keep_report); else nullptr.
    const FileCharts *file_charts;
    int file_chart_count;
};
