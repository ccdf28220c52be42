#include "analyze/output/svg_chart.h"

#include <cmath>

#include "analyze/accumulate/statistics.h"
#include "analyze/output/escape.h"
#include "analyze/parse/utc_time.h"
#include "clock/report_line.h"

namespace {

// The picture's layout, in pixels.
constexpr int WIDTH = 1200;
constexpr int HEIGHT = 720;
constexpr int PLOT_LEFT = 100;
constexpr int PLOT_COLUMNS = 1060;  // one per pixel column
constexpr int DIFFERENCE_TOP = 84;
constexpr int DIFFERENCE_HEIGHT = 360;
constexpr int SLEW_TOP = 496;
constexpr int SLEW_HEIGHT = 150;

// Differences are drawn on a scale that is linear near 0 and logarithmic
// beyond: a clock a few microseconds off and one stepped by an hour fit the
// same chart, and the thresholds sit in the middle.
constexpr double LINEAR_PART_MS = 0.001;

const char *const DIFFERENCE_COLOUR = "#1c64b4";
const char *const THRESHOLD_COLOUR = "#e8590c";
const char *const STEP_COLOUR = "#c92a2a";
const char *const SLEW_COLOUR = "#2b8a3e";
const char *const RUN_COLOUR = "#868e96";
const char *const GRID_COLOUR = "#e9ecef";
const char *const TEXT_COLOUR = "#212529";

double symlog(double ms) { return std::copysign(std::log10(1.0 + std::fabs(ms) / LINEAR_PART_MS), ms); }

struct Scale {
    double low, high;  // the values at the bottom and the top
    int top, height;
};

double y_of(const Scale &scale, double value) {
    const double clamped = std::fmin(std::fmax(value, scale.low), scale.high);
    return scale.top + (scale.high - clamped) / (scale.high - scale.low) * scale.height;
}

// The buckets gathered into pixel columns.
struct Columns {
    ChartBucket column[PLOT_COLUMNS];
};

void gather_columns(const ChartData &chart, Columns &columns) {
    for (ChartBucket &column : columns.column) {
        column = ChartBucket{};
    }
    const auto span = static_cast<double>(chart.last_ms - chart.first_ms);
    for (int i = 0; i < CHART_BUCKETS; ++i) {
        const ChartBucket &bucket = chart.buckets[i];
        if (bucket.samples == 0) {
            continue;
        }
        double middle = static_cast<double>(chart.origin_ms - chart.first_ms) +
                        (static_cast<double>(i) + 0.5) * static_cast<double>(chart.bucket_ms);
        middle = std::fmin(std::fmax(middle, 0.0), span);
        const int column =
            span > 0 ? static_cast<int>(std::lround(middle / span * (PLOT_COLUMNS - 1))) : PLOT_COLUMNS / 2;
        merge_bucket(columns.column[column], bucket);
    }
}

double x_of_column(int column) { return PLOT_LEFT + column + 0.5; }

// How much time a pixel column stands for.
double column_ms(const ChartData &chart) {
    return static_cast<double>(chart.last_ms - chart.first_ms) / (PLOT_COLUMNS - 1);
}

double x_of_time(const ChartData &chart, int64_t utc_ms) {
    const auto span = static_cast<double>(chart.last_ms - chart.first_ms);
    const double share = span > 0 ? static_cast<double>(utc_ms - chart.first_ms) / span : 0.5;
    return PLOT_LEFT + share * (PLOT_COLUMNS - 1) + 0.5;
}

// One value band per column, as a path. A run start breaks it, and so do
// empty columns, where they stand for more time than samples missing
// (beyond the gap threshold, give or take a column) would leave empty.
void write_band(std::FILE *out, const Columns &columns, const Scale &scale, bool slew, double column_ms, const char *id,
                const char *colour) {
    std::fprintf(out,
                 "<path id=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"1.2\" stroke-linejoin=\"round\" "
                 "stroke-linecap=\"round\" d=\"",
                 id, colour);
    int previous = -1;
    double last_y = 0;
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        const ChartBucket &c = columns.column[i];
        if (c.samples == 0 || (slew && !c.has_slew)) {
            continue;
        }
        const double low = slew ? y_of(scale, c.slew_min_ppm) : y_of(scale, symlog(c.difference_min));
        const double high = slew ? y_of(scale, c.slew_max_ppm) : y_of(scale, symlog(c.difference_max));
        const bool continues = previous >= 0 && c.run_started == 0 &&
                               (i - previous == 1 || (i - previous) * column_ms <= GAP_THRESHOLD_MS + column_ms);
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
}

void write_text(std::FILE *out, double x, double y, const char *anchor, int size, const char *fill,
                const char *content) {
    std::fprintf(out, R"(<text x="%.1f" y="%.1f" text-anchor="%s" font-size="%d" fill="%s">)", x, y, anchor, size,
                 fill);
    write_xml_text(out, content);
    std::fputs("</text>\n", out);
}

void write_horizontal_line(std::FILE *out, double y, const char *colour, const char *dash) {
    std::fprintf(out, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"1\"%s%s%s/>\n",
                 PLOT_LEFT, y, PLOT_LEFT + PLOT_COLUMNS, y, colour, *dash != '\0' ? " stroke-dasharray=\"" : "", dash,
                 *dash != '\0' ? "\"" : "");
}

// A difference for a tick label: "+0.01", "-1000", "+1e6".
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
    // Decade ticks from the linear part up, thinned out when there are many.
    const double top_value = (std::pow(10.0, scale.high) - 1) * LINEAR_PART_MS;
    const int top_decade = static_cast<int>(std::floor(std::log10(top_value)));
    const int first_decade = -2;
    const int every = (top_decade - first_decade) > 6 ? 2 : 1;
    std::fputs("<g id=\"difference-axis\">\n", out);
    write_horizontal_line(out, y_of(scale, 0), "#adb5bd", "");
    write_text(out, PLOT_LEFT - 8, y_of(scale, 0) + 4, "end", 12, TEXT_COLOUR, "0");
    for (int decade = first_decade; decade <= top_decade; decade += every) {
        for (int sign = -1; sign <= 1; sign += 2) {
            const double y = y_of(scale, symlog(sign * std::pow(10.0, decade)));
            char label[32];
            format_difference_tick(label, sizeof label, sign, decade);
            write_horizontal_line(out, y, GRID_COLOUR, "");
            write_text(out, PLOT_LEFT - 8, y + 4, "end", 12, TEXT_COLOUR, label);
        }
    }
    std::fprintf(out,
                 "<text transform=\"translate(24 %d) rotate(-90)\" text-anchor=\"middle\" font-size=\"13\" "
                 "fill=\"%s\">system time \xe2\x88\x92 counter per sample, ms (log scale)</text>\n",
                 DIFFERENCE_TOP + DIFFERENCE_HEIGHT / 2, TEXT_COLOUR);
    std::fputs("</g>\n<g id=\"thresholds\">\n", out);
    for (int sign = -1; sign <= 1; sign += 2) {
        const double y = y_of(scale, symlog(sign * MARKER_THRESHOLD_MS));
        write_horizontal_line(out, y, THRESHOLD_COLOUR, "6 4");
        char label[32];
        std::snprintf(label, sizeof label, "%s%.0f ms", sign < 0 ? "\xe2\x88\x92" : "+", MARKER_THRESHOLD_MS);
        write_text(out, PLOT_LEFT + PLOT_COLUMNS - 4, y - 4, "end", 12, THRESHOLD_COLOUR, label);
    }
    std::fputs("</g>\n", out);

    write_band(out, columns, scale, false, column_ms(chart), "difference", DIFFERENCE_COLOUR);

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
                     x_of_column(i), y_of(scale, symlog(c.step_difference)), STEP_COLOUR, c.steps, when,
                     c.step_difference);
    }
    std::fputs("</g>\n", out);
}

// 1, 2 or 5 times a power of ten, giving about five ticks over the range.
double nice_step(double range) {
    const double rough = range / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double mantissa = rough / power;
    return (mantissa < 1.5 ? 1 : mantissa < 3.5 ? 2 : mantissa < 7.5 ? 5 : 10) * power;
}

void write_slew_panel(std::FILE *out, const Columns &columns, const ChartData &chart, const Scale &scale) {
    std::fputs("<g id=\"adjustment-axis\">\n", out);
    const double step = nice_step(scale.high - scale.low);
    const auto lowest = static_cast<int>(std::ceil(scale.low / step));
    for (int i = lowest; i * step <= scale.high + step / 1000; ++i) {
        const double value = i * step;
        write_horizontal_line(out, y_of(scale, value), value == 0 ? "#adb5bd" : GRID_COLOUR, "");
        char label[32];
        std::snprintf(label, sizeof label, "%+g", value);
        write_text(out, PLOT_LEFT - 8, y_of(scale, value) + 4, "end", 12, TEXT_COLOUR, value == 0 ? "0" : label);
    }
    std::fprintf(out,
                 "<text transform=\"translate(24 %d) rotate(-90)\" text-anchor=\"middle\" font-size=\"13\" "
                 "fill=\"%s\">adjustment slew, ppm</text>\n",
                 SLEW_TOP + SLEW_HEIGHT / 2, TEXT_COLOUR);
    std::fputs("</g>\n", out);
    write_band(out, columns, scale, true, column_ms(chart), "adjustment", SLEW_COLOUR);
}

Scale slew_scale(const Columns &columns) {
    double low = 0;
    double high = 0;
    for (const ChartBucket &c : columns.column) {
        if (c.samples > 0 && c.has_slew) {
            low = std::fmin(low, c.slew_min_ppm);
            high = std::fmax(high, c.slew_max_ppm);
        }
    }
    // Room around the values, and a range at all when they are constant.
    const double margin = std::fmax((high - low) * 0.1, 10.0);
    return Scale{low == 0 ? -margin : low - margin, high == 0 ? margin : high + margin, SLEW_TOP, SLEW_HEIGHT};
}

Scale difference_scale(const Columns &columns) {
    double largest = MARKER_THRESHOLD_MS * 2;
    for (const ChartBucket &c : columns.column) {
        if (c.samples > 0) {
            largest = std::fmax(largest, std::fmax(std::fabs(c.difference_min), std::fabs(c.difference_max)));
        }
    }
    const double top = symlog(largest) + 0.15;
    return Scale{-top, top, DIFFERENCE_TOP, DIFFERENCE_HEIGHT};
}

// Time ticks: the first step that gives at most eight ticks over the span.
void write_time_axis(std::FILE *out, const ChartData &chart) {
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
    std::fputs("<g id=\"time-axis\">\n", out);
    int64_t tick = chart.first_ms / step * step;
    tick += tick < chart.first_ms ? step : 0;
    for (; tick <= chart.last_ms; tick += step) {
        const double x = x_of_time(chart, tick);
        for (int panel = 0; panel < 2; ++panel) {
            const int top = panel == 0 ? DIFFERENCE_TOP : SLEW_TOP;
            const int height = panel == 0 ? DIFFERENCE_HEIGHT : SLEW_HEIGHT;
            std::fprintf(out, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" stroke-width=\"1\"/>\n",
                         x, top, x, top + height, GRID_COLOUR);
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
        write_text(out, x, SLEW_TOP + SLEW_HEIGHT + 20, "middle", 12, TEXT_COLOUR, label);
    }
    const CivilTime first = civil_from_ms(chart.first_ms);
    char title[64];
    std::snprintf(title, sizeof title, "UTC time (from %04lld-%02u-%02u)", static_cast<long long>(first.year),
                  first.month, first.day);
    write_text(out, PLOT_LEFT + PLOT_COLUMNS / 2.0, SLEW_TOP + SLEW_HEIGHT + 46, "middle", 13, TEXT_COLOUR, title);
    std::fputs("</g>\n", out);
}

void write_run_separators(std::FILE *out, const Columns &columns) {
    std::fputs("<g id=\"runs\">\n", out);
    double last_label_x = -1000;
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        if (columns.column[i].run_started == 0) {
            continue;
        }
        const double x = x_of_column(i) - 0.5;
        for (int panel = 0; panel < 2; ++panel) {
            const int top = panel == 0 ? DIFFERENCE_TOP : SLEW_TOP;
            const int height = panel == 0 ? DIFFERENCE_HEIGHT : SLEW_HEIGHT;
            std::fprintf(out,
                         "<line class=\"run-start\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\" "
                         "stroke-width=\"1.2\" stroke-dasharray=\"3 3\"/>\n",
                         x, top, x, top + height, RUN_COLOUR);
        }
        if (x - last_label_x >= 56) {
            char label[32];
            std::snprintf(label, sizeof label, "run %d", static_cast<int>(columns.column[i].run_started));
            // Beside the line, on its left at the right edge.
            const bool at_right_edge = x > PLOT_LEFT + PLOT_COLUMNS - 60;
            write_text(out, at_right_edge ? x - 4 : x + 4, DIFFERENCE_TOP + 14, at_right_edge ? "end" : "start", 12,
                       RUN_COLOUR, label);
            last_label_x = x;
        }
    }
    std::fputs("</g>\n", out);
}

void write_legend(std::FILE *out, const ChartData &chart) {
    const int y = DIFFERENCE_TOP - 14;
    int x = PLOT_LEFT;
    std::fputs("<g id=\"legend\" font-size=\"12\">\n", out);
    std::fprintf(out, "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"2\"/>\n", x, y - 4,
                 x + 18, y - 4, DIFFERENCE_COLOUR);
    write_text(out, x + 24, y, "start", 12, TEXT_COLOUR, "difference (lowest to highest per pixel column)");
    x += 330;
    std::fprintf(out,
                 "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"1\" "
                 "stroke-dasharray=\"6 4\"/>\n",
                 x, y - 4, x + 24, y - 4, THRESHOLD_COLOUR);
    char text[64];
    std::snprintf(text, sizeof text, "\xc2\xb1%.0f ms: marked %s", MARKER_THRESHOLD_MS, STEP_MARKER);
    write_text(out, x + 30, y, "start", 12, TEXT_COLOUR, text);
    x += 170;
    std::fprintf(out, "<circle cx=\"%d\" cy=\"%d\" r=\"4.5\" fill=\"%s\" fill-opacity=\"0.75\"/>\n", x + 6, y - 4,
                 STEP_COLOUR);
    std::snprintf(text, sizeof text, "step (%llu)", static_cast<unsigned long long>(chart.steps));
    write_text(out, x + 16, y, "start", 12, TEXT_COLOUR, text);
    x += 110;
    std::fprintf(out,
                 "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"1.2\" "
                 "stroke-dasharray=\"3 3\"/>\n",
                 x, y - 11, x, y + 2, RUN_COLOUR);
    write_text(out, x + 6, y, "start", 12, TEXT_COLOUR, "a new run starts");
    std::fputs("</g>\n", out);
}

}  // namespace

void write_svg_chart(std::FILE *out, const ChartData &chart, const char *title_name) {
    static Columns columns;  // too large for the stack
    gather_columns(chart, columns);

    std::fprintf(out,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                 "font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n",
                 WIDTH, HEIGHT, WIDTH, HEIGHT);
    std::fputs("<title>tickwatch log ", out);
    write_xml_text(out, title_name);
    std::fputs("</title>\n", out);
    std::fprintf(out, "<rect width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n", WIDTH, HEIGHT);

    std::fprintf(out,
                 "<text id=\"title\" x=\"%d\" y=\"26\" font-size=\"18\" font-weight=\"bold\" fill=\"%s\">"
                 "tickwatch log ",
                 PLOT_LEFT, TEXT_COLOUR);
    write_xml_text(out, title_name);
    std::fputs("</text>\n", out);

    if (chart.samples == 0) {
        write_text(out, WIDTH / 2.0, HEIGHT / 2.0, "middle", 16, TEXT_COLOUR,
                   chart.untimed_samples > 0 ? "no sample with a known time" : "no report lines");
        std::fputs("</svg>\n", out);
        return;
    }
    char first[ISO_TIME_SIZE];
    char last[ISO_TIME_SIZE];
    char span[64];
    format_iso_time(first, sizeof first, chart.first_ms);
    format_iso_time(last, sizeof last, chart.last_ms);
    format_duration(span, sizeof span, chart.last_ms - chart.first_ms);
    char subtitle[256];
    const int length = std::snprintf(subtitle, sizeof subtitle, "%s to %s (%s): %llu samples in %d run%s, %llu step%s",
                                     first, last, span, static_cast<unsigned long long>(chart.samples),
                                     static_cast<int>(chart.runs), chart.runs == 1 ? "" : "s",
                                     static_cast<unsigned long long>(chart.steps), chart.steps == 1 ? "" : "s");
    if (chart.untimed_samples > 0 && length > 0 && static_cast<size_t>(length) < sizeof subtitle) {
        std::snprintf(subtitle + length, sizeof subtitle - static_cast<size_t>(length), "; %llu at unknown times",
                      static_cast<unsigned long long>(chart.untimed_samples));
    }
    write_text(out, PLOT_LEFT, 46, "start", 13, "#495057", subtitle);

    write_legend(out, chart);
    const Scale difference = difference_scale(columns);
    const Scale slew = slew_scale(columns);
    write_time_axis(out, chart);
    write_difference_panel(out, columns, chart, difference);
    write_slew_panel(out, columns, chart, slew);
    write_run_separators(out, columns);
    for (int panel = 0; panel < 2; ++panel) {
        std::fprintf(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#495057\"/>\n",
                     PLOT_LEFT, panel == 0 ? DIFFERENCE_TOP : SLEW_TOP, PLOT_COLUMNS,
                     panel == 0 ? DIFFERENCE_HEIGHT : SLEW_HEIGHT);
    }
    std::fputs("</svg>\n", out);
}
