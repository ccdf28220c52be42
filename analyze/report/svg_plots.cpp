#include "analyze/report/svg_plots.h"

#include <cmath>
#include <initializer_list>
#include <iterator>

#include "analyze/report/escape.h"
#include "analyze/report/number_text.h"
#include "analyze/report/palette.h"
#include "analyze/report/svg_drawing.h"

namespace {

constexpr int WIDTH = 1200;
constexpr int HEIGHT = 480;
constexpr int LEFT = 110;
constexpr int TOP = 50;
constexpr int PLOT_WIDTH = 1050;
constexpr int PLOT_HEIGHT = 360;

constexpr const char *OADEV_COLOUR = BLUE;
constexpr const char *MDEV_COLOUR = ORANGE;
constexpr const char *HDEV_COLOUR = GREEN;
constexpr const char *BAR_COLOUR = BLUE;
// Each file compared, in turn.
constexpr const char *FILE_COLOURS[] = {BLUE, ORANGE, GREEN, GRAPE, RED, TEAL, LIME, PURPLE};

// A log scale over whole decades, padded as the frames are.
struct LogScale {
    int low_decade, high_decade;
    int from, size;  // pixels: from the low end, towards the high
};

double along(const LogScale &scale, double value) {
    const double share = (std::log10(value) - scale.low_decade) / (scale.high_decade - scale.low_decade);
    const double padding = scale.size < 0 ? -PLOT_PADDING : PLOT_PADDING;
    return scale.from + padding + share * (scale.size - 2 * padding);
}

void format_power(char *buffer, size_t size, int decade) {
    if (decade >= 0 && decade <= 3) {
        std::snprintf(buffer, size, "%.0f", power_of_ten(decade));
    } else {
        std::snprintf(buffer, size, "1e%d", decade);
    }
}

void write_plot_legend(std::FILE *out, const char *colour, double x, const char *text, bool square) {
    write_line(out, x, TOP - 16, x + 24, TOP - 16, colour, 2, "");
    if (square) {
        std::fprintf(out, R"(<rect x="%.1f" y="%d" width="7" height="7" fill="%s"/>)", x + 8.5, TOP - 20, colour);
    } else {
        std::fprintf(out, R"(<circle cx="%.1f" cy="%d" r="4" fill="%s"/>)", x + 12, TOP - 16, colour);
    }
    std::fputc('\n', out);
    write_text(out, x + 30, TOP - 12, "start", 12, TEXT_COLOUR, text);
}

enum class Deviation { oadev, mdev, hdev };
constexpr const char *DEVIATION_NAMES[] = {"OADEV", "MDEV", "HDEV"};

struct DeviationValue {
    bool known;
    double value, low, high;  // low, high: NaN without an interval
};

DeviationValue value_of(const StabilityPoint &p, Deviation deviation) {
    switch (deviation) {
    case Deviation::mdev:
        return {p.has_mdev, p.mdev, p.mdev_low, p.mdev_high};
    case Deviation::hdev:
        return {p.has_hdev, p.hdev, p.hdev_low, p.hdev_high};
    case Deviation::oadev:
        break;
    }
    return {true, p.oadev, p.oadev_low, p.oadev_high};
}

// One deviation against τ, as a line through its points, each with a bar
// over its 68 % interval.
void write_deviation(std::FILE *out, const StabilityPoint *points, int count, Deviation deviation, const LogScale &x,
                     const LogScale &y, const char *colour, const char *id) {
    const auto which = static_cast<int>(deviation);
    std::fprintf(out, R"(<g id="%s" fill="%s">)", id, colour);
    std::fputs("\n<path fill=\"none\" stroke-width=\"1.5\" d=\"", out);
    bool drawing = false;
    for (int i = 0; i < count; ++i) {
        const DeviationValue v = value_of(points[i], deviation);
        // A τ that only a few segments reach is not joined to the rest.
        if (!v.known || !(v.value > 0) || points[i].share < STABILITY_MIN_SHARE) {
            drawing = false;
            continue;
        }
        std::fprintf(out, "%c%.1f %.1f", drawing ? 'L' : 'M', along(x, points[i].tau_s), along(y, v.value));
        drawing = true;
    }
    std::fprintf(out, "\" stroke=\"%s\"/>\n", colour);
    for (int i = 0; i < count; ++i) {
        const DeviationValue v = value_of(points[i], deviation);
        if (!v.known || !(v.value > 0)) {
            continue;
        }
        // Apart by a few pixels, so that the three bars of a τ show.
        const double cx = along(x, points[i].tau_s) + (which - 1) * 4.0;
        const double cy = along(y, v.value);
        if (v.low > 0 && v.high > 0) {
            std::fprintf(out, R"(<path class="interval" d="M%.1f %.1fV%.1fM%.1f %.1fh6M%.1f %.1fh6" stroke="%s"/>)", cx,
                         along(y, v.low), along(y, v.high), cx - 3, along(y, v.low), cx - 3, along(y, v.high), colour);
        }
        // Hollow where few: of the segments long enough, not of the whole.
        char hollow[64] = "";
        const bool few = points[i].share < STABILITY_MIN_SHARE;
        if (few) {
            std::snprintf(hollow, sizeof hollow, R"( class="few" fill="#fff" stroke="%s")", colour);
        }
        if (deviation == Deviation::mdev) {
            std::fprintf(out, R"(<rect x="%.1f" y="%.1f" width="7" height="7"%s>)", cx - 3.5, cy - 3.5, hollow);
        } else if (deviation == Deviation::hdev) {
            std::fprintf(out, R"(<path d="M%.1f %.1fl4 7h-8z"%s>)", cx, cy - 4.5, hollow);
        } else {
            std::fprintf(out, R"(<circle cx="%.1f" cy="%.1f" r="4"%s>)", cx, cy, hollow);
        }
        std::fprintf(out, "<title>\xcf\x84 %.5g s: %s %.4g", points[i].tau_s, DEVIATION_NAMES[which], v.value);
        if (v.low > 0 && v.high > 0) {
            std::fprintf(out, " (68 %%: %.3g to %.3g)", v.low, v.high);
        }
        if (few) {
            std::fprintf(out, ", from %.0f %% of the points: the segments long enough for it",
                         std::floor(points[i].share * 100));
        }
        std::fprintf(out, ", n %llu</title>%s\n", static_cast<unsigned long long>(points[i].n),
                     deviation == Deviation::mdev   ? "</rect>"
                     : deviation == Deviation::hdev ? "</path>"
                                                    : "</circle>");
    }
    std::fputs("</g>\n", out);
}

// A deviation plot's log-log axes in a group of its own: the decades of τ
// and of the deviation, and with minor_lines 2 to 9 times each where there
// is room for them.
void write_deviation_axes(std::FILE *out, const char *group_id, const LogScale &x, const LogScale &y, bool minor_lines,
                          const char *y_title) {
    std::fprintf(out, "<g id=\"%s\">\n", group_id);
    char label[32];
    for (int d = x.low_decade; d <= x.high_decade; ++d) {
        const double at = along(x, power_of_ten(d));
        write_line(out, at, TOP, at, TOP + PLOT_HEIGHT, AXIS_COLOUR, 1, "");
        for (int k = 2; k <= 9 && minor_lines && d < x.high_decade; ++k) {
            const double minor = along(x, k * power_of_ten(d));
            write_line(out, minor, TOP, minor, TOP + PLOT_HEIGHT, GRID_COLOUR, 1, "");
        }
        format_power(label, sizeof label, d);
        write_text(out, at, TOP + PLOT_HEIGHT + 20, "middle", 12, TEXT_COLOUR, label);
    }
    // At most about eight labelled decades, however wide the range.
    const int every = (y.high_decade - y.low_decade + 7) / 8;
    for (int d = y.low_decade; d <= y.high_decade; d += every) {
        const double at = along(y, power_of_ten(d));
        write_line(out, LEFT - PLOT_PADDING, at, LEFT + PLOT_WIDTH + PLOT_PADDING, at, AXIS_COLOUR, 1, "");
        for (int k = 2; k <= 9 && minor_lines && d < y.high_decade && y.high_decade - y.low_decade <= 6; ++k) {
            const double minor = along(y, k * power_of_ten(d));
            write_line(out, LEFT - PLOT_PADDING, minor, LEFT + PLOT_WIDTH + PLOT_PADDING, minor, GRID_COLOUR, 1, "");
        }
        format_power(label, sizeof label, d);
        write_text(out, LEFT - PLOT_PADDING - 6, at + 4, "end", 12, TEXT_COLOUR, label);
    }
    write_text(out, LEFT + PLOT_WIDTH / 2.0, TOP + PLOT_HEIGHT + 44, "middle", 13, TEXT_COLOUR,
               "averaging time \xcf\x84, s (log scale)");
    write_vertical_title(out, 24, TOP + PLOT_HEIGHT / 2, y_title);
    std::fputs("</g>\n", out);
}

}  // namespace

void write_stability_plot(std::FILE *out, const StabilityPoint *points, int count) {
    begin_svg(out, WIDTH, HEIGHT, false,
              "The Allan, modified Allan, Hadamard and time deviations against the averaging time, on log scales");
    double low = 0;
    double high = 0;
    for (int i = 0; i < count; ++i) {
        for (const Deviation deviation : {Deviation::oadev, Deviation::mdev, Deviation::hdev}) {
            const DeviationValue v = value_of(points[i], deviation);
            for (const double value : {v.value, v.low, v.high}) {
                if (v.known && value > 0) {
                    low = low > 0 ? std::fmin(low, value) : value;
                    high = std::fmax(high, value);
                }
            }
        }
    }
    if (!(high > 0)) {
        write_text(out, WIDTH / 2.0, HEIGHT / 2.0, "middle", 16, TEXT_COLOUR,
                   count == 0 ? "no segment long enough for a τ of 1 s" : "no variation: every deviation is 0");
        end_svg(out);
        return;
    }
    // (τ0 a hair under 1 s keeps to the decade from 1.)
    const int first_decade = static_cast<int>(std::floor(std::log10(points[0].tau_s) + 1e-3));
    const int last_decade = static_cast<int>(std::ceil(std::log10(points[count - 1].tau_s) - 1e-3));
    const LogScale x = {first_decade, last_decade + (last_decade == first_decade ? 1 : 0), LEFT - PLOT_PADDING,
                        PLOT_WIDTH + 2 * PLOT_PADDING};
    int low_decade = static_cast<int>(std::floor(std::log10(low)));
    int high_decade = static_cast<int>(std::ceil(std::log10(high)));
    high_decade += high_decade == low_decade ? 1 : 0;
    // Upwards on the page: from the bottom, by negative pixels.
    const LogScale y = {low_decade, high_decade, TOP + PLOT_HEIGHT, -PLOT_HEIGHT};
    write_deviation_axes(out, "stability-axes", x, y, true, "deviation (log scale)");
    std::fputs("<g id=\"stability-legend\">\n", out);
    write_plot_legend(out, OADEV_COLOUR, LEFT, "overlapping Allan deviation (OADEV)", false);
    write_plot_legend(out, MDEV_COLOUR, LEFT + 320, "modified Allan deviation (MDEV)", true);
    write_plot_legend(out, HDEV_COLOUR, LEFT + 620, "overlapping Hadamard deviation (HDEV)", true);
    std::fputs("</g>\n", out);
    write_deviation(out, points, count, Deviation::oadev, x, y, OADEV_COLOUR, "oadev");
    write_deviation(out, points, count, Deviation::mdev, x, y, MDEV_COLOUR, "mdev");
    write_deviation(out, points, count, Deviation::hdev, x, y, HDEV_COLOUR, "hdev");
    write_frame(out, "stability-frame", LEFT - PLOT_PADDING, TOP, PLOT_WIDTH + 2 * PLOT_PADDING, PLOT_HEIGHT);
    end_svg(out);
}

void write_difference_histogram(std::FILE *out, const DifferenceCounts &counts) {
    begin_svg(out, WIDTH, HEIGHT, false, "How many lines without a step have each difference, in ms");
    const DifferenceHistogram h = difference_histogram(counts);
    if (h.bins == 0) {
        write_text(out, WIDTH / 2.0, HEIGHT / 2.0, "middle", 16, TEXT_COLOUR,
                   "no difference within \xc2\xb1"
                   "20 ms");
        end_svg(out);
        return;
    }
    const int start = h.start;
    const int width = h.width;
    const int bins = h.bins;
    const uint64_t *bin_counts = h.counts;
    uint64_t largest = 0;
    for (int b = 0; b < bins; ++b) {
        largest = bin_counts[b] > largest ? bin_counts[b] : largest;
    }
    // Counts are whole: a step below 1 would label 0, 0, 1, 1.
    const double step = std::fmax(1.0, nice_step(static_cast<double>(largest)));
    const auto count_ticks = static_cast<int>(std::ceil(static_cast<double>(largest) / step));
    const double top_count = count_ticks * step;
    const Scale scale = {0, top_count, TOP, PLOT_HEIGHT};
    const double low_ms = histogram_low_ms(h);
    const double bin_ms = histogram_bin_ms(h);
    const double pixels_per_ms = (PLOT_WIDTH - 2 * PLOT_PADDING) / (bins * bin_ms);
    auto x_of = [&](double ms) { return LEFT + PLOT_PADDING + (ms - low_ms) * pixels_per_ms; };

    std::fputs("<g id=\"histogram-axes\">\n", out);
    char label[48];
    for (int i = 0; i <= count_ticks; ++i) {
        const double value = i * step;
        write_line(out, LEFT - PLOT_PADDING, y_of(scale, value), LEFT + PLOT_WIDTH + PLOT_PADDING, y_of(scale, value),
                   GRID_COLOUR, 1, "");
        std::snprintf(label, sizeof label, "%.0f", value);
        write_text(out, LEFT - PLOT_PADDING - 6, y_of(scale, value) + 4, "end", 12, TEXT_COLOUR, label);
    }
    const double high_ms = low_ms + bins * bin_ms;
    const double tick = nice_step(high_ms - low_ms);
    for (auto i = static_cast<int>(std::ceil(low_ms / tick)); i * tick <= high_ms; ++i) {
        const double shown = static_cast<double>(i) * tick;
        write_line(out, x_of(shown), TOP + PLOT_HEIGHT, x_of(shown), TOP + PLOT_HEIGHT + 5, FRAME_COLOUR, 1, "");
        std::snprintf(label, sizeof label, "%+g", shown);
        write_text(out, x_of(shown), TOP + PLOT_HEIGHT + 20, "middle", 12, TEXT_COLOUR, shown == 0 ? "0" : label);
    }
    std::snprintf(label, sizeof label, "difference, ms (bins of %g ms)", bin_ms);
    write_text(out, LEFT + PLOT_WIDTH / 2.0, TOP + PLOT_HEIGHT + 44, "middle", 13, TEXT_COLOUR, label);
    write_vertical_title(out, 24, TOP + PLOT_HEIGHT / 2, "samples");
    std::fputs("</g>\n<g id=\"histogram\">\n", out);
    for (int b = 0; b < bins; ++b) {
        if (bin_counts[b] == 0) {
            continue;
        }
        const double from = low_ms + b * bin_ms;
        const double y = y_of(scale, static_cast<double>(bin_counts[b]));
        std::fprintf(out, R"(<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"><title>)", x_of(from) + 0.5,
                     y, std::fmax(bin_ms * pixels_per_ms - 1, 1.0), y_of(scale, 0) - y, BAR_COLOUR);
        // The values the bin holds, by their printed value.
        const int first_index = start + b * width;
        std::fprintf(out, "%+.4f", difference_of_index(first_index));
        if (width > 1) {
            std::fprintf(out, " to %+.4f", difference_of_index(first_index + width - 1));
        }
        std::fprintf(out, " ms: %llu</title></rect>", static_cast<unsigned long long>(bin_counts[b]));
        std::fputc('\n', out);
    }
    std::fputs("</g>\n", out);
    std::snprintf(label, sizeof label, "%llu below and %llu above the range drawn",
                  static_cast<unsigned long long>(h.outside_below), static_cast<unsigned long long>(h.outside_above));
    write_text(out, LEFT + PLOT_WIDTH, TOP - 12, "end", 12, TEXT_COLOUR, label);
    write_frame(out, "histogram-frame", LEFT - PLOT_PADDING, TOP, PLOT_WIDTH + 2 * PLOT_PADDING, PLOT_HEIGHT);
    end_svg(out);
}

const char *file_colour(int index) { return FILE_COLOURS[static_cast<size_t>(index) % std::size(FILE_COLOURS)]; }

namespace {

void write_file_legend(std::FILE *out, const FileSummary *files, int count) {
    double x = LEFT;
    for (int i = 0; i < count; ++i) {
        char label[64];
        std::snprintf(label, sizeof label, "file %d", i + 1);
        write_line(out, x, TOP - 16, x + 24, TOP - 16, file_colour(i), 2.5, "");
        write_text(out, x + 30, TOP - 12, "start", 12, TEXT_COLOUR, label);
        std::fprintf(out, "<title>");
        write_xml_text(out, files[i].name);
        std::fputs("</title>\n", out);
        x += 30 + text_width(label, 12) + 14;
    }
}

}  // namespace

void write_stability_comparison(std::FILE *out, const FileSummary *files, int count) {
    begin_svg(out, WIDTH, HEIGHT, false, "Each file's overlapping Allan deviation against the averaging time");
    double low = 0;
    double high = 0;
    double longest = 1;
    for (int f = 0; f < count; ++f) {
        for (int i = 0; i < files[f].figures.stability_count; ++i) {
            const StabilityPoint &p = files[f].figures.stability[i];
            if (p.oadev > 0) {
                low = low > 0 ? std::fmin(low, p.oadev) : p.oadev;
                high = std::fmax(high, p.oadev);
                longest = std::fmax(longest, p.tau_s);
            }
        }
    }
    if (!(high > 0)) {
        write_text(out, WIDTH / 2.0, HEIGHT / 2.0, "middle", 16, TEXT_COLOUR, "no file has an OADEV above 0");
        end_svg(out);
        return;
    }
    const int high_tau_decade = static_cast<int>(std::ceil(std::log10(longest)));
    const LogScale x = {0, high_tau_decade > 0 ? high_tau_decade : 1, LEFT - PLOT_PADDING,
                        PLOT_WIDTH + 2 * PLOT_PADDING};
    const int low_decade = static_cast<int>(std::floor(std::log10(low)));
    int high_decade = static_cast<int>(std::ceil(std::log10(high)));
    high_decade += high_decade == low_decade ? 1 : 0;
    const LogScale y = {low_decade, high_decade, TOP + PLOT_HEIGHT, -PLOT_HEIGHT};
    write_deviation_axes(out, "comparison-stability-axes", x, y, false, "OADEV (log scale)");
    std::fputs("<g id=\"comparison-stability-legend\">\n", out);
    write_file_legend(out, files, count);
    std::fputs("</g>\n", out);
    for (int f = 0; f < count; ++f) {
        // Each file's own curve: the same drawing as the single plot's.
        char id[32];
        std::snprintf(id, sizeof id, "comparison-oadev-%d", f + 1);
        write_deviation(out, files[f].figures.stability, files[f].figures.stability_count, Deviation::oadev, x, y,
                        file_colour(f), id);
    }
    write_frame(out, "comparison-stability-frame", LEFT - PLOT_PADDING, TOP, PLOT_WIDTH + 2 * PLOT_PADDING,
                PLOT_HEIGHT);
    end_svg(out);
}

void write_distribution_comparison(std::FILE *out, const FileSummary *files, int count) {
    begin_svg(out, WIDTH, HEIGHT, false, "Each file's share of lines per ms of difference");
    // Each file's histogram as a density, the share of its kept lines per
    // ms, so that files of any length and bin width compare.
    double low = 0;
    double high = 0;
    double top_density = 0;
    bool any = false;
    for (int f = 0; f < count; ++f) {
        const DifferenceHistogram &h = files[f].histogram;
        if (h.bins == 0) {
            continue;
        }
        const double from = histogram_low_ms(h);
        const double to = from + h.bins * histogram_bin_ms(h);
        low = any ? std::fmin(low, from) : from;
        high = any ? std::fmax(high, to) : to;
        any = true;
        for (int b = 0; b < h.bins; ++b) {
            top_density = std::fmax(top_density, static_cast<double>(h.counts[b]) / static_cast<double>(h.kept) /
                                                     histogram_bin_ms(h));
        }
    }
    if (!any) {
        write_text(out, WIDTH / 2.0, HEIGHT / 2.0, "middle", 16, TEXT_COLOUR,
                   "no difference within \xc2\xb1"
                   "20 ms");
        end_svg(out);
        return;
    }
    const double step = nice_step(top_density);
    const Scale scale = {0, std::ceil(top_density / step) * step, TOP, PLOT_HEIGHT};
    const double pixels_per_ms = (PLOT_WIDTH - 2 * PLOT_PADDING) / (high - low);
    auto x_of = [&](double ms) { return LEFT + PLOT_PADDING + (ms - low) * pixels_per_ms; };
    std::fputs("<g id=\"comparison-distribution-axes\">\n", out);
    char label[48];
    for (int i = 0; i * step <= scale.high + step / 2; ++i) {
        const double y = y_of(scale, i * step);
        write_line(out, LEFT - PLOT_PADDING, y, LEFT + PLOT_WIDTH + PLOT_PADDING, y, GRID_COLOUR, 1, "");
        std::snprintf(label, sizeof label, "%g", i * step);
        write_text(out, LEFT - PLOT_PADDING - 6, y + 4, "end", 12, TEXT_COLOUR, label);
    }
    const double tick = nice_step(high - low);
    for (auto i = static_cast<long long>(std::ceil(low / tick)); static_cast<double>(i) * tick <= high; ++i) {
        const double shown = static_cast<double>(i) * tick;
        write_line(out, x_of(shown), TOP + PLOT_HEIGHT, x_of(shown), TOP + PLOT_HEIGHT + 5, FRAME_COLOUR, 1, "");
        std::snprintf(label, sizeof label, "%+g", shown);
        write_text(out, x_of(shown), TOP + PLOT_HEIGHT + 20, "middle", 12, TEXT_COLOUR, i == 0 ? "0" : label);
    }
    write_text(out, LEFT + PLOT_WIDTH / 2.0, TOP + PLOT_HEIGHT + 44, "middle", 13, TEXT_COLOUR, "difference, ms");
    write_vertical_title(out, 24, TOP + PLOT_HEIGHT / 2, "share of the file's lines per ms");
    std::fputs("</g>\n<g id=\"comparison-distribution-legend\">\n", out);
    write_file_legend(out, files, count);
    std::fputs("</g>\n", out);
    for (int f = 0; f < count; ++f) {
        const DifferenceHistogram &h = files[f].histogram;
        if (h.bins == 0) {
            continue;
        }
        // A step outline over the file's bins, down to 0 at either end.
        std::fprintf(out, R"(<path id="comparison-distribution-%d" fill="none" stroke="%s" stroke-width="1.8" d=")",
                     f + 1, file_colour(f));
        const double bin_ms = histogram_bin_ms(h);
        double x = x_of(histogram_low_ms(h));
        std::fprintf(out, "M%.1f %.1f", x, y_of(scale, 0));
        for (int b = 0; b < h.bins; ++b) {
            const double density = static_cast<double>(h.counts[b]) / static_cast<double>(h.kept) / bin_ms;
            const double y = y_of(scale, density);
            std::fprintf(out, "L%.1f %.1f", x, y);
            x = x_of(histogram_low_ms(h) + (b + 1) * bin_ms);
            std::fprintf(out, "L%.1f %.1f", x, y);
        }
        std::fprintf(out, "L%.1f %.1f\"/>\n", x, y_of(scale, 0));
    }
    write_frame(out, "comparison-distribution-frame", LEFT - PLOT_PADDING, TOP, PLOT_WIDTH + 2 * PLOT_PADDING,
                PLOT_HEIGHT);
    end_svg(out);
}
