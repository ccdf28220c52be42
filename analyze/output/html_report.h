// The report as one self-contained HTML page: the summary per run and in
// total, the steps and adjustment changes as tables, and the charts inline.
// Nothing in it is fetched from anywhere; it fits the window and prints on
// A4. Written at the end from the records kept while reading.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/statistics.h"

// The runs listed in the tables, and the steps and the adjustment changes:
// the first ones; the rest are counted.
constexpr int REPORT_LISTED_RUNS = 20;
constexpr int REPORT_LISTED_EVENTS = 100;

// What the report says of a run, or of all of them.
struct ReportFigures {
    FrequencyFigures frequency;
    Percentiles percentiles;
    int stability_count;
    StabilityPoint stability[STABILITY_TAUS];
};

struct ReportRun {
    LogRun run;
    ReportFigures figures;
    RunEpisodes episodes;  // its first MAX_KEPT_EPISODES
};

struct ReportRecords {
    int32_t runs;  // all of them
    int listed_runs;
    ReportRun listed[REPORT_LISTED_RUNS];
    RunStatistics total;
    ReportFigures total_figures;
    const DifferenceCounts *total_counts;  // the unmarked lines' differences
    char *const *files;
    int file_count;
    uint64_t unrecognised_lines;
    const ChartData *difference;
    const ChartData *phase;       // ms within each segment
    const ChartData *phase_time;  // the phase points' times within their segments, s
    const ChartData *rate;        // the unmarked lines' measured rate, ppm
    EpisodeTotals episodes;
    const FileSummary *compared;  // each file apart, when there are several
    int compared_count;
};

// From a run's statistics (or the total's) and the counts of its
// differences.
ReportFigures report_figures(const RunStatistics &statistics, const DifferenceCounts &counts);
// Keeps the run for the tables if there is room; counts it either way.
void keep_run_for_report(ReportRecords &records, const LogRun &run, const DifferenceCounts &counts,
                         const RunEpisodes &episodes);
// title_name: what the report is of, such as the log's file name.
void write_html_report(std::FILE *out, const ReportRecords &records, const char *title_name);
