#include "analyze/accumulate/chart_data.h"

#include <algorithm>
#include <cmath>

#include "analyze/accumulate/statistics.h"

void start_chart(ChartData &chart) {
    chart.samples = 0;
    chart.untimed_samples = 0;
    chart.steps = 0;
    chart.runs = 0;
    chart.first_run = 0;
    chart.origin_ms = 0;
    chart.bucket_ms = 1;
    chart.first_ms = 0;
    chart.last_ms = 0;
    chart.previous_ms = 0;
    for (ChartBucket &bucket : chart.buckets) {
        bucket = ChartBucket{};
    }
}

void merge_bucket(ChartBucket &into, const ChartBucket &from) {
    if (from.samples == 0) {
        return;
    }
    if (into.samples == 0) {
        into = from;
        return;
    }
    into.samples += from.samples;
    into.mean_samples += from.mean_samples;
    into.mean_sum += from.mean_sum;
    if (from.gaps > 0) {
        into.gap_from_ms = into.gaps > 0 ? std::min(into.gap_from_ms, from.gap_from_ms) : from.gap_from_ms;
        into.gap_to_ms = into.gaps > 0 ? std::max(into.gap_to_ms, from.gap_to_ms) : from.gap_to_ms;
        into.gaps += from.gaps;
    }
    into.difference_min = std::min(into.difference_min, from.difference_min);
    into.difference_max = std::max(into.difference_max, from.difference_max);
    if (from.steps > 0 && (into.steps == 0 || std::fabs(from.step_difference) > std::fabs(into.step_difference))) {
        into.step_difference = from.step_difference;
    }
    into.steps += from.steps;
    if (from.run_started > into.run_started) {
        into.run_started = from.run_started;
    }
    if (from.has_slew) {
        into.slew_min_ppm = into.has_slew ? std::min(into.slew_min_ppm, from.slew_min_ppm) : from.slew_min_ppm;
        into.slew_max_ppm = into.has_slew ? std::max(into.slew_max_ppm, from.slew_max_ppm) : from.slew_max_ppm;
        into.has_slew = true;
    }
}

namespace {

// Doubles the bucket width until t fits, each doubling keeping the old
// range as the lower half of the new one (t beyond it) or as the upper half
// (t before it), so that each old bucket falls in one new bucket; then
// regroups the buckets once, in place: an old bucket never lands behind its
// place when the range grew forward, nor ahead of it when it grew back, so
// taking the new buckets in that direction reads every old one before it is
// overwritten. Each new bucket merges its old ones in their order.
void widen_to_fit(ChartData &chart, int64_t t) {
    const int64_t old_origin = chart.origin_ms;
    const int64_t old_width = chart.bucket_ms;
    while (t >= chart.origin_ms + CHART_BUCKETS * chart.bucket_ms) {
        chart.bucket_ms *= 2;
    }
    while (t < chart.origin_ms) {
        chart.origin_ms -= CHART_BUCKETS * chart.bucket_ms;
        chart.bucket_ms *= 2;
    }
    if (chart.bucket_ms == old_width) {
        return;
    }
    const auto new_place = [&](int old_place) {
        return static_cast<int>((old_origin + old_place * old_width - chart.origin_ms) / chart.bucket_ms);
    };
    ChartBucket *const buckets = chart.buckets;
    if (chart.origin_ms == old_origin) {
        int from = 0;
        for (int place = 0; place < CHART_BUCKETS; ++place) {
            ChartBucket merged = {};
            for (; from < CHART_BUCKETS && new_place(from) == place; ++from) {
                merge_bucket(merged, buckets[from]);
            }
            buckets[place] = merged;
        }
    } else {
        int to = CHART_BUCKETS - 1;
        for (int place = CHART_BUCKETS - 1; place >= 0; --place) {
            int from = to + 1;
            while (from > 0 && new_place(from - 1) == place) {
                --from;
            }
            ChartBucket merged = {};
            for (int old_place = from; old_place <= to; ++old_place) {
                merge_bucket(merged, buckets[old_place]);
            }
            to = from - 1;
            buckets[place] = merged;
        }
    }
}

// Places the time on the chart, widening it as needed; returns its bucket.
ChartBucket &bucket_at(ChartData &chart, int64_t t) {
    if (chart.samples == 0) {
        chart.origin_ms = t;
        chart.first_ms = t;
        chart.last_ms = t;
    }
    widen_to_fit(chart, t);
    chart.first_ms = t < chart.first_ms ? t : chart.first_ms;
    chart.last_ms = t > chart.last_ms ? t : chart.last_ms;
    ++chart.samples;
    return chart.buckets[(t - chart.origin_ms) / chart.bucket_ms];
}

}  // namespace

void add_to_chart(ChartData &chart, const ReportFields &sample, int32_t run, bool starts_run) {
    if (sample.utc_ms == UNKNOWN_TIME_MS) {
        ++chart.untimed_samples;
        return;
    }
    ChartBucket &bucket = bucket_at(chart, sample.utc_ms);
    // A file's chart begins at a later run than 1.
    chart.first_run = chart.first_run == 0 ? run : chart.first_run;
    chart.runs = run - chart.first_run + 1 > chart.runs ? run - chart.first_run + 1 : chart.runs;

    ChartBucket one = {};
    one.samples = 1;
    one.difference_min = sample.difference_ms;
    one.difference_max = sample.difference_ms;
    if (sample.marked) {
        one.steps = 1;
        one.step_difference = sample.difference_ms;
        ++chart.steps;
    } else {
        one.mean_samples = 1;
        one.mean_sum = sample.difference_ms;
    }
    // The interval by the counter since the sample before: the system
    // clock's less the difference.
    const double interval_ms = static_cast<double>(sample.utc_ms - chart.previous_ms) - sample.difference_ms;
    if (!starts_run && interval_ms > GAP_THRESHOLD_MS) {
        one.gaps = 1;
        one.gap_from_ms = chart.previous_ms;
        one.gap_to_ms = sample.utc_ms;
    }
    chart.previous_ms = sample.utc_ms;
    // The first run needs no separator.
    one.run_started = starts_run && chart.samples > 1 ? run : 0;
    one.has_slew = slew_rate_ppm(setting_of(sample), one.slew_min_ppm);
    one.slew_max_ppm = one.slew_min_ppm;
    merge_bucket(bucket, one);
}

void add_value_to_chart(ChartData &chart, int64_t utc_ms, double value, bool starts_line, bool step, bool gap) {
    if (utc_ms == UNKNOWN_TIME_MS) {
        ++chart.untimed_samples;
        return;
    }
    ChartBucket &bucket = bucket_at(chart, utc_ms);
    ChartBucket one = {};
    one.samples = 1;
    one.difference_min = value;
    one.difference_max = value;
    one.mean_samples = 1;
    one.mean_sum = value;
    one.run_started = starts_line && chart.samples > 1 ? 1 : 0;
    one.steps = step ? 1 : 0;
    chart.steps += one.steps;
    if (gap && chart.samples > 1) {
        one.gaps = 1;
        one.gap_from_ms = chart.previous_ms;
        one.gap_to_ms = utc_ms;
    }
    chart.previous_ms = utc_ms;
    merge_bucket(bucket, one);
}

void add_chart_segment(ChartSegments &segments, const SegmentFigures &segment) {
    if (!segment.frequency.has_offset || segment.start_utc_ms == UNKNOWN_TIME_MS) {
        return;
    }
    if (segments.count == MAX_CHART_SEGMENTS) {
        ++segments.left_out;
        return;
    }
    FrequencyFigures f = segment.frequency;
    if (!f.has_uncertainty && f.has_stderr) {
        f.has_uncertainty = true;
        f.uncertainty_ppm = f.fit_stderr * 1e6;
    }
    segments.segment[segments.count++] = ChartSegment{segment.start_utc_ms, segment.end_utc_ms, f.offset_ppm,
                                                      segment.slewed_lines > 0, offset_significant(f)};
}

const ChartSegment *segment_at(const ChartSegments &segments, int64_t from_ms, int64_t to_ms) {
    const ChartSegment *most = nullptr;
    int64_t most_ms = -1;
    for (int i = 0; i < segments.count; ++i) {
        const ChartSegment &s = segments.segment[i];
        const int64_t overlap_ms = std::min(s.end_ms, to_ms) - std::max(s.start_ms, from_ms);
        if (overlap_ms > most_ms) {
            most = &s;
            most_ms = overlap_ms;
        }
    }
    return most;
}
