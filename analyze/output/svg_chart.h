// The charts of a log over UTC time. The difference chart: the difference
// per sample, with the thresholds, the steps, the gaps and the runs, and
// below it the time adjustment's slew rate. The phase chart: the time error
// accumulated within each segment.
#pragma once

#include <cstdio>

#include "analyze/accumulate/chart_data.h"

// title_name: what the chart shows, such as the log's file name.
// standalone: an SVG file of its own; otherwise an element of a page.
void write_difference_chart(std::FILE *out, const ChartData &chart, const char *title_name, bool standalone);
void write_svg_chart(std::FILE *out, const ChartData &chart, const char *title_name);
// phase: its values in ms, a segment's start breaking the line.
void write_phase_chart(std::FILE *out, const ChartData &phase);
