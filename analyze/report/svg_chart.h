// The charts of a log over UTC time. The difference chart: the difference
// per sample, with the thresholds, the steps, the gaps and the runs, and
// below it the time adjustment's slew rate. The phase chart: the time error
// accumulated within each segment.
#pragma once

#include <cstddef>
#include <cstdio>

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/frequency.h"
#include "analyze/accumulate/records.h"

// What a chart's and the report's title names: the log, or the first of
// them and how many more.
constexpr size_t TITLE_SIZE = 512;
void format_title(char *title, size_t size, const AnalysisSnapshot &snapshot);

// title_name: what the chart shows, such as the log's file name.
// standalone: an SVG file of its own; otherwise an element of a page.
void write_difference_chart(std::FILE *out, const ChartData &chart, const char *title_name, bool standalone);
// The --svg picture: the difference chart, and under it the frequency view
// of the total; snapshot: with the charts (keep_chart).
void write_svg_chart(std::FILE *out, const AnalysisSnapshot &snapshot);
// The frequency view: rate (the unmarked lines' measured rate in ppm) as
// its mean per column, the commanded slew (chart's), the fitted offset and
// each segment's own, on chart's time axis and one scale.
void write_frequency_chart(std::FILE *out, const ChartData &chart, const ChartData &rate,
                           const FrequencyFigures &frequency, const ChartSegments *segments);
// The time error less each segment's fitted offset (the pooled one where a
// segment is not listed): phase (ms) and phase_time (each point's time in
// its segment, s) as the mean per column, a segment's start breaking the
// line; chart's steps and gaps marked.
void write_detrended_chart(std::FILE *out, const ChartData &chart, const ChartData &phase, const ChartData &phase_time,
                           const FrequencyFigures &frequency, const ChartSegments *segments);
// The runs' kept episodes along chart's time axis, a lane per run.
struct TimelineRun {
    int32_t number;
    const RunEpisodes *episodes;
};
void write_episode_timeline(std::FILE *out, const ChartData &chart, const TimelineRun *runs, int run_count);
// phase: its values in ms, a segment's start breaking the line.
void write_phase_chart(std::FILE *out, const ChartData &phase);
