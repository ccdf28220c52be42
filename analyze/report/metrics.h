// The figures as metrics in the text exposition format that Prometheus and
// the textfile collectors of its exporters read: HELP and TYPE for each,
// base units (seconds, ratios), and a label log with the log's file name.
// Samples carry no timestamp: the collectors refuse them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/statistics.h"

// The averaging times published: tau = m·τ0, m = 1, 2, 4, ... 1024.
constexpr int MAX_OADEV_POINTS = 11;

struct OadevPoint {
    double tau_seconds;
    double oadev;
};

// Totals over everything read. A figure not known (no sample yet, or not
// computed) leaves its metric out.
struct MetricsFigures {
    const char *log_name;  // the file name, without its directory
    const RunStatistics *total;
    const DifferenceSizeBuckets *differences;  // over the same samples
    uint64_t unrecognised_lines;
    bool has_last_sample;
    ReportFields last_sample;
    bool has_difference_rms;  // of the regular lines (figures.h)
    double difference_rms_ms;
    bool has_frequency_offset;
    double frequency_offset_ratio;  // the regression slope, dimensionless
    int oadev_count;
    OadevPoint oadev[MAX_OADEV_POINTS];
};

// The part of a path after its last directory separator.
const char *file_name_of(const char *path);

void write_metrics(std::FILE *out, const MetricsFigures &figures);
