// The chart of a log as a self-contained SVG picture: the difference per
// sample over UTC time, with the thresholds and the steps, and below it the
// time adjustment's slew rate; runs separated.
#pragma once

#include <cstdio>

#include "analyze/accumulate/chart_data.h"

// title_name: what the chart shows, such as the log's file name.
void write_svg_chart(std::FILE *out, const ChartData &chart, const char *title_name);
