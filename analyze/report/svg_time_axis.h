// What the charts over time share (svg_chart.h): the pictures' layout, the
// samples' buckets gathered into pixel columns along the time axis, the
// bands drawn through the columns, the axes of a panel, the legend over it,
// and the start of a chart that may have nothing to draw.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/frequency.h"
#include "analyze/report/svg_drawing.h"

// The pictures' layout, in pixels. The frames reach PLOT_PADDING beyond
// the columns on either side.
constexpr int WIDTH = 1200;
constexpr int PLOT_LEFT = 100;
constexpr int PLOT_COLUMNS = 1060;  // one per pixel column
constexpr int FRAME_LEFT = PLOT_LEFT - PLOT_PADDING;
constexpr int FRAME_WIDTH = PLOT_COLUMNS + 2 * PLOT_PADDING;

// Differences are drawn on a scale that is linear within ±LINEAR_PART_MS,
// where it takes as much room as a decade, and logarithmic beyond: a clock
// a few microseconds off and one stepped by an hour fit the same chart, and
// the thresholds sit in the middle.
constexpr double LINEAR_PART_MS = 0.001;
double scaled_difference(double ms);
double difference_of_scaled(double scaled);

// The buckets gathered into pixel columns: some 100 kB, kept on the heap.
struct Columns {
    ChartBucket column[PLOT_COLUMNS];
};
std::unique_ptr<Columns> gather_columns(const ChartData &chart);
// values on the time axis of another chart (axis), as a panel beside it.
std::unique_ptr<Columns> gather_columns_on(const ChartData &values, const ChartData &axis);
double x_of_column(int column);
// How much time a pixel column stands for.
double column_ms(const ChartData &chart);
double x_of_time(const ChartData &chart, int64_t utc_ms);

// What a band draws: the difference (on its scale), its mean, the slew;
// any value on a linear scale, and its mean.
enum class Band { difference, mean, slew, value, value_mean };
// One value band per column, as a path (the mean: one point per column).
// A run start breaks it, and so do empty columns, where they stand for
// more time than samples missing (beyond the gap threshold, give or take a
// column) would leave empty.
void write_band(std::FILE *out, const Columns &columns, const Scale &scale, Band band, double column_ms, const char *id,
                const char *colour);

// A panel's frame: its top and height.
struct Panel {
    int top;
    int height;
};

// Across the frames' width.
void write_grid_line(std::FILE *out, double y, const char *colour, const char *dash);
// A scale whose ends are whole ticks around the values and 0: every value
// lies between two labelled ticks. step: the ticks'.
Scale linear_scale(double low, double high, int top, int height, double &step);
// A panel's values, as the group id: ticks at whole steps from the low end
// of a linear_scale to its high end, and the title up the left edge.
void write_value_axis(std::FILE *out, const char *id, const Scale &scale, double step, const char *title);
// Time ticks under the last panel, with their grid lines through every
// panel: the first step that gives at most eight ticks over the span.
void write_time_axis(std::FILE *out, const char *id, const ChartData &chart, const Panel *panels, int panel_count);
// A chart's one panel, scale's: the time under it and the values beside
// it, as the groups name-time-axis and name-axis.
void write_panel_axes(std::FILE *out, const char *name, const ChartData &time, const Scale &scale, double step,
                      const char *title);
// Each gap as an orange band through the panels, at least two pixels wide.
void write_gap_bands(std::FILE *out, const Columns &columns, const ChartData &chart, const Panel *panels,
                     int panel_count, const char *id);

// Legend entries one after the other, each as wide as its text.
struct Legend {
    std::FILE *out;
    double x;
    int y;
};
void add_legend_text(Legend &legend, double indent, const char *text);
void add_legend_line(Legend &legend, const char *colour, double width, const char *dash, const char *text);

// A chart over time as an element of a page, height high, label as
// begin_svg's. False, with
// empty_text in its middle and the element ended, when there is nothing
// to draw: empty_text not nullptr.
bool begin_time_chart(std::FILE *out, int height, const char *label, const char *empty_text);

// The frequency view of a page, which the --svg picture also shows under
// the difference chart: from top down, FREQUENCY_HEIGHT high.
constexpr int FREQUENCY_HEIGHT = 400;
// segments: each with its own fitted offset, or nullptr.
void write_frequency_view(std::FILE *out, int top, const ChartData &chart, const ChartData &rate,
                          const FrequencyFigures &frequency, const ChartSegments *segments);
