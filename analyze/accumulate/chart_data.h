// The samples of a log, boiled down in one pass to a fixed number of time
// buckets, each holding the extremes and the mean of the samples that fall in
// it: enough to draw every pixel column of a chart, whatever the log's
// length. The same buckets hold any value over time, such as the phase.
#pragma once

#include <cstdint>

#include "analyze/accumulate/phase.h"
#include "analyze/parse/log_line.h"

constexpr int CHART_BUCKETS = 4096;

struct ChartBucket {
    double difference_min;
    double difference_max;
    double step_difference;  // the largest step here, signed
    double slew_min_ppm;
    double slew_max_ppm;
    // The mean leaves the steps out: one step would hide the trend.
    double mean_sum;
    // Samples missing (as the run's statistics find them): how many gaps,
    // and the span from the earliest one's start to the latest one's end.
    int64_t gap_from_ms;
    int64_t gap_to_ms;
    uint32_t gaps;
    uint32_t mean_samples;
    uint32_t samples;  // 0: an empty bucket
    uint32_t steps;
    int32_t run_started;  // the number of a later run starting here, or 0
    bool has_slew;
};

// The buckets cover origin_ms + [0, CHART_BUCKETS * bucket_ms). A sample
// outside doubles the width, merging the buckets pairwise, until it fits:
// the buckets stay aligned, and a span that grows steadily keeps at least
// half of them in use.
struct ChartData {
    uint64_t samples;
    uint64_t untimed_samples;  // not drawn: their time is not known
    uint64_t steps;
    int32_t runs;       // from the first run drawn to the last
    int32_t first_run;  // its number
    int64_t origin_ms;
    int64_t bucket_ms;
    int64_t first_ms;  // earliest and latest sample time
    int64_t last_ms;
    int64_t previous_ms;  // the time of the sample before, within its run
    ChartBucket buckets[CHART_BUCKETS];
};

void start_chart(ChartData &chart);
// run: the sample's run number; starts_run: it is that run's first sample.
// Samples without a known time are only counted.
void add_to_chart(ChartData &chart, const ReportFields &sample, int32_t run, bool starts_run);
// A value at a time, for a chart of something else than the samples' own
// difference: the value takes the difference's place, and starts_line
// breaks the line there as a run start does; step marks a step there, gap
// samples missing since the value before.
void add_value_to_chart(ChartData &chart, int64_t utc_ms, double value, bool starts_line, bool step, bool gap);
void merge_bucket(ChartBucket &into, const ChartBucket &from);

// The segments along the time axis, each with its own fitted offset: the
// first MAX_CHART_SEGMENTS of all runs, the rest counted.
constexpr int MAX_CHART_SEGMENTS = 2048;
struct ChartSegment {
    int64_t start_ms;  // its first and last line's sample time
    int64_t end_ms;
    double offset_ppm;
    bool slewed;       // some line in it slewed the clock
    bool significant;  // offset_significant; beyond a run's first segments, by the classical standard error
};
struct ChartSegments {
    int count;
    uint64_t left_out;
    ChartSegment segment[MAX_CHART_SEGMENTS];
};
// A segment that spans time (an offset fitted) and whose times are known;
// the others are not drawn.
void add_chart_segment(ChartSegments &segments, const SegmentFigures &segment);
// The segment that overlaps [from_ms, to_ms] most, or nullptr.
const ChartSegment *segment_at(const ChartSegments &segments, int64_t from_ms, int64_t to_ms);
