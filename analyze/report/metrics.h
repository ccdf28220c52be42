// The figures as metrics in the text exposition format that Prometheus and
// the textfile collectors of its exporters read: HELP and TYPE for each,
// base units (seconds, ratios), and a label log with the log's file name.
// Samples carry no timestamp: the collectors refuse them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/statistics.h"

// The averaging times published: tau = m·τ0, m = 1, 2, 4, ... 1024.
constexpr int MAX_OADEV_POINTS = 11;

// The size of the difference, |system time - counter| per sample, counted
// into fixed buckets (a 1-2-5 series from 1 us to the 20 ms of a step) and
// summed, so that a query gives its RMS and quantiles over any window.
constexpr int DIFFERENCE_BUCKETS = 14;
constexpr double DIFFERENCE_BUCKET_BOUNDS_MS[DIFFERENCE_BUCKETS] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1,
                                                                    0.2,   0.5,   1,     2,    5,    10,   20};

struct DifferenceSizeBuckets {
    uint64_t samples;
    uint64_t at_most[DIFFERENCE_BUCKETS];  // samples with |difference| <= the bound; cumulative
    double abs_sum_ms;
    double square_sum_ms2;
};

// Every sample, steps included, as in tickwatch_samples_total.
void count_difference_size(DifferenceSizeBuckets &histogram, double difference_ms);

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

void write_metrics(std::FILE *out, const MetricsFigures &figures);
