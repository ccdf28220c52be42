// What a run of samples (or all runs together) amounts to, gathered one
// sample at a time in fixed memory.
#pragma once

#include <cstdint>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/phase.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"

// Samples further apart than this have samples missing between them.
constexpr double GAP_THRESHOLD_MS = REGULAR_INTERVAL_MAX_MS;

// Runs whose τ0 differ by more than this (relative) do not pool their
// phase: each τ = m·τ0 would be off by as much for one of them.
constexpr double TAU0_POOLING_TOLERANCE = 0.001;

// Each run lists its first steps and adjustment changes and counts the rest;
// the values of the adjustment it keeps apart, up to this many.
constexpr int MAX_LISTED_EVENTS = 50;
constexpr int MAX_ADJUSTMENT_VALUES = 16;

struct Step {
    int64_t utc_ms;
    double difference_ms;
};

struct AdjustmentSetting {
    int32_t adjustment;
    uint32_t increment;
};

struct AdjustmentChange {
    int64_t utc_ms;
    AdjustmentSetting from;
    AdjustmentSetting to;
};

struct AdjustmentValue {
    AdjustmentSetting setting;
    uint64_t samples;
};

struct RunStatistics {
    uint64_t samples;
    // The span: the earliest and the latest sample time (a clock set back,
    // logs out of order), UNKNOWN_TIME_MS without a known one.
    int64_t first_utc_ms;
    int64_t last_utc_ms;
    double covered_ms;         // the time covered: the counter's advances, summed
    uint64_t gaps;             // lines with samples missing before them (phase.h)
    uint64_t missing_samples;  // the samples missing there
    // The same apart: where lines were lost from the log (the sample times
    // jump), and the gap lines (their own interval long), each with the
    // samples missing there (a line may have both).
    uint64_t lost_line_places;
    uint64_t lost_samples;
    uint64_t gap_lines;
    uint64_t gap_samples;
    // A total's runs whose τ0 is more than TAU0_POOLING_TOLERANCE from the
    // pooled runs': their phase is left out of its stability and frequency.
    int32_t runs_paced_apart;
    uint64_t samples_paced_apart;

    // The difference of every sample, steps included.
    double difference_sum;
    double difference_min;
    double difference_max;
    // Of the regular lines alone (phase.h): no step, no gap, no short
    // interval.
    uint64_t regular_lines;
    double regular_difference_sum;
    double regular_difference_sum_squares;

    uint64_t steps;
    double step_sum_ms;
    int listed_step_count;
    Step listed_steps[MAX_LISTED_EVENTS];

    // The clock's rate, from the samples that are not steps.
    uint64_t rate_samples;
    double rate_difference_sum;
    double rate_counter_sum;
    double rate_min_ppm;
    double rate_max_ppm;

    int value_count;
    AdjustmentValue values[MAX_ADJUSTMENT_VALUES];
    uint64_t other_value_samples;  // samples whose value did not fit the list

    uint64_t changes;
    int listed_change_count;
    AdjustmentChange listed_changes[MAX_LISTED_EVENTS];

    AdjustmentSetting previous_setting;

    // The segments' phase: stability and frequency offset. phase_segment:
    // the open segment's storage, large and shared (none in a total).
    RunPhase phase;
    PhaseSegment *phase_segment;
    // The differences of the regular lines, large and shared; or none.
    DifferenceCounts *difference_counts;
};

// With the storage to use for the phase and the differences' counts, if
// they are to be gathered; the counts are started.
void start_statistics(RunStatistics &run, PhaseSegment *phase_segment = nullptr,
                      DifferenceCounts *difference_counts = nullptr);
void add_sample(RunStatistics &run, const ReportFields &sample);
// Counts, extremes, values and sums only: the total lists no events. The
// run's phase is pooled only where its τ0 agrees with the total's (within
// TAU0_POOLING_TOLERANCE; the first run with regular lines sets it), else
// counted as paced apart.
void add_run_to_total(RunStatistics &total, const RunStatistics &run);

// How far the system clock ran ahead of the counter in one sample, in ppm;
// false where the counter did not advance.
bool sample_rate_ppm(const ReportFields &sample, double &ppm);
// How hard the adjustment slews the clock: its distance from the increment
// relative to the increment, in ppm; false for an increment of 0.
bool slew_rate_ppm(AdjustmentSetting setting, double &ppm);
AdjustmentSetting setting_of(const ReportFields &sample);

// Over the regular lines; NaN without any.
double difference_mean(const RunStatistics &run);
double difference_rms(const RunStatistics &run);
// Over all samples that are not steps; false when there are none.
bool run_rate_ppm(const RunStatistics &run, double &ppm);

// A run of a log: from a banner (or the start of the file) to the next
// banner or the end of the file.
struct LogRun {
    int32_t number;  // counting from 1 over all the files
    const char *file;
    uint64_t first_line;
    uint64_t last_line;
    RunStatistics statistics;
};
