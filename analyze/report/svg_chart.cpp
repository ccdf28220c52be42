#include "analyze/report/svg_chart.h"

#include <cmath>

#include "analyze/accumulate/statistics.h"
#include "analyze/parse/utc_time.h"
#include "analyze/report/escape.h"
#include "analyze/report/svg_drawing.h"
#include "clock/log_format.h"

namespace {

// The picture's layout, in pixels. The frames reach PLOT_PADDING beyond
// the columns on either side.
constexpr int WIDTH = 1200;
constexpr int HEIGHT = 736;
constexpr int PLOT_LEFT = 100;
constexpr int PLOT_COLUMNS = 1060;  // one per pixel column
constexpr int FRAME_LEFT = PLOT_LEFT - PLOT_PADDING;
constexpr int FRAME_WIDTH = PLOT_COLUMNS + 2 * PLOT_PADDING;
constexpr int DIFFERENCE_TOP = 100;
constexpr int DIFFERENCE_HEIGHT = 360;
constexpr int SLEW_TOP = 512;
constexpr int SLEW_HEIGHT = 150;
constexpr int PHASE_HEIGHT = 420;
constexpr int PHASE_TOP = 60;
constexpr int PHASE_PANEL_HEIGHT = 300;

// Differences are drawn on a scale that is linear within ±LINEAR_PART_MS,
// where it takes as much room as a decade, and logarithmic beyond: a clock
// a few microseconds off and one stepped by an hour fit the same chart, and
// the thresholds sit in the middle.
constexpr double LINEAR_PART_MS = 0.001;

const char *const DIFFERENCE_COLOUR = "#1c64b4";
const char *const BAND_UNDER_MEAN_COLOUR = "#8fb8e6";  // lighter: the mean goes over it
const char *const MEAN_COLOUR = "#0b3d91";
const char *const THRESHOLD_COLOUR = "#e8590c";
const char *const STEP_COLOUR = "#c92a2a";
const char *const SLEW_COLOUR = "#2b8a3e";
const char *const RUN_COLOUR = "#868e96";
const char *const GAP_COLOUR = "#ffc078";
const char *const PHASE_COLOUR = "#9775fa";

double scaled_difference(double ms) {
    const double size = std::fabs(ms);
    return size <= LINEAR_PART_MS ? ms / LINEAR_PART_MS : std::copysign(1 + std::log10(size / LINEAR_PART_MS), ms);
}

double difference_of_scaled(double scaled) {
    return scaled <= 1 ? scaled * LINEAR_PART_MS : LINEAR_PART_MS * std::pow(10.0, scaled - 1);
}

// The buckets gathered into pixel columns.
struct Columns {
    ChartBucket column[PLOT_COLUMNS];
};

// values on the time axis of another chart (axis), as a panel beside it.
void gather_columns_on(const ChartData &values, const ChartData &axis, Columns &columns) {
    for (ChartBucket &column : columns.column) {
        column = ChartBucket{};
    }
    const auto span = static_cast<double>(axis.last_ms - axis.first_ms);
    for (int i = 0; i < CHART_BUCKETS; ++i) {
        const ChartBucket &bucket = values.buckets[i];
        if (bucket.samples == 0) {
            continue;
        }
        double middle = static_cast<double>(values.origin_ms - axis.first_ms) +
                        (static_cast<double>(i) + 0.5) * static_cast<double>(values.bucket_ms);
        middle = std::fmin(std::fmax(middle, 0.0), span);
        const int column =
            span > 0 ? static_cast<int>(std::lround(middle / span * (PLOT_COLUMNS - 1))) : PLOT_COLUMNS / 2;
        merge_bucket(columns.column[column], bucket);
    }
}

void gather_columns(const ChartData &chart, Columns &columns) { gather_columns_on(chart, chart, columns); }

double x_of_column(int column) { return PLOT_LEFT + column + 0.5; }

// How much time a pixel column stands for.
double column_ms(const ChartData &chart) {
    return static_cast<double>(chart.last_ms - chart.first_ms) / (PLOT_COLUMNS - 1);
}

double x_of_time(const ChartData &chart, int64_t utc_ms) {
    const auto span = static_cast<double>(chart.last_ms - chart.first_ms);
    double share = span > 0 ? static_cast<double>(utc_ms - chart.first_ms) / span : 0.5;
    share = std::fmin(std::fmax(share, 0.0), 1.0);
    return PLOT_LEFT + share * (PLOT_COLUMNS - 1) + 0.5;
}

// What a band draws: the difference (on its scale), its mean, the slew;
// any value on a linear scale, and its mean.
enum class Band { difference, mean, slew, value, value_mean };

// One value band per column, as a path (the mean: one point per column).
// A run start breaks it, and so do empty columns, where they stand for
// more time than samples missing (beyond the gap threshold, give or take a
// column) would leave empty.
void write_band(std::FILE *out, const Columns &columns, const Scale &scale, Band band, double column_ms, const char *id,
                const char *colour) {
    std::fprintf(out,
                 "<path id=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"%s\" stroke-linejoin=\"round\" "
                 "stroke-linecap=\"round\" d=\"",
                 id, colour, band == Band::mean || band == Band::value_mean ? "1.5" : "1.2");
    int previous = -1;
    double last_y = 0;
    // The columns that stand alone, a path of no length that no one sees:
    // each gets a dot after the path.
    static double lone_x[PLOT_COLUMNS];
    static double lone_y[PLOT_COLUMNS];
    int lone_count = 0;
    int subpath_columns = 0;
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        const ChartBucket &c = columns.column[i];
        if (c.samples == 0 || (band == Band::slew && !c.has_slew) ||
            (c.mean_samples == 0 && (band == Band::mean || band == Band::value_mean))) {
            continue;
        }
        double low = 0;
        double high = 0;
        const bool mean = band == Band::mean || band == Band::value_mean;
        if (band == Band::slew) {
            low = y_of(scale, c.slew_min_ppm);
            high = y_of(scale, c.slew_max_ppm);
        } else if (mean) {
            const double value = c.mean_sum / c.mean_samples;
            low = y_of(scale, band == Band::mean ? scaled_difference(value) : value);
            high = low;
        } else if (band == Band::value) {
            low = y_of(scale, c.difference_min);
            high = y_of(scale, c.difference_max);
        } else {
            low = y_of(scale, scaled_difference(c.difference_min));
            high = y_of(scale, scaled_difference(c.difference_max));
        }
        const bool continues = previous >= 0 && c.run_started == 0 &&
                               (i - previous == 1 || (i - previous) * column_ms <= GAP_THRESHOLD_MS + column_ms);
        if (!continues && subpath_columns == 1) {
            ++lone_count;
        }
        subpath_columns = continues ? subpath_columns + 1 : 1;
        lone_x[lone_count] = x_of_column(i);
        lone_y[lone_count] = (low + high) / 2;
        if (mean) {
            std::fprintf(out, "%c%.1f %.1f", continues ? 'L' : 'M', x_of_column(i), low);
            previous = i;
            continue;
        }
        // From the end nearer the previous column; both ends always, so
        // that a lone column shows as a dot.
        const bool high_first = continues && std::fabs(high - last_y) < std::fabs(low - last_y);
        const double first = high_first ? high : low;
        const double second = high_first ? low : high;
        std::fprintf(out, "%c%.1f %.1fL%.1f %.1f", continues ? 'L' : 'M', x_of_column(i), first, x_of_column(i),
                     second);
        previous = i;
        last_y = second;
    }
    std::fputs("\"/>\n", out);
    lone_count += subpath_columns == 1 ? 1 : 0;
    if (lone_count > 0) {
        std::fprintf(out, "<g id=\"%s-alone\" fill=\"%s\">\n", id, colour);
        for (int i = 0; i < lone_count; ++i) {
            std::fprintf(out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\"/>\n", lone_x[i], lone_y[i]);
        }
        std::fputs("</g>\n", out);
    }
}

void write_grid_line(std::FILE *out, double y, const char *colour, const char *dash) {
    write_line(out, FRAME_LEFT, y, FRAME_LEFT + FRAME_WIDTH, y, colour, 1, dash);
}

// A difference for a tick label: "+0.001", "-1000", "+1e6".
void format_difference_tick(char *buffer, size_t size, int sign, int decade) {
    const char *s = sign < 0 ? "-" : "+";
    if (decade < 0) {
        std::snprintf(buffer, size, "%s%.*f", s, -decade, std::pow(10.0, decade));
    } else if (decade <= 4) {
        std::snprintf(buffer, size, "%s%.0f", s, std::pow(10.0, decade));
    } else {
        std::snprintf(buffer, size, "%s1e%d", s, decade);
    }
}

void write_difference_panel(std::FILE *out, const Columns &columns, const ChartData &chart, const Scale &scale) {
    // Decade ticks from the end of the linear part up, thinned out when
    // there are many; a label only where it keeps clear of the one before.
    const double top_value = difference_of_scaled(scale.high);
    const int top_decade = static_cast<int>(std::floor(std::log10(top_value)));
    const int first_decade = -3;
    const int every = (top_decade - first_decade) > 7 ? 2 : 1;
    std::fputs("<g id=\"difference-axis\">\n", out);
    write_grid_line(out, y_of(scale, 0), AXIS_COLOUR, "");
    write_text(out, FRAME_LEFT - 6, y_of(scale, 0) + 4, "end", 12, TEXT_COLOUR, "0");
    for (int sign = -1; sign <= 1; sign += 2) {
        double last_label_y = y_of(scale, 0);
        for (int decade = first_decade; decade <= top_decade; decade += every) {
            const double y = y_of(scale, scaled_difference(sign * std::pow(10.0, decade)));
            write_grid_line(out, y, GRID_COLOUR, "");
            if (std::fabs(y - last_label_y) >= 13) {
                char label[32];
                format_difference_tick(label, sizeof label, sign, decade);
                write_text(out, FRAME_LEFT - 6, y + 4, "end", 12, TEXT_COLOUR, label);
                last_label_y = y;
            }
        }
    }
    write_vertical_title(out, 24, DIFFERENCE_TOP + DIFFERENCE_HEIGHT / 2,
                         "system time \xe2\x88\x92 counter per sample, ms (log scale)");
    std::fputs("</g>\n<g id=\"thresholds\">\n", out);
    for (int sign = -1; sign <= 1; sign += 2) {
        write_grid_line(out, y_of(scale, scaled_difference(sign * MARKER_THRESHOLD_MS)), THRESHOLD_COLOUR, "6 4");
    }
    std::fputs("</g>\n", out);

    // Where columns hold many samples, the band shows only the extremes.
    const bool with_mean = chart.samples > PLOT_COLUMNS;
    write_band(out, columns, scale, Band::difference, column_ms(chart), "difference",
               with_mean ? BAND_UNDER_MEAN_COLOUR : DIFFERENCE_COLOUR);
    if (with_mean) {
        write_band(out, columns, scale, Band::mean, column_ms(chart), "difference-mean", MEAN_COLOUR);
    }

    std::fputs("<g id=\"steps\">\n", out);
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        const ChartBucket &c = columns.column[i];
        if (c.steps == 0) {
            continue;
        }
        char when[ISO_TIME_SIZE];
        format_iso_time(when, sizeof when, chart.first_ms + static_cast<int64_t>(std::llround(column_ms(chart) * i)));
        std::fprintf(out,
                     "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4.5\" fill=\"%s\" fill-opacity=\"0.75\"><title>%u "
                     "step(s) near %s, largest %+.4f ms</title></circle>\n",
                     x_of_column(i), y_of(scale, scaled_difference(c.step_difference)), STEP_COLOUR, c.steps, when,
                     c.step_difference);
    }
    // Over the marks, on a halo of their own, so that dots cannot hide them.
    std::fputs("</g>\n<g id=\"threshold-labels\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\">\n", out);
    for (int sign = -1; sign <= 1; sign += 2) {
        const double y = y_of(scale, scaled_difference(sign * MARKER_THRESHOLD_MS));
        char label[32];
        std::snprintf(label, sizeof label, "%s%.0f ms", sign < 0 ? "\xe2\x88\x92" : "+", MARKER_THRESHOLD_MS);
        write_text(out, PLOT_LEFT + PLOT_COLUMNS - 4, y + (sign > 0 ? 14 : -5), "end", 12, THRESHOLD_COLOUR, label);
    }
    std::fputs("</g>\n", out);
}

// Ticks at whole steps from low to high, which the scale's ends are.
void write_linear_ticks(std::FILE *out, const Scale &scale, double step) {
    const auto lowest = static_cast<long long>(std::llround(scale.low / step));
    const auto highest = static_cast<long long>(std::llround(scale.high / step));
    for (long long i = lowest; i <= highest; ++i) {
        const double value = static_cast<double>(i) * step;
        write_grid_line(out, y_of(scale, value), i == 0 ? AXIS_COLOUR : GRID_COLOUR, "");
        char label[32];
        std::snprintf(label, sizeof label, "%+g", value);
        write_text(out, FRAME_LEFT - 6, y_of(scale, value) + 4, "end", 12, TEXT_COLOUR, i == 0 ? "0" : label);
    }
}

// A scale whose ends are whole ticks around the values and 0: every value
// lies between two labelled ticks.
Scale linear_scale(double low, double high, int top, int height, double &step) {
    low = std::fmin(low, 0.0);
    high = std::fmax(high, 0.0);
    if (!(high - low > 0)) {
        low = -1;
        high = 1;
    }
    step = nice_step(high - low);
    return Scale{std::floor(low / step) * step, std::ceil(high / step) * step, top, height};
}

void write_slew_panel(std::FILE *out, const Columns &columns, const ChartData &chart) {
    double low = 0;
    double high = 0;
    for (const ChartBucket &c : columns.column) {
        if (c.samples > 0 && c.has_slew) {
            low = std::fmin(low, c.slew_min_ppm);
            high = std::fmax(high, c.slew_max_ppm);
        }
    }
    double step = 0;
    const Scale scale = linear_scale(low, high, SLEW_TOP, SLEW_HEIGHT, step);
    std::fputs("<g id=\"adjustment-axis\">\n", out);
    write_linear_ticks(out, scale, step);
    write_vertical_title(out, 24, SLEW_TOP + SLEW_HEIGHT / 2, "adjustment slew, ppm");
    std::fputs("</g>\n", out);
    write_band(out, columns, scale, Band::slew, column_ms(chart), "adjustment", SLEW_COLOUR);
}

Scale difference_scale(const Columns &columns) {
    double largest = MARKER_THRESHOLD_MS * 2;
    for (const ChartBucket &c : columns.column) {
        if (c.samples > 0) {
            largest = std::fmax(largest, std::fmax(std::fabs(c.difference_min), std::fabs(c.difference_max)));
        }
    }
    const double top = scaled_difference(largest) + 0.15;
    return Scale{-top, top, DIFFERENCE_TOP, DIFFERENCE_HEIGHT};
}

// Time ticks under the panels from top to bottom: the first step that
// gives at most eight ticks over the span.
void write_time_axis(std::FILE *out, const char *id, const ChartData &chart, int bottom, const int *panel_edges) {
    static const int64_t steps_ms[] = {1000,
                                       2000,
                                       5000,
                                       10'000,
                                       15'000,
                                       30'000,
                                       60'000,
                                       120'000,
                                       300'000,
                                       600'000,
                                       900'000,
                                       1'800'000,
                                       3'600'000,
                                       7'200'000,
                                       10'800'000,
                                       21'600'000,
                                       43'200'000,
                                       MS_PER_DAY,
                                       2 * MS_PER_DAY,
                                       7 * MS_PER_DAY,
                                       14 * MS_PER_DAY,
                                       28 * MS_PER_DAY,
                                       56 * MS_PER_DAY,
                                       91 * MS_PER_DAY,
                                       182 * MS_PER_DAY,
                                       364 * MS_PER_DAY};
    const int64_t span = chart.last_ms - chart.first_ms;
    int64_t step = steps_ms[0];
    for (int64_t candidate : steps_ms) {
        step = candidate;
        if (span / candidate <= 8) {
            break;
        }
    }
    std::fprintf(out, "<g id=\"%s\">\n", id);
    int64_t tick = chart.first_ms / step * step;
    tick += tick < chart.first_ms ? step : 0;
    for (; tick <= chart.last_ms; tick += step) {
        const double x = x_of_time(chart, tick);
        for (const int *edge = panel_edges; edge[0] != 0; edge += 2) {
            write_line(out, x, edge[0], x, edge[1], GRID_COLOUR, 1, "");
        }
        const CivilTime t = civil_from_ms(tick);
        char label[40];
        if (step >= MS_PER_DAY) {
            std::snprintf(label, sizeof label, "%04lld-%02u-%02u", static_cast<long long>(t.year), t.month, t.day);
        } else if (span >= MS_PER_DAY) {
            std::snprintf(label, sizeof label, "%02u-%02u %02u:%02u", t.month, t.day, t.hour, t.minute);
        } else if (step >= 60'000) {
            std::snprintf(label, sizeof label, "%02u:%02u", t.hour, t.minute);
        } else {
            std::snprintf(label, sizeof label, "%02u:%02u:%02u", t.hour, t.minute, t.second);
        }
        write_text(out, x, bottom + 20, "middle", 12, TEXT_COLOUR, label);
    }
    const CivilTime first = civil_from_ms(chart.first_ms);
    char title[64];
    std::snprintf(title, sizeof title, "UTC time (from %04lld-%02u-%02u)", static_cast<long long>(first.year),
                  first.month, first.day);
    write_text(out, PLOT_LEFT + PLOT_COLUMNS / 2.0, bottom + 46, "middle", 13, TEXT_COLOUR, title);
    std::fputs("</g>\n", out);
}

// Each gap as a band through the panels, at least two pixels wide.
// Orange bands where samples are missing, through panels given as top and
// height pairs.
void write_gap_bands(std::FILE *out, const Columns &columns, const ChartData &chart, const int (*panels)[2],
                     int panel_count, const char *id) {
    std::fprintf(out, "<g id=\"%s\">\n", id);
    for (const ChartBucket &c : columns.column) {
        if (c.gaps == 0) {
            continue;
        }
        const double from = x_of_time(chart, c.gap_from_ms);
        const double width = std::fmax(x_of_time(chart, c.gap_to_ms) - from, 2.0);
        for (int panel = 0; panel < panel_count; ++panel) {
            std::fprintf(out,
                         "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\" fill-opacity=\"0.6\">"
                         "<title>%u gap(s): samples missing</title></rect>\n",
                         from - (width > 2 ? 0 : 1), panels[panel][0], width, panels[panel][1], GAP_COLOUR, c.gaps);
        }
    }
    std::fputs("</g>\n", out);
}

void write_gaps(std::FILE *out, const Columns &columns, const ChartData &chart) {
    static const int panels[][2] = {{DIFFERENCE_TOP, DIFFERENCE_HEIGHT}, {SLEW_TOP, SLEW_HEIGHT}};
    write_gap_bands(out, columns, chart, panels, 2, "gaps");
}

// A line through the panels where a run starts, and its number above the
// frame, where no label of the plot can be: as many as keep clear of one
// another.
void write_run_separators(std::FILE *out, const Columns &columns) {
    std::fputs("<g id=\"runs\">\n", out);
    double last_label_end = -1000;
    // Thinned: thousands of runs would otherwise hide the chart behind
    // their lines.
    constexpr double MIN_RUN_LINE_SPACING = 8;
    double last_line_x = -1000;
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        if (columns.column[i].run_started == 0) {
            continue;
        }
        const double x = x_of_column(i) - 0.5;
        if (x - last_line_x < MIN_RUN_LINE_SPACING) {
            continue;
        }
        last_line_x = x;
        for (int panel = 0; panel < 2; ++panel) {
            const int top = panel == 0 ? DIFFERENCE_TOP : SLEW_TOP;
            const int height = panel == 0 ? DIFFERENCE_HEIGHT : SLEW_HEIGHT;
            write_line(out, x, top, x, top + height, RUN_COLOUR, 1.2, "3 3");
        }
        char label[32];
        std::snprintf(label, sizeof label, "run %d", static_cast<int>(columns.column[i].run_started));
        const double width = text_width(label, 12);
        // Beside the line, on its left at the right edge.
        const bool at_right_edge = x + 3 + width > FRAME_LEFT + FRAME_WIDTH;
        const double left = at_right_edge ? x - 3 - width : x + 3;
        if (left >= last_label_end + 8) {
            write_text(out, at_right_edge ? x - 3 : x + 3, DIFFERENCE_TOP - 6, at_right_edge ? "end" : "start", 12,
                       RUN_COLOUR, label);
            last_label_end = left + width;
        }
    }
    std::fputs("</g>\n", out);
}

// Legend entries one after the other, each as wide as its text.
struct Legend {
    std::FILE *out;
    double x;
    int y;
};

void add_legend_text(Legend &legend, double indent, const char *text) {
    write_text(legend.out, legend.x + indent, legend.y, "start", 12, TEXT_COLOUR, text);
    legend.x += indent + text_width(text, 12) + 8;
}

void add_legend_line(Legend &legend, const char *colour, double width, const char *dash, const char *text) {
    write_line(legend.out, legend.x, legend.y - 4, legend.x + 20, legend.y - 4, colour, width, dash);
    add_legend_text(legend, 26, text);
}

void write_legend(std::FILE *out, const ChartData &chart) {
    Legend legend = {out, PLOT_LEFT, 72};
    std::fputs("<g id=\"legend\" font-size=\"12\">\n", out);
    const bool with_mean = chart.samples > PLOT_COLUMNS;
    add_legend_line(legend, with_mean ? BAND_UNDER_MEAN_COLOUR : DIFFERENCE_COLOUR, 2, "",
                    "difference, lowest to highest per column");
    if (with_mean) {
        add_legend_line(legend, MEAN_COLOUR, 2, "", "mean without steps");
    }
    char text[64];
    std::snprintf(text, sizeof text, "\xc2\xb1%.0f ms: marked %s", MARKER_THRESHOLD_MS, STEP_MARKER);
    add_legend_line(legend, THRESHOLD_COLOUR, 1, "6 4", text);
    std::fprintf(out, "<circle cx=\"%.1f\" cy=\"%d\" r=\"4.5\" fill=\"%s\" fill-opacity=\"0.75\"/>\n", legend.x + 6,
                 legend.y - 4, STEP_COLOUR);
    std::snprintf(text, sizeof text, "step (%llu)", static_cast<unsigned long long>(chart.steps));
    add_legend_text(legend, 16, text);
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"10\" height=\"12\" fill=\"%s\" fill-opacity=\"0.6\"/>\n",
                 legend.x, legend.y - 10, GAP_COLOUR);
    add_legend_text(legend, 16, "samples missing");
    write_line(out, legend.x, legend.y - 11, legend.x, legend.y + 2, RUN_COLOUR, 1.2, "3 3");
    add_legend_text(legend, 6, "a new run starts");
    std::fputs("</g>\n", out);
}

void write_heading(std::FILE *out, const ChartData &chart, const char *title_name) {
    std::fputs("<title>tickwatch log ", out);
    write_xml_text(out, title_name);
    std::fputs("</title>\n", out);
    std::fprintf(out,
                 "<text id=\"title\" x=\"%d\" y=\"26\" font-size=\"18\" font-weight=\"bold\" fill=\"%s\">"
                 "tickwatch log ",
                 PLOT_LEFT, TEXT_COLOUR);
    write_xml_text(out, title_name);
    std::fputs("</text>\n", out);
    if (chart.samples == 0) {
        return;
    }
    char first[ISO_TIME_SIZE];
    char last[ISO_TIME_SIZE];
    char span[64];
    format_iso_time(first, sizeof first, chart.first_ms);
    format_iso_time(last, sizeof last, chart.last_ms);
    format_duration(span, sizeof span, chart.last_ms - chart.first_ms);
    char subtitle[256];
    const int length = std::snprintf(
        subtitle, sizeof subtitle, "%s to %s (%s): %llu sample%s in %d run%s, %llu step%s", first, last, span,
        static_cast<unsigned long long>(chart.samples), chart.samples == 1 ? "" : "s", static_cast<int>(chart.runs),
        chart.runs == 1 ? "" : "s", static_cast<unsigned long long>(chart.steps), chart.steps == 1 ? "" : "s");
    if (chart.untimed_samples > 0 && length > 0 && static_cast<size_t>(length) < sizeof subtitle) {
        std::snprintf(subtitle + length, sizeof subtitle - static_cast<size_t>(length), "; %llu at unknown times",
                      static_cast<unsigned long long>(chart.untimed_samples));
    }
    write_text(out, PLOT_LEFT, 46, "start", 13, "#495057", subtitle);
}

}  // namespace

namespace {

// The difference chart's panels, without the <svg> around them.
void write_difference_content(std::FILE *out, const ChartData &chart, const char *title_name) {
    static Columns columns;  // too large for the stack
    gather_columns(chart, columns);
    write_heading(out, chart, title_name);
    if (chart.samples == 0) {
        write_text(out, WIDTH / 2.0, HEIGHT / 2.0, "middle", 16, TEXT_COLOUR,
                   chart.untimed_samples > 0 ? "no sample with a known time" : "no report lines");
        return;
    }
    write_legend(out, chart);
    write_gaps(out, columns, chart);
    static const int panel_edges[] = {DIFFERENCE_TOP, DIFFERENCE_TOP + DIFFERENCE_HEIGHT, SLEW_TOP,
                                      SLEW_TOP + SLEW_HEIGHT, 0};
    write_time_axis(out, "time-axis", chart, SLEW_TOP + SLEW_HEIGHT, panel_edges);
    write_difference_panel(out, columns, chart, difference_scale(columns));
    write_slew_panel(out, columns, chart);
    write_run_separators(out, columns);
    write_frame(out, "difference-frame", FRAME_LEFT, DIFFERENCE_TOP, FRAME_WIDTH, DIFFERENCE_HEIGHT);
    write_frame(out, "adjustment-frame", FRAME_LEFT, SLEW_TOP, FRAME_WIDTH, SLEW_HEIGHT);
}

// The frequency view and the detrended time error: a panel under a legend,
// over a time axis, each from `top` down.
constexpr int FREQUENCY_HEIGHT = 400;
constexpr int VIEW_PANEL_OFFSET = 56;
constexpr int VIEW_PANEL_HEIGHT = 270;
const char *const RATE_COLOUR = "#1c64b4";
const char *const OFFSET_COLOUR = "#e8590c";
const char *const SPEEDING_COLOUR = "#2b8a3e";
const char *const SLOWING_COLOUR = "#1971c2";

// Widens [low, high] to what the columns hold: their slew, or their mean.
void widen_to_columns(const Columns &columns, bool slew, double &low, double &high) {
    for (const ChartBucket &c : columns.column) {
        if (slew && c.samples > 0 && c.has_slew) {
            low = std::fmin(low, c.slew_min_ppm);
            high = std::fmax(high, c.slew_max_ppm);
        } else if (!slew && c.mean_samples > 0) {
            const double value = c.mean_sum / c.mean_samples;
            low = std::fmin(low, value);
            high = std::fmax(high, value);
        }
    }
}

void write_frequency_content(std::FILE *out, int top, const ChartData &chart, const ChartData &rate,
                             const FrequencyFigures &frequency) {
    static Columns measured;
    static Columns commanded;
    gather_columns_on(rate, chart, measured);
    gather_columns(chart, commanded);
    const int panel_top = top + VIEW_PANEL_OFFSET;
    // One scale for the measured, the commanded and the fitted.
    double low = frequency.has_offset ? frequency.offset_ppm : 0.0;
    double high = low;
    widen_to_columns(measured, false, low, high);
    widen_to_columns(commanded, true, low, high);
    double step = 0;
    const Scale scale = linear_scale(low, high, panel_top, VIEW_PANEL_HEIGHT, step);
    std::fputs("<g id=\"frequency-view\">\n", out);
    write_text(out, PLOT_LEFT, top + 22, "start", 15, TEXT_COLOUR, "Frequency: measured rate and commanded slew");
    Legend legend = {out, PLOT_LEFT, top + 44};
    add_legend_line(legend, RATE_COLOUR, 2, "", "measured rate, mean per column (steps left out)");
    add_legend_line(legend, SLEW_COLOUR, 2, "", "commanded slew");
    char text[96];
    if (frequency.has_offset) {
        std::snprintf(text, sizeof text, "fitted frequency offset %+.4f ppm", frequency.offset_ppm);
        add_legend_line(legend, OFFSET_COLOUR, 1.5, "6 4", text);
    }
    const int edges[] = {panel_top, panel_top + VIEW_PANEL_HEIGHT, 0};
    write_time_axis(out, "frequency-time-axis", chart, panel_top + VIEW_PANEL_HEIGHT, edges);
    std::fputs("<g id=\"frequency-axis\">\n", out);
    write_linear_ticks(out, scale, step);
    write_vertical_title(out, 24, panel_top + VIEW_PANEL_HEIGHT / 2, "rate, ppm");
    std::fputs("</g>\n", out);
    write_band(out, commanded, scale, Band::slew, column_ms(chart), "commanded-slew", SLEW_COLOUR);
    write_band(out, measured, scale, Band::value_mean, column_ms(chart), "measured-rate", RATE_COLOUR);
    if (frequency.has_offset) {
        std::fputs("<g id=\"fitted-offset\">", out);
        write_grid_line(out, y_of(scale, frequency.offset_ppm), OFFSET_COLOUR, "6 4");
        std::fputs("</g>\n", out);
    }
    write_frame(out, "frequency-frame", FRAME_LEFT, panel_top, FRAME_WIDTH, VIEW_PANEL_HEIGHT);
    std::fputs("</g>\n", out);
}

}  // namespace

void format_title(char *title, size_t size, const AnalysisSnapshot &snapshot) {
    if (snapshot.log_count == 1) {
        std::snprintf(title, size, "%s", snapshot.log_names[0]);
    } else {
        std::snprintf(title, size, "%s and %d more", snapshot.log_names[0], snapshot.log_count - 1);
    }
}

void write_difference_chart(std::FILE *out, const ChartData &chart, const char *title_name, bool standalone) {
    begin_svg(out, WIDTH, HEIGHT, standalone);
    write_difference_content(out, chart, title_name);
    end_svg(out);
}

void write_svg_chart(std::FILE *out, const AnalysisSnapshot &snapshot) {
    const ChartData &chart = *snapshot.difference_chart;
    char title[TITLE_SIZE];
    format_title(title, sizeof title, snapshot);
    begin_svg(out, WIDTH, HEIGHT + FREQUENCY_HEIGHT, true);
    write_difference_content(out, chart, title);
    if (chart.samples > 0) {
        write_frequency_content(out, HEIGHT, chart, *snapshot.rate_chart, snapshot.figures->frequency);
    }
    end_svg(out);
}

void write_phase_chart(std::FILE *out, const ChartData &phase) {
    static Columns columns;
    gather_columns(phase, columns);
    begin_svg(out, WIDTH, PHASE_HEIGHT, false);
    if (phase.samples == 0) {
        write_text(out, WIDTH / 2.0, PHASE_HEIGHT / 2.0, "middle", 16, TEXT_COLOUR, "no segments");
        end_svg(out);
        return;
    }
    Legend legend = {out, PLOT_LEFT, 30};
    std::fputs("<g id=\"phase-legend\" font-size=\"12\">\n", out);
    add_legend_line(legend, PHASE_COLOUR, 2, "", "time error, lowest to highest per column");
    if (phase.samples > PLOT_COLUMNS) {
        add_legend_line(legend, MEAN_COLOUR, 2, "", "mean");
    }
    char text[64];
    std::snprintf(text, sizeof text, "step: a new segment (%llu)", static_cast<unsigned long long>(phase.steps));
    add_legend_line(legend, STEP_COLOUR, 1.5, "4 3", text);
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"10\" height=\"12\" fill=\"%s\" fill-opacity=\"0.6\"/>\n",
                 legend.x, legend.y - 10, GAP_COLOUR);
    add_legend_text(legend, 16, "samples missing: the time error runs on across");
    std::fputs("</g>\n", out);
    static const int panels[][2] = {{PHASE_TOP, PHASE_PANEL_HEIGHT}};
    write_gap_bands(out, columns, phase, panels, 1, "phase-gaps");

    double low = 0;
    double high = 0;
    for (const ChartBucket &c : columns.column) {
        if (c.samples > 0) {
            low = std::fmin(low, c.difference_min);
            high = std::fmax(high, c.difference_max);
        }
    }
    double step = 0;
    const Scale scale = linear_scale(low, high, PHASE_TOP, PHASE_PANEL_HEIGHT, step);
    static const int panel_edges[] = {PHASE_TOP, PHASE_TOP + PHASE_PANEL_HEIGHT, 0};
    write_time_axis(out, "phase-time-axis", phase, PHASE_TOP + PHASE_PANEL_HEIGHT, panel_edges);
    std::fputs("<g id=\"phase-axis\">\n", out);
    write_linear_ticks(out, scale, step);
    write_vertical_title(out, 24, PHASE_TOP + PHASE_PANEL_HEIGHT / 2, "time error, ms");
    std::fputs("</g>\n", out);
    write_band(out, columns, scale, Band::value, column_ms(phase), "phase", PHASE_COLOUR);
    if (phase.samples > PLOT_COLUMNS) {
        write_band(out, columns, scale, Band::value_mean, column_ms(phase), "phase-mean", MEAN_COLOUR);
    }
    std::fputs("<g id=\"phase-steps\">\n", out);
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        const ChartBucket &c = columns.column[i];
        if (c.steps > 0) {
            std::fprintf(out,
                         "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" stroke-width=\"1.5\" "
                         "stroke-dasharray=\"4 3\"><title>%u step(s): the time error starts again from 0</title>"
                         "</line>\n",
                         x_of_column(i), PHASE_TOP, x_of_column(i), PHASE_TOP + PHASE_PANEL_HEIGHT, STEP_COLOUR,
                         c.steps);
        }
    }
    std::fputs("</g>\n", out);
    write_frame(out, "phase-frame", FRAME_LEFT, PHASE_TOP, FRAME_WIDTH, PHASE_PANEL_HEIGHT);
    end_svg(out);
}

void write_frequency_chart(std::FILE *out, const ChartData &chart, const ChartData &rate,
                           const FrequencyFigures &frequency) {
    begin_svg(out, WIDTH, FREQUENCY_HEIGHT, false);
    if (chart.samples == 0) {
        write_text(out, WIDTH / 2.0, FREQUENCY_HEIGHT / 2.0, "middle", 16, TEXT_COLOUR, "no sample with a known time");
    } else {
        write_frequency_content(out, 0, chart, rate, frequency);
    }
    end_svg(out);
}

void write_detrended_chart(std::FILE *out, const ChartData &chart, const ChartData &phase, const ChartData &phase_time,
                           const FrequencyFigures &frequency) {
    static Columns points;
    static Columns times;
    static Columns samples;
    gather_columns(phase, points);
    gather_columns(phase_time, times);
    gather_columns_on(chart, phase, samples);
    begin_svg(out, WIDTH, FREQUENCY_HEIGHT, false);
    if (phase.samples == 0 || !frequency.has_offset) {
        write_text(out, WIDTH / 2.0, FREQUENCY_HEIGHT / 2.0, "middle", 16, TEXT_COLOUR,
                   phase.samples == 0 ? "no segments" : "no frequency offset fitted");
        end_svg(out);
        return;
    }
    // The mean of x - f t over a column is the mean of x less f times the
    // mean of t: exact, whatever the column holds.
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        ChartBucket &c = points.column[i];
        if (c.mean_samples > 0 && times.column[i].mean_samples == c.mean_samples) {
            const double t_s = times.column[i].mean_sum / c.mean_samples;
            c.mean_sum -= frequency.offset_ppm * 1e-3 * t_s * c.mean_samples;
        }
    }
    const int panel_top = VIEW_PANEL_OFFSET;
    double low = 0;
    double high = 0;
    widen_to_columns(points, false, low, high);
    double step = 0;
    const Scale scale = linear_scale(low, high, panel_top, VIEW_PANEL_HEIGHT, step);
    Legend legend = {out, PLOT_LEFT, 44};
    std::fputs("<g id=\"detrended-legend\" font-size=\"12\">\n", out);
    char text[128];
    std::snprintf(text, sizeof text, "time error less %+.4f ppm, mean per column", frequency.offset_ppm);
    add_legend_line(legend, PHASE_COLOUR, 2, "", text);
    write_line(out, legend.x, legend.y - 11, legend.x, legend.y + 2, STEP_COLOUR, 1.2, "2 2");
    add_legend_text(legend, 6, "step");
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"10\" height=\"12\" fill=\"%s\" fill-opacity=\"0.6\"/>\n",
                 legend.x, legend.y - 10, GAP_COLOUR);
    add_legend_text(legend, 16, "samples missing");
    std::fputs("</g>\n", out);
    const int edges[] = {panel_top, panel_top + VIEW_PANEL_HEIGHT, 0};
    write_time_axis(out, "detrended-time-axis", phase, panel_top + VIEW_PANEL_HEIGHT, edges);
    std::fputs("<g id=\"detrended-axis\">\n", out);
    write_linear_ticks(out, scale, step);
    write_vertical_title(out, 24, panel_top + VIEW_PANEL_HEIGHT / 2, "detrended time error, ms");
    std::fputs("</g>\n<g id=\"detrended-breaks\">\n", out);
    // Where steps crowd, their dots alone: lines through every column
    // would hide the curve.
    int step_columns = 0;
    for (const ChartBucket &c : samples.column) {
        step_columns += c.steps > 0 ? 1 : 0;
    }
    const bool step_lines = step_columns <= PLOT_COLUMNS / 20;
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        const ChartBucket &c = samples.column[i];
        if (c.gaps > 0) {
            const double from = x_of_time(phase, c.gap_from_ms);
            const double width = std::fmax(x_of_time(phase, c.gap_to_ms) - from, 2.0);
            std::fprintf(out,
                         "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\" fill-opacity=\"0.6\">"
                         "<title>%u gap(s): samples missing</title></rect>\n",
                         from - (width > 2 ? 0 : 1), panel_top, width, VIEW_PANEL_HEIGHT, GAP_COLOUR, c.gaps);
        }
        if (c.steps > 0) {
            const double x = x_of_column(i);
            if (step_lines) {
                write_line(out, x, panel_top, x, panel_top + VIEW_PANEL_HEIGHT, STEP_COLOUR, 1.2, "2 2");
            }
            std::fprintf(out,
                         "<circle cx=\"%.1f\" cy=\"%d\" r=\"3.5\" fill=\"%s\"><title>%u step(s), largest %+.4f "
                         "ms</title></circle>\n",
                         x, panel_top + PLOT_PADDING, STEP_COLOUR, c.steps, c.step_difference);
        }
    }
    std::fputs("</g>\n", out);
    write_band(out, points, scale, Band::value_mean, column_ms(phase), "detrended", PHASE_COLOUR);
    write_frame(out, "detrended-frame", FRAME_LEFT, panel_top, FRAME_WIDTH, VIEW_PANEL_HEIGHT);
    end_svg(out);
}

void write_episode_timeline(std::FILE *out, const ChartData &chart, const TimelineRun *runs, int run_count) {
    constexpr int LANE = 30;
    constexpr int LANES_TOP = 40;
    const int count = run_count > 0 ? run_count : 1;
    const int height = LANES_TOP + count * LANE + 60;
    begin_svg(out, WIDTH, height, false);
    if (chart.samples == 0) {
        write_text(out, WIDTH / 2.0, height / 2.0, "middle", 16, TEXT_COLOUR, "no sample with a known time");
        end_svg(out);
        return;
    }
    Legend legend = {out, PLOT_LEFT, 24};
    std::fputs("<g id=\"timeline-legend\" font-size=\"12\">\n", out);
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"18\" height=\"10\" fill=\"%s\"/>\n", legend.x, legend.y - 9,
                 SPEEDING_COLOUR);
    add_legend_text(legend, 24, "slew speeding the clock");
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"18\" height=\"10\" fill=\"%s\"/>\n", legend.x, legend.y - 9,
                 SLOWING_COLOUR);
    add_legend_text(legend, 24, "slew slowing it (label: commanded ms)");
    std::fprintf(out, "<circle cx=\"%.1f\" cy=\"%d\" r=\"5\" fill=\"%s\"/>\n", legend.x + 6, legend.y - 4, STEP_COLOUR);
    add_legend_text(legend, 16, "step, larger for a larger step");
    std::fputs("</g>\n", out);
    const int bottom = LANES_TOP + count * LANE;
    const int edges[] = {LANES_TOP, bottom, 0};
    write_time_axis(out, "timeline-time-axis", chart, bottom, edges);
    std::fputs("<g id=\"timeline\">\n", out);
    for (int r = 0; r < run_count; ++r) {
        const int middle = LANES_TOP + r * LANE + LANE / 2;
        char label[32];
        std::snprintf(label, sizeof label, "run %d", static_cast<int>(runs[r].number));
        write_text(out, FRAME_LEFT - 6, middle + 4, "end", 12, TEXT_COLOUR, label);
        write_line(out, FRAME_LEFT, middle, FRAME_LEFT + FRAME_WIDTH, middle, GRID_COLOUR, 1, "");
        const RunEpisodes &episodes = *runs[r].episodes;
        for (int k = 0; k < episodes.kept_count; ++k) {
            const Episode &e = episodes.kept[k];
            if (e.start_utc_ms == UNKNOWN_TIME_MS) {
                continue;
            }
            char from[ISO_TIME_SIZE];
            format_iso_time(from, sizeof from, e.start_utc_ms);
            if (e.kind == EpisodeKind::step) {
                const double radius = std::fmin(3 + 1.5 * std::log10(1 + std::fabs(e.measured_ms)), 9.0);
                std::fprintf(out,
                             "<circle cx=\"%.1f\" cy=\"%d\" r=\"%.1f\" fill=\"%s\" fill-opacity=\"0.8\"><title>step "
                             "at %s: %+.4f ms</title></circle>\n",
                             x_of_time(chart, e.start_utc_ms), middle, radius, STEP_COLOUR, from, e.measured_ms);
                continue;
            }
            const double left = x_of_time(chart, e.start_utc_ms);
            const double width = std::fmax(x_of_time(chart, e.end_utc_ms) - left, 2.0);
            std::fprintf(out,
                         "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"14\" fill=\"%s\" fill-opacity=\"0.8\">"
                         "<title>slew from %s, %.3f s at %+.3f ppm: commanded %+.4f ms, measured %+.4f ms, residual "
                         "%+.4f ms</title></rect>\n",
                         left - (width > 2 ? 0 : 1), middle - 7, width,
                         e.commanded_ms >= 0 ? SPEEDING_COLOUR : SLOWING_COLOUR, from, duration_s(e), slew_ppm(e),
                         e.commanded_ms, e.measured_ms, residual_ms(e));
            char size[32];
            std::snprintf(size, sizeof size, "%+.2f ms", e.commanded_ms);
            if (text_width(size, 10) + 4 < width) {
                std::fprintf(
                    out,
                    "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" font-size=\"10\" fill=\"#ffffff\">%s</text>\n",
                    left + width / 2, middle + 4, size);
            }
        }
    }
    std::fputs("</g>\n", out);
    write_frame(out, "timeline-frame", FRAME_LEFT, LANES_TOP, FRAME_WIDTH, bottom - LANES_TOP);
    end_svg(out);
}
