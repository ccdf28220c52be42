// The charts over time besides the difference chart: the frequency view,
// the time error per segment and less the fitted offset, and the episodes
// along the time axis.
#include <cmath>
#include <memory>

#include "analyze/parse/utc_time.h"
#include "analyze/report/number_text.h"
#include "analyze/report/palette.h"
#include "analyze/report/svg_chart.h"
#include "analyze/report/svg_time_axis.h"

namespace {

// The time error per segment: a panel under a legend, over a time axis.
constexpr int PHASE_HEIGHT = 420;
constexpr int PHASE_TOP = 60;
constexpr int PHASE_PANEL_HEIGHT = 300;
// The frequency view and the detrended time error: a panel under a legend,
// over a time axis, each from its top down (FREQUENCY_HEIGHT).
constexpr int VIEW_PANEL_OFFSET = 56;
constexpr int VIEW_PANEL_HEIGHT = 270;

constexpr const char *RATE_COLOUR = BLUE;
constexpr const char *OFFSET_COLOUR = ORANGE;
constexpr const char *SPEEDING_COLOUR = DEEP_GREEN;  // white labels on it
constexpr const char *SLOWING_COLOUR = CLEAR_BLUE;

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

}  // namespace

void write_frequency_view(std::FILE *out, int top, const ChartData &chart, const ChartData &rate,
                          const FrequencyFigures &frequency, const ChartSegments *segments) {
    const std::unique_ptr<Columns> measured = gather_columns_on(rate, chart);
    const std::unique_ptr<Columns> commanded = gather_columns(chart);
    const int panel_top = top + VIEW_PANEL_OFFSET;
    // One scale for the measured, the commanded and the fitted.
    double low = frequency.has_offset ? frequency.offset_ppm : 0.0;
    double high = low;
    widen_to_columns(*measured, false, low, high);
    widen_to_columns(*commanded, true, low, high);
    const int segment_count = segments != nullptr ? segments->count : 0;
    for (int i = 0; i < segment_count; ++i) {
        low = std::fmin(low, segments->segment[i].offset_ppm);
        high = std::fmax(high, segments->segment[i].offset_ppm);
    }
    double step = 0;
    const Scale scale = linear_scale(low, high, panel_top, VIEW_PANEL_HEIGHT, step);
    std::fputs("<g id=\"frequency-view\">\n", out);
    write_text(out, PLOT_LEFT, top + 22, "start", 15, TEXT_COLOUR, "Frequency: measured rate and commanded slew");
    Legend legend = {out, PLOT_LEFT, top + 44};
    add_legend_line(legend, RATE_COLOUR, 2, "", "measured rate, mean per column (steps left out)");
    add_legend_line(legend, SLEW_COLOUR, 2, "", "commanded slew");
    char text[96];
    if (frequency.has_offset) {
        char offset[NUMBER_TEXT_SIZE];
        *put_fixed_to_uncertainty(offset, frequency.offset_ppm, known_uncertainty_ppm(frequency), 4, true) = '\0';
        const char *caveat = offset_caveat(frequency, false);
        std::snprintf(text, sizeof text, "fitted offset %s ppm%s%s", offset, *caveat != '\0' ? ", " : "", caveat);
        add_legend_line(legend, OFFSET_COLOUR, 1.5, "6 4", text);
    }
    if (segment_count > 1) {
        add_legend_line(legend, OFFSET_COLOUR, 3, "", "each segment's (faint: not significant)");
    }
    write_panel_axes(out, "frequency", chart, scale, step, "rate, ppm");
    write_band(out, *commanded, scale, Band::slew, column_ms(chart), "commanded-slew", SLEW_COLOUR);
    write_band(out, *measured, scale, Band::value_mean, column_ms(chart), "measured-rate", RATE_COLOUR);
    if (frequency.has_offset) {
        std::fputs("<g id=\"fitted-offset\">", out);
        write_grid_line(out, y_of(scale, frequency.offset_ppm), OFFSET_COLOUR, "6 4");
        std::fputs("</g>\n", out);
    }
    if (segment_count > 1) {
        std::fputs("<g id=\"segment-offsets\">\n", out);
        for (int i = 0; i < segment_count; ++i) {
            const ChartSegment &s = segments->segment[i];
            const double y = y_of(scale, s.offset_ppm);
            // Faint where it means little.
            std::fprintf(out,
                         "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"3\" "
                         "stroke-opacity=\"%s\" stroke-linecap=\"square\"><title>segment's fitted offset %+.4g "
                         "ppm%s%s</title></line>\n",
                         x_of_time(chart, s.start_ms), y, x_of_time(chart, s.end_ms), y, OFFSET_COLOUR,
                         s.significant ? "1" : "0.35", s.offset_ppm, s.slewed ? ", fitted across slews" : "",
                         s.significant ? "" : ", not significant");
        }
        std::fputs("</g>\n", out);
    }
    write_frame(out, "frequency-frame", FRAME_LEFT, panel_top, FRAME_WIDTH, VIEW_PANEL_HEIGHT);
    std::fputs("</g>\n", out);
}

void write_phase_chart(std::FILE *out, const ChartData &phase) {
    if (!begin_time_chart(out, PHASE_HEIGHT, "The time error of each segment against time, in ms",
                          phase.samples == 0 ? "no segments" : nullptr)) {
        return;
    }
    const std::unique_ptr<Columns> columns = gather_columns(phase);
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
    const Panel panel = {PHASE_TOP, PHASE_PANEL_HEIGHT};
    write_gap_bands(out, *columns, phase, &panel, 1, "phase-gaps");

    double low = 0;
    double high = 0;
    for (const ChartBucket &c : columns->column) {
        if (c.samples > 0) {
            low = std::fmin(low, c.difference_min);
            high = std::fmax(high, c.difference_max);
        }
    }
    double step = 0;
    const Scale scale = linear_scale(low, high, PHASE_TOP, PHASE_PANEL_HEIGHT, step);
    write_panel_axes(out, "phase", phase, scale, step, "time error, ms");
    write_band(out, *columns, scale, Band::value, column_ms(phase), "phase", PHASE_COLOUR);
    if (phase.samples > PLOT_COLUMNS) {
        write_band(out, *columns, scale, Band::value_mean, column_ms(phase), "phase-mean", MEAN_COLOUR);
    }
    std::fputs("<g id=\"phase-steps\">\n", out);
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        const ChartBucket &c = columns->column[i];
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
                           const FrequencyFigures &frequency, const ChartSegments *segments) {
    if (!begin_time_chart(out, FREQUENCY_HEIGHT,
                          "The clock's measured rate and the commanded slew against time, in ppm, with the fitted "
                          "frequency offset",
                          chart.samples == 0 ? "no sample with a known time" : nullptr)) {
        return;
    }
    write_frequency_view(out, 0, chart, rate, frequency, segments);
    end_svg(out);
}

void write_detrended_chart(std::FILE *out, const ChartData &chart, const ChartData &phase, const ChartData &phase_time,
                           const FrequencyFigures &frequency, const ChartSegments *segments) {
    const char *empty = phase.samples == 0 ? "no segments" : nullptr;
    empty = empty == nullptr && !frequency.has_offset ? "no frequency offset fitted" : empty;
    if (!begin_time_chart(out, FREQUENCY_HEIGHT, "The time error less the fitted frequency offset against time, in ms",
                          empty)) {
        return;
    }
    const std::unique_ptr<Columns> points = gather_columns(phase);
    const std::unique_ptr<Columns> times = gather_columns(phase_time);
    const std::unique_ptr<Columns> samples = gather_columns_on(chart, phase);
    // The mean of x - f t over a column is the mean of x less f times the
    // mean of t: exact where the column lies in one segment (f its own,
    // where significant, else 0: a slope that means little would draw
    // ramps of its own; a column across a boundary takes the segment
    // that overlaps it most).
    const double per_column_ms = column_ms(phase);
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        ChartBucket &c = points->column[i];
        if (c.mean_samples > 0 && times->column[i].mean_samples == c.mean_samples) {
            const double t_s = times->column[i].mean_sum / c.mean_samples;
            const auto from_ms = phase.first_ms + static_cast<int64_t>(std::llround((i - 0.5) * per_column_ms));
            const auto to_ms = phase.first_ms + static_cast<int64_t>(std::llround((i + 0.5) * per_column_ms));
            const ChartSegment *segment = segments != nullptr ? segment_at(*segments, from_ms, to_ms) : nullptr;
            const double offset_ppm = segment == nullptr     ? frequency.offset_ppm
                                      : segment->significant ? segment->offset_ppm
                                                             : 0.0;
            c.mean_sum -= offset_ppm * 1e-3 * t_s * c.mean_samples;
        }
    }
    const int panel_top = VIEW_PANEL_OFFSET;
    double low = 0;
    double high = 0;
    widen_to_columns(*points, false, low, high);
    double step = 0;
    const Scale scale = linear_scale(low, high, panel_top, VIEW_PANEL_HEIGHT, step);
    Legend legend = {out, PLOT_LEFT, 44};
    std::fputs("<g id=\"detrended-legend\" font-size=\"12\">\n", out);
    char text[128];
    if (segments != nullptr && segments->count > 1) {
        std::snprintf(text, sizeof text, "time error less each segment's significant offset, mean per column");
    } else {
        // One segment: its offset taken off only where significant, as above.
        char offset[NUMBER_TEXT_SIZE];
        *put_fixed_to_uncertainty(offset, frequency.offset_ppm, known_uncertainty_ppm(frequency), 4, true) = '\0';
        const bool taken_off = segments == nullptr || segments->count == 0 || segments->segment[0].significant;
        std::snprintf(text, sizeof text,
                      taken_off ? "time error less %s ppm, mean per column"
                                : "time error, mean per column (its offset, %s ppm, not significant: not taken off)",
                      offset);
    }
    add_legend_line(legend, PHASE_COLOUR, 2, "", text);
    write_line(out, legend.x, legend.y - 11, legend.x, legend.y + 2, STEP_COLOUR, 1.2, "2 2");
    add_legend_text(legend, 6, "step");
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"10\" height=\"12\" fill=\"%s\" fill-opacity=\"0.6\"/>\n",
                 legend.x, legend.y - 10, GAP_COLOUR);
    add_legend_text(legend, 16, "samples missing");
    std::fputs("</g>\n", out);
    write_panel_axes(out, "detrended", phase, scale, step, "detrended time error, ms");
    std::fputs("<g id=\"detrended-breaks\">\n", out);
    // Where steps crowd, their dots alone: lines through every column
    // would hide the curve.
    int step_columns = 0;
    for (const ChartBucket &c : samples->column) {
        step_columns += c.steps > 0 ? 1 : 0;
    }
    const bool step_lines = step_columns <= PLOT_COLUMNS / 20;
    for (int i = 0; i < PLOT_COLUMNS; ++i) {
        const ChartBucket &c = samples->column[i];
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
    write_band(out, *points, scale, Band::value_mean, column_ms(phase), "detrended", PHASE_COLOUR);
    write_frame(out, "detrended-frame", FRAME_LEFT, panel_top, FRAME_WIDTH, VIEW_PANEL_HEIGHT);
    end_svg(out);
}

void write_episode_timeline(std::FILE *out, const ChartData &chart, const TimelineRun *runs, int run_count) {
    constexpr int LANE = 30;
    constexpr int LANES_TOP = 40;
    const int count = run_count > 0 ? run_count : 1;
    const int height = LANES_TOP + count * LANE + 60;
    if (!begin_time_chart(out, height, "Each run's steps and slews along the time axis",
                          chart.samples == 0 ? "no sample with a known time" : nullptr)) {
        return;
    }
    Legend legend = {out, PLOT_LEFT, 24};
    std::fputs("<g id=\"timeline-legend\" font-size=\"12\">\n", out);
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"18\" height=\"10\" fill=\"%s\"/>\n", legend.x, legend.y - 9,
                 SPEEDING_COLOUR);
    add_legend_text(legend, 24, "slew speeding the clock");
    std::fprintf(out, "<rect x=\"%.1f\" y=\"%d\" width=\"18\" height=\"10\" fill=\"%s\"/>\n", legend.x, legend.y - 9,
                 SLOWING_COLOUR);
    add_legend_text(legend, 24, "slew slowing it");
    std::fprintf(out, "<circle cx=\"%.1f\" cy=\"%d\" r=\"5\" fill=\"%s\"/>\n", legend.x + 6, legend.y - 4, STEP_COLOUR);
    add_legend_text(legend, 16, "step, larger for a larger step");
    add_legend_text(legend, 0, "hover over one for its figures (a wide slew shows its commanded ms)");
    std::fputs("</g>\n", out);
    const int bottom = LANES_TOP + count * LANE;
    const Panel lanes = {LANES_TOP, bottom - LANES_TOP};
    write_time_axis(out, "timeline-time-axis", chart, &lanes, 1);
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
                    out, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" font-size=\"10\" fill=\"%s\">%s</text>\n",
                    left + width / 2, middle + 4, WHITE, size);
            }
        }
    }
    std::fputs("</g>\n", out);
    write_frame(out, "timeline-frame", FRAME_LEFT, LANES_TOP, FRAME_WIDTH, bottom - LANES_TOP);
    end_svg(out);
}
