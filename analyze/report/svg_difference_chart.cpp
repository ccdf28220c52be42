// The difference chart: the difference per sample with the thresholds, the
// steps, the gaps and the runs, and under it the adjustment's slew rate.
#include <cmath>
#include <memory>

#include "analyze/parse/utc_time.h"
#include "analyze/report/escape.h"
#include "analyze/report/number_text.h"
#include "analyze/report/palette.h"
#include "analyze/report/svg_chart.h"
#include "analyze/report/svg_drawing.h"
#include "analyze/report/svg_time_axis.h"
#include "clock/log_format.h"

namespace {

// The difference panel over the slew panel, under the title and the legend.
constexpr int HEIGHT = 736;
constexpr int DIFFERENCE_TOP = 100;
constexpr int DIFFERENCE_HEIGHT = 360;
constexpr int SLEW_TOP = 512;
constexpr int SLEW_HEIGHT = 150;
constexpr Panel PANELS[] = {{DIFFERENCE_TOP, DIFFERENCE_HEIGHT}, {SLEW_TOP, SLEW_HEIGHT}};

// A difference for a tick label: "+0.001", "-1000", "+1e6".
void format_difference_tick(char *buffer, size_t size, int sign, int decade) {
    const char *s = sign < 0 ? "-" : "+";
    if (decade < 0) {
        std::snprintf(buffer, size, "%s%.*f", s, -decade, power_of_ten(decade));
    } else if (decade <= 4) {
        std::snprintf(buffer, size, "%s%.0f", s, power_of_ten(decade));
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
            const double y = y_of(scale, scaled_difference(sign * power_of_ten(decade)));
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
    std::fprintf(out, "</g>\n<g id=\"threshold-labels\" stroke=\"%s\" stroke-width=\"3\" paint-order=\"stroke\">\n",
                 WHITE);
    for (int sign = -1; sign <= 1; sign += 2) {
        const double y = y_of(scale, scaled_difference(sign * MARKER_THRESHOLD_MS));
        char label[32];
        std::snprintf(label, sizeof label, "%s%.0f ms", sign < 0 ? "\xe2\x88\x92" : "+", MARKER_THRESHOLD_MS);
        write_text(out, PLOT_LEFT + PLOT_COLUMNS - 4, y + (sign > 0 ? 14 : -5), "end", 12, THRESHOLD_LABEL_COLOUR,
                   label);
    }
    std::fputs("</g>\n", out);
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
    write_value_axis(out, "adjustment-axis", scale, step, "adjustment slew, ppm");
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
        for (const Panel &panel : PANELS) {
            write_line(out, x, panel.top, x, panel.top + panel.height, RUN_COLOUR, 1.2, "3 3");
        }
        char label[32];
        std::snprintf(label, sizeof label, "run %d", static_cast<int>(columns.column[i].run_started));
        const double width = text_width(label, 12);
        // Beside the line, on its left at the right edge.
        const bool at_right_edge = x + 3 + width > FRAME_LEFT + FRAME_WIDTH;
        const double left = at_right_edge ? x - 3 - width : x + 3;
        if (left >= last_label_end + 8) {
            write_text(out, at_right_edge ? x - 3 : x + 3, DIFFERENCE_TOP - 6, at_right_edge ? "end" : "start", 12,
                       RUN_LABEL_COLOUR, label);
            last_label_end = left + width;
        }
    }
    std::fputs("</g>\n", out);
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
    write_text(out, PLOT_LEFT, 46, "start", 13, NOTE_COLOUR, subtitle);
}

// The difference chart's panels, without the <svg> around them.
void write_difference_content(std::FILE *out, const ChartData &chart, const char *title_name) {
    const std::unique_ptr<Columns> columns = gather_columns(chart);
    write_heading(out, chart, title_name);
    if (chart.samples == 0) {
        write_text(out, WIDTH / 2.0, HEIGHT / 2.0, "middle", 16, TEXT_COLOUR,
                   chart.untimed_samples > 0 ? "no sample with a known time" : "no report lines");
        return;
    }
    write_legend(out, chart);
    write_gap_bands(out, *columns, chart, PANELS, 2, "gaps");
    write_time_axis(out, "time-axis", chart, PANELS, 2);
    write_difference_panel(out, *columns, chart, difference_scale(*columns));
    write_slew_panel(out, *columns, chart);
    write_run_separators(out, *columns);
    write_frame(out, "difference-frame", FRAME_LEFT, DIFFERENCE_TOP, FRAME_WIDTH, DIFFERENCE_HEIGHT);
    write_frame(out, "adjustment-frame", FRAME_LEFT, SLEW_TOP, FRAME_WIDTH, SLEW_HEIGHT);
}

}  // namespace

void format_title(char *title, size_t size, const AnalysisSnapshot &snapshot) {
    if (snapshot.log_count == 1) {
        std::snprintf(title, size, "%s", snapshot.log_names[0]);
    } else {
        std::snprintf(title, size, "%s and %d more", snapshot.log_names[0], snapshot.log_count - 1);
    }
}

// What the chart shows, for its <title> and a screen reader.
void chart_label(char *label, size_t size, const char *title_name, bool with_frequency) {
    std::snprintf(label, size, "tickwatch log %s: the difference per sample and the slew the adjustment commanded%s",
                  title_name, with_frequency ? ", then the measured rate and the fitted frequency offset" : "");
}

void write_difference_chart(std::FILE *out, const ChartData &chart, const char *title_name, bool standalone) {
    char label[TITLE_SIZE + 160];
    chart_label(label, sizeof label, title_name, false);
    begin_svg(out, WIDTH, HEIGHT, standalone, label);
    write_difference_content(out, chart, title_name);
    end_svg(out);
}

void write_svg_chart(std::FILE *out, const AnalysisSnapshot &snapshot) {
    char title[TITLE_SIZE];
    format_title(title, sizeof title, snapshot);
    char label[TITLE_SIZE + 200];
    if (snapshot.file_charts == nullptr) {
        const ChartData &chart = *snapshot.difference_chart;
        chart_label(label, sizeof label, title, chart.samples > 0);
        begin_svg(out, WIDTH, HEIGHT + FREQUENCY_HEIGHT, true, label);
        write_difference_content(out, chart, title);
        if (chart.samples > 0) {
            write_frequency_view(out, HEIGHT, chart, *snapshot.rate_chart, snapshot.figures->frequency,
                                 snapshot.segments);
        }
        end_svg(out);
        return;
    }
    // Several logs: each its own panels on its own time axis, one under
    // another (logs years apart on one axis would be slivers at its edges).
    constexpr int PANEL_HEIGHT = HEIGHT + FREQUENCY_HEIGHT;
    constexpr int NOTE_HEIGHT = 30;
    const int drawn = snapshot.file_chart_count;
    const int left_out = snapshot.file_count - drawn;
    char named[TITLE_SIZE + 40];
    std::snprintf(named, sizeof named, "%s, each file on its own time axis", title);
    chart_label(label, sizeof label, named, true);
    begin_svg(out, WIDTH, drawn * PANEL_HEIGHT + (left_out > 0 ? NOTE_HEIGHT : 0), true, label);
    for (int i = 0; i < drawn; ++i) {
        const FileCharts &charts = snapshot.file_charts[i];
        const FileSummary &file = snapshot.files[i];
        std::fprintf(out, "<g id=\"file%d\" transform=\"translate(0 %d)\">\n", i + 1, i * PANEL_HEIGHT);
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "file%d-", i + 1);
        write_with_prefixed_ids(out, prefix, [&](std::FILE *to) {
            write_difference_content(to, charts.difference, file.name);
            if (charts.difference.samples > 0) {
                write_frequency_view(to, HEIGHT, charts.difference, charts.rate, file.figures.frequency, charts.shown);
            }
        });
        std::fputs("</g>\n", out);
    }
    if (left_out > 0) {
        char note[96];
        std::snprintf(note, sizeof note, "The first %d files are drawn; the other %d are not.", drawn, left_out);
        write_text(out, PLOT_LEFT, drawn * PANEL_HEIGHT + 20, "start", 13, NOTE_COLOUR, note);
    }
    end_svg(out);
}
