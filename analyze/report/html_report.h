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
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/records.h"
#include "analyze/accumulate/statistics.h"

// The steps and the adjustment changes listed in the tables, the first
// ones (of the runs listed: REPORT_LISTED_RUNS); the rest are counted.
constexpr int REPORT_LISTED_EVENTS = 100;

struct ReportRecords {
    int32_t runs;  // all of them
    int listed_runs;
    const RunRecord *listed;  // the first runs, up to REPORT_LISTED_RUNS
    const RunStatistics *total;
    const RunFigures *total_figures;
    const DifferenceCounts *total_counts;  // the unmarked lines' differences
    const char *const *files;
    int file_count;
    uint64_t unrecognised_lines;
    const ChartData *difference;
    const ChartData *phase;       // ms within each segment
    const ChartData *phase_time;  // the phase points' times within their segments, s
    const ChartData *rate;        // the unmarked lines' measured rate, ppm
    EpisodeTotals episodes;       // of all runs
    const FileSummary *compared;  // each file apart, when there are several
    int compared_count;
};

// title_name: what the report is of, such as the log's file name.
void write_html_report(std::FILE *out, const ReportRecords &records, const char *title_name);
