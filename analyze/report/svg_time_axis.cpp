#include "analyze/report/svg_time_axis.h"

#include <cmath>

#include "analyze/accumulate/statistics.h"
#include "analyze/parse/utc_time.h"
#include "analyze/report/palette.h"

namespace {

// The time ticks' steps, the shortest first.
constexpr int64_t TIME_STEPS_MS[] = {1000,
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

}  // namespace

double scaled_difference(double ms) {
    const double size = std::fabs(ms);
    return size <= LINEAR_PART_MS ? ms / LINEAR_PART_MS : std::copysign(1 + std::log10(size / LINEAR_PART_MS), ms);
}

double difference_of_scaled(double scaled) {
    return scaled <= 1 ? scaled * LINEAR_PART_MS : LINEAR_PART_MS * std::pow(10.0, scaled - 1);
}

std::unique_ptr<Columns> gather_columns_on(const ChartData &values, const ChartData &axis) {
    auto columns = std::make_unique<Columns>();
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
        merge_bucket(columns->column[column], bucket);
    }
    return columns;
}

std::unique_ptr<Columns> gather_columns(const ChartData &chart) { return gather_columns_on(chart, chart); }

double x_of_column(int column) { return PLOT_LEFT + column + 0.5; }

double column_ms(const ChartData &chart) {
    return static_cast<double>(chart.last_ms - chart.first_ms) / (PLOT_COLUMNS - 1);
}

double x_of_time(const ChartData &chart, int64_t utc_ms) {
    const auto span = static_cast<double>(chart.last_ms - chart.first_ms);
    double share = span > 0 ? static_cast<double>(utc_ms - chart.first_ms) / span : 0.5;
    share = std::fmin(std::fmax(share, 0.0), 1.0);
    return PLOT_LEFT + share * (PLOT_COLUMNS - 1) + 0.5;
}

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
    struct Dot {
        double x, y;
    };
    Dot lone[PLOT_COLUMNS];
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
        lone[lone_count] = Dot{x_of_column(i), (low + high) / 2};
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
            std::fprintf(out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\"/>\n", lone[i].x, lone[i].y);
        }
        std::fputs("</g>\n", out);
    }
}

void write_grid_line(std::FILE *out, double y, const char *colour, const char *dash) {
    write_line(out, FRAME_LEFT, y, FRAME_LEFT + FRAME_WIDTH, y, colour, 1, dash);
}

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

void write_value_axis(std::FILE *out, const char *id, const Scale &scale, double step, const char *title) {
    std::fprintf(out, "<g id=\"%s\">\n", id);
    write_linear_ticks(out, scale, step);
    write_vertical_title(out, 24, scale.top + scale.height / 2, title);
    std::fputs("</g>\n", out);
}

void write_time_axis(std::FILE *out, const char *id, const ChartData &chart, const Panel *panels, int panel_count) {
    const int64_t span = chart.last_ms - chart.first_ms;
    int64_t step = TIME_STEPS_MS[0];
    for (const int64_t candidate : TIME_STEPS_MS) {
        step = candidate;
        if (span / candidate <= 8) {
            break;
        }
    }
    const int bottom = panels[panel_count - 1].top + panels[panel_count - 1].height;
    std::fprintf(out, "<g id=\"%s\">\n", id);
    int64_t tick = chart.first_ms / step * step;
    tick += tick < chart.first_ms ? step : 0;
    for (; tick <= chart.last_ms; tick += step) {
        const double x = x_of_time(chart, tick);
        for (int panel = 0; panel < panel_count; ++panel) {
            write_line(out, x, panels[panel].top, x, panels[panel].top + panels[panel].height, GRID_COLOUR, 1, "");
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

void write_panel_axes(std::FILE *out, const char *name, const ChartData &time, const Scale &scale, double step,
                      const char *title) {
    char id[48];
    const Panel panel = {scale.top, scale.height};
    std::snprintf(id, sizeof id, "%s-time-axis", name);
    write_time_axis(out, id, time, &panel, 1);
    std::snprintf(id, sizeof id, "%s-axis", name);
    write_value_axis(out, id, scale, step, title);
}

void write_gap_bands(std::FILE *out, const Columns &columns, const ChartData &chart, const Panel *panels,
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
                         from - (width > 2 ? 0 : 1), panels[panel].top, width, panels[panel].height, GAP_COLOUR,
                         c.gaps);
        }
    }
    std::fputs("</g>\n", out);
}

void add_legend_text(Legend &legend, double indent, const char *text) {
    write_text(legend.out, legend.x + indent, legend.y, "start", 12, TEXT_COLOUR, text);
    legend.x += indent + text_width(text, 12) + 8;
}

void add_legend_line(Legend &legend, const char *colour, double width, const char *dash, const char *text) {
    write_line(legend.out, legend.x, legend.y - 4, legend.x + 20, legend.y - 4, colour, width, dash);
    add_legend_text(legend, 26, text);
}

bool begin_time_chart(std::FILE *out, int height, const char *label, const char *empty_text) {
    begin_svg(out, WIDTH, height, false, label);
    if (empty_text == nullptr) {
        return true;
    }
    write_text(out, WIDTH / 2.0, height / 2.0, "middle", 16, TEXT_COLOUR, empty_text);
    end_svg(out);
    return false;
}
