// The report as one self-contained HTML page: the summary per run and in
// total, the steps and adjustment changes as tables, and the charts inline.
// Nothing in it is fetched from anywhere; it fits the window and prints on
// A4. Written at the end from the records kept while reading.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/records.h"

// The steps and the adjustment changes listed in the tables, the first
// ones (of the runs listed: REPORT_LISTED_RUNS); the rest are counted.
constexpr int REPORT_LISTED_EVENTS = 100;

// snapshot: with the charts and the runs listed (keep_chart, keep_report);
// now_ms: the time its verdict is judged at, as --check's.
void write_html_report(std::FILE *out, const AnalysisSnapshot &snapshot, int64_t now_ms);
