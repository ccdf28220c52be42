#include "analyze/report/text_summary.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "analyze/parse/utc_time.h"
#include "analyze/report/escape.h"
#include "analyze/report/number_text.h"

void format_span(char *buffer, size_t size, int64_t first_ms, int64_t last_ms, int file_count, const char *note_start,
                 const char *note_end) {
    format_duration(buffer, size, last_ms - first_ms);
    const size_t length = std::strlen(buffer);
    if (file_count > 1 && length < size) {
        std::snprintf(buffer + length, size - length, "%sfirst to last, over %d files%s", note_start, file_count,
                      note_end);
    }
}

void write_setting(std::FILE *out, AdjustmentSetting setting) {
    std::fprintf(out, "%ld (increment %lu, ", static_cast<long>(setting.adjustment),
                 static_cast<unsigned long>(setting.increment));
    double ppm = 0;
    if (slew_rate_ppm(setting, ppm)) {
        std::fprintf(out, "%+.3f ppm)", ppm);
    } else {
        std::fputs("no slew rate)", out);
    }
}

namespace {

void write_percentiles(std::FILE *out, const RunFigures &f) {
    if (!f.has_percentiles) {
        return;
    }
    const Percentiles &p = f.percentiles;
    std::fputs("  percentiles     ", out);
    for (int j = 0; j < PERCENTILE_COUNT; ++j) {
        std::fprintf(out, "%s p%d ", j == 0 ? "" : ",", PERCENTILE_LEVELS[j]);
        if (p.known[j]) {
            std::fprintf(out, "%+.4f", p.ms[j]);
        } else {
            std::fputs(f.percentile_values == 0 ? "none" : "beyond 20 ms", out);
        }
    }
    std::fputs(" ms (regular lines)\n", out);
}

void write_frequency(std::FILE *out, const FrequencyFigures &f) {
    if (!f.has_offset) {
        std::fputs("  frequency        none (no segment of two samples)\n", out);
        return;
    }
    char a_day[64];
    format_ms_a_day(a_day, sizeof a_day, f.offset_ppm);
    char offset[NUMBER_TEXT_SIZE];
    *put_fixed_to_uncertainty(offset, f.offset_ppm, known_uncertainty_ppm(f), 6, true) = '\0';
    std::fprintf(out, "  frequency        offset %s ppm", offset);
    if (f.has_uncertainty) {
        char uncertainty[NUMBER_TEXT_SIZE];
        *put_scientific(uncertainty, f.uncertainty_ppm, 2) = '\0';
        std::fprintf(out, " +- %s ppm (68 %%)", uncertainty);
    }
    std::fprintf(out, ", %s, residual RMS %.6f ms\n", a_day, f.residual_rms_ms);
}

void write_offset_caveat(std::FILE *out, const RunFigures &f) {
    const char *caveat = offset_caveat(f.frequency, f.fitted_across_slews);
    if (f.frequency.has_offset && *caveat != '\0') {
        std::fprintf(out, "                   %s: ", caveat);
        std::fputs(f.fitted_across_slews ? "the time service slewed the clock within the fit, see the segments\n"
                                         : "its 95 % interval holds 0\n",
                   out);
    }
}

// One line a segment, where a run has more than one.
void write_segments(std::FILE *out, const RunFigures &f) {
    if (f.segments < 2) {
        return;
    }
    std::fprintf(out,
                 "  segments         %llu, each fitted apart; OADEV at m = 1, 16, 256\n"
                 "                   begun at    start (UTC)                 points        offset ppm  +- (68 %%)  "
                 "residual ms  OADEV m=1       m=16      m=256\n",
                 static_cast<unsigned long long>(f.segments));
    for (int i = 0; i < f.segment_count; ++i) {
        const SegmentFigures &g = f.segment[i];
        char when[ISO_TIME_SIZE] = "-";
        if (g.start_utc_ms != UNKNOWN_TIME_MS) {
            format_iso_time(when, sizeof when, g.start_utc_ms);
        }
        std::fprintf(out, "                   %-10s  %-24s  %9llu", segment_boundary_name(g.boundary), when,
                     static_cast<unsigned long long>(g.points));
        char offset[NUMBER_TEXT_SIZE] = "-";
        char uncertainty[NUMBER_TEXT_SIZE] = "-";
        char rms[NUMBER_TEXT_SIZE] = "-";
        if (g.frequency.has_offset) {
            *put_fixed_to_uncertainty(offset, g.frequency.offset_ppm, known_uncertainty_ppm(g.frequency), 6, true) =
                '\0';
            std::snprintf(rms, sizeof rms, "%.6f", g.frequency.residual_rms_ms);
        }
        if (g.frequency.has_uncertainty) {
            *put_scientific(uncertainty, g.frequency.uncertainty_ppm, 2) = '\0';
        }
        std::fprintf(out, "  %16s  %9s  %11s", offset, uncertainty, rms);
        for (double oadev : g.oadev) {
            char text[NUMBER_TEXT_SIZE] = "-";
            if (std::isfinite(oadev)) {
                *put_scientific(text, oadev, 2) = '\0';
            }
            std::fprintf(out, "  %9s", text);
        }
        const char *caveat = g.frequency.has_offset ? offset_caveat(g.frequency, g.slewed_lines > 0) : "";
        std::fprintf(out, "%s%s\n", *caveat != '\0' ? "  " : "", caveat);
    }
    if (f.segments > static_cast<uint64_t>(f.segment_count)) {
        std::fprintf(out, "                   and %llu more\n",
                     static_cast<unsigned long long>(f.segments - static_cast<uint64_t>(f.segment_count)));
    }
}

// Every other τ (and the longest) keeps the table short; --json has all,
// with the intervals of every deviation.
void write_stability(std::FILE *out, const RunFigures &f) {
    const StabilityPoint *points = f.stability;
    const int count = f.stability_count;
    if (count == 0) {
        std::fputs("  stability        none (segments too short)\n", out);
        return;
    }
    std::fprintf(out, "  stability        tau0 %.7g s; noise alpha, OADEV with its 68 %% interval\n", f.tau0_s);
    std::fprintf(out, "                 %9s %11s  %5s", "tau s", "n", "alpha");
    for (const char *name : {"OADEV", "68 % low", "high", "MDEV", "TDEV ms", "HDEV", "MTIE ms"}) {
        std::fprintf(out, "  %11s", name);
    }
    std::fputc('\n', out);
    bool any_few = false;
    for (int i = 0; i < count; ++i) {
        if (i % 2 != 0 && i != count - 1) {
            continue;
        }
        const StabilityPoint &point = points[i];
        std::fprintf(out, "                 %9.6g %11llu", point.tau_s, static_cast<unsigned long long>(point.n));
        if (point.alpha != NOISE_UNKNOWN) {
            std::fprintf(out, "  %+5d", point.alpha);
        } else {
            std::fputs("      -", out);
        }
        const bool known[] = {true,
                              std::isfinite(point.oadev_low),
                              std::isfinite(point.oadev_high),
                              point.has_mdev,
                              point.has_mdev,
                              point.has_hdev,
                              true};
        // TDEV and MTIE in ms, as the differences are.
        const double figures[] = {point.oadev,         point.oadev_low, point.oadev_high,   point.mdev,
                                  point.tdev_ns / 1e6, point.hdev,      point.mtie_ns / 1e6};
        // Each to its interval's place, the OADEV's bounds to the OADEV's;
        // MTIE has none.
        const double oadev_uncertainty = interval_uncertainty(point.oadev, point.oadev_low, point.oadev_high);
        const double uncertainties[] = {oadev_uncertainty,
                                        oadev_uncertainty,
                                        oadev_uncertainty,
                                        interval_uncertainty(point.mdev, point.mdev_low, point.mdev_high),
                                        interval_uncertainty(point.tdev_ns, point.tdev_low_ns, point.tdev_high_ns) /
                                            1e6,
                                        interval_uncertainty(point.hdev, point.hdev_low, point.hdev_high),
                                        0};
        for (int j = 0; j < 7; ++j) {
            char text[NUMBER_TEXT_SIZE] = "-";
            if (known[j]) {
                *put_scientific_to_uncertainty(text, figures[j], uncertainties[j], 4) = '\0';
            }
            std::fprintf(out, "  %11s", text);
        }
        if (point.share < STABILITY_MIN_SHARE) {
            std::fprintf(out, "  from %.0f %% of the points *", std::floor(point.share * 100));
            any_few = true;
        }
        std::fputc('\n', out);
    }
    if (any_few) {
        std::fputs("                  * only the few segments long enough for this tau: it tells of them, not of the "
                   "whole\n",
                   out);
    }
}

// file_count: the files s is pooled over.
void write_statistics(std::FILE *out, const RunStatistics &s, const RunFigures &f, bool list_events, int file_count) {
    char first[ISO_TIME_SIZE];
    char last[ISO_TIME_SIZE];
    char span[SPAN_TEXT_SIZE];
    if (s.first_utc_ms == UNKNOWN_TIME_MS) {
        std::fprintf(out, "  samples          %llu, at unknown times\n", static_cast<unsigned long long>(s.samples));
    } else {
        format_iso_time(first, sizeof first, s.first_utc_ms);
        format_iso_time(last, sizeof last, s.last_utc_ms);
        format_span(span, sizeof span, s.first_utc_ms, s.last_utc_ms, file_count);
        std::fprintf(out, "  samples          %llu, %s to %s (%s)\n", static_cast<unsigned long long>(s.samples), first,
                     last, span);
    }
    char covered[64];
    format_duration(covered, sizeof covered, static_cast<int64_t>(std::fmin(s.covered_ms, 9e18)));
    std::fprintf(out, "  time covered     %s by the counter\n", covered);
    std::fprintf(out, "  missing samples  %llu", static_cast<unsigned long long>(s.missing_samples));
    if (s.lost_line_places > 0) {
        std::fprintf(out, ", %llu lost line%s in %llu place%s", static_cast<unsigned long long>(s.lost_samples),
                     s.lost_samples == 1 ? "" : "s", static_cast<unsigned long long>(s.lost_line_places),
                     s.lost_line_places == 1 ? "" : "s");
    }
    if (s.gap_lines > 0) {
        std::fprintf(out, ", %llu in %llu gap line%s (interval beyond %.1f s)",
                     static_cast<unsigned long long>(s.gap_samples), static_cast<unsigned long long>(s.gap_lines),
                     s.gap_lines == 1 ? "" : "s", GAP_THRESHOLD_MS / 1000);
    }
    std::fprintf(out, "\n  steps            %llu", static_cast<unsigned long long>(s.steps));
    if (s.steps > 0) {
        std::fprintf(out, ", together %+.4f ms", s.step_sum_ms);
    }
    std::fputc('\n', out);
    if (list_events) {
        for (int i = 0; i < s.listed_step_count; ++i) {
            char when[ISO_TIME_SIZE];
            format_iso_time(when, sizeof when, s.listed_steps[i].utc_ms);
            std::fprintf(out, "                   %s  %+.4f ms\n", when, s.listed_steps[i].difference_ms);
        }
        if (s.steps > static_cast<uint64_t>(s.listed_step_count)) {
            std::fprintf(out, "                   and %llu more\n",
                         static_cast<unsigned long long>(s.steps - static_cast<uint64_t>(s.listed_step_count)));
        }
    }
    if (f.has_regular_lines) {
        std::fprintf(out, "  difference       mean %+.6f ms, RMS %.6f ms over the %llu regular lines\n",
                     f.difference_mean_ms, f.difference_rms_ms, static_cast<unsigned long long>(s.regular_lines));
    } else {
        std::fputs("  difference       no regular line (no step, gap or short interval)\n", out);
    }
    std::fprintf(out, "                   min %+.4f ms, max %+.4f ms, sum %+.4f ms over all lines\n", s.difference_min,
                 s.difference_max, s.difference_sum);
    write_percentiles(out, f);
    if (f.has_rate) {
        char a_day[64];
        format_ms_a_day(a_day, sizeof a_day, f.rate_ppm);
        std::fprintf(out,
                     "  lines' mean rate %+.3f ppm (%s), their differences over their counter time; single lines "
                     "%+.3f to %+.3f ppm%s\n",
                     f.rate_ppm, a_day, s.rate_min_ppm, s.rate_max_ppm, s.steps > 0 ? " (steps left out)" : "");
    } else {
        std::fputs("  lines' mean rate none (no line without a step)\n", out);
    }
    for (int i = 0; i < s.value_count; ++i) {
        std::fputs(i == 0 ? "  adjustment       " : "                   ", out);
        write_setting(out, s.values[i].setting);
        std::fprintf(out, " in %llu sample%s\n", static_cast<unsigned long long>(s.values[i].samples),
                     s.values[i].samples == 1 ? "" : "s");
    }
    if (s.other_value_samples > 0) {
        std::fprintf(out, "                   other values in %llu sample%s\n",
                     static_cast<unsigned long long>(s.other_value_samples), s.other_value_samples == 1 ? "" : "s");
    }
    std::fprintf(out, "  changes          %llu\n", static_cast<unsigned long long>(s.changes));
    if (list_events) {
        for (int i = 0; i < s.listed_change_count; ++i) {
            const AdjustmentChange &change = s.listed_changes[i];
            char when[ISO_TIME_SIZE];
            format_iso_time(when, sizeof when, change.utc_ms);
            std::fprintf(out, "                   %s  ", when);
            write_setting(out, change.from);
            std::fputs(" -> ", out);
            write_setting(out, change.to);
            std::fputc('\n', out);
        }
        if (s.changes > static_cast<uint64_t>(s.listed_change_count)) {
            std::fprintf(out, "                   and %llu more\n",
                         static_cast<unsigned long long>(s.changes - static_cast<uint64_t>(s.listed_change_count)));
        }
    }
    write_frequency(out, f.frequency);
    write_offset_caveat(out, f);
    if (list_events) {
        write_segments(out, f);
    }
    if (s.runs_paced_apart > 0) {
        std::fprintf(
            out,
            "                   pooled over the runs paced as the first only: %ld run%s paced more than %.1f %% "
            "apart (%llu samples) left out, see each\n",
            static_cast<long>(s.runs_paced_apart), s.runs_paced_apart == 1 ? "" : "s", TAU0_POOLING_TOLERANCE * 100,
            static_cast<unsigned long long>(s.samples_paced_apart));
    }
    write_stability(out, f);
}

void write_episode_totals(std::FILE *out, const EpisodeTotals &t) {
    std::fprintf(out, "  corrections      %llu: %llu step%s, %llu slew%s; commanded %.4f ms in all (sum of sizes)",
                 static_cast<unsigned long long>(episode_count(t)), static_cast<unsigned long long>(t.steps),
                 t.steps == 1 ? "" : "s", static_cast<unsigned long long>(t.slews), t.slews == 1 ? "" : "s",
                 t.commanded_abs_ms);
    if (t.has_slew_residual) {
        std::fprintf(out, ", largest slew residual %+.4f ms", t.largest_slew_residual_ms);
    }
    std::fputc('\n', out);
}

void write_episode_table(std::FILE *out, const RunEpisodes &episodes) {
    // Rounded as shown first: a rounding error short of 0 shows as +0.0000.
    auto shown = [](double ms) { return std::round(ms * 1e4) / 1e4 + 0.0; };
    const int listed = episodes.kept_count < TEXT_LISTED_EPISODES ? episodes.kept_count : TEXT_LISTED_EPISODES;
    if (listed == 0) {
        return;
    }
    std::fputs("                   kind  start (UTC)               duration s     slew ppm  commanded ms   measured "
               "ms   residual ms\n",
               out);
    for (int i = 0; i < listed; ++i) {
        const Episode &e = episodes.kept[i];
        char when[ISO_TIME_SIZE];
        format_iso_time(when, sizeof when, e.start_utc_ms);
        std::fprintf(out, "                   %-4s  %-24s  %10.3f  %+11.3f  %+12.4f  %+12.4f  %+12.4f",
                     e.kind == EpisodeKind::step ? "step" : "slew", when, duration_s(e), slew_ppm(e),
                     shown(e.commanded_ms), shown(e.measured_ms), shown(residual_ms(e)));
        if (e.missing_samples > 0) {
            std::fprintf(out, "  %llu sample%s missing in it", static_cast<unsigned long long>(e.missing_samples),
                         e.missing_samples == 1 ? "" : "s");
        }
        std::fputc('\n', out);
    }
    const uint64_t unlisted = episode_count(episodes.totals) - static_cast<uint64_t>(listed);
    if (unlisted > 0) {
        std::fprintf(out, "                   and %llu more, not listed\n", static_cast<unsigned long long>(unlisted));
    }
}

}  // namespace

void write_run_text(std::FILE *out, const RunRecord &record) {
    const LogRun &run = record.run;
    std::fprintf(out, "Run %ld: ", static_cast<long>(run.number));
    write_terminal_text(out, run.file);
    std::fprintf(out, ", lines %llu to %llu\n", static_cast<unsigned long long>(run.first_line),
                 static_cast<unsigned long long>(run.last_line));
    if (run.statistics.samples == 0) {
        std::fputs("  no samples\n\n", out);
        return;
    }
    write_statistics(out, run.statistics, record.figures, true, 1);
    write_episode_totals(out, record.episodes.totals);
    write_episode_table(out, record.episodes);
    std::fputc('\n', out);
}

namespace {

constexpr int COMPARED_COLUMN = 22;
// Wide enough for the longest label below, "  its uncertainty (68 %), ppm".
constexpr int COMPARED_LABEL = 30;

// One row of the side-by-side table: a label, then a cell per file.
void write_compared_row(std::FILE *out, const AnalysisSnapshot &s, const char *label,
                        void (*cell)(char *text, size_t size, const FileSummary &file)) {
    std::fprintf(out, "  %-*s", COMPARED_LABEL, label);
    for (int i = 0; i < s.file_count; ++i) {
        char text[64] = "-";
        if (s.files[i].statistics.samples > 0) {
            cell(text, sizeof text, s.files[i]);
        }
        std::fprintf(out, "%*s", COMPARED_COLUMN, text);
    }
    std::fputc('\n', out);
}

// The τ of the table's deviations, in τ0: each a row.
constexpr int COMPARED_OADEV_M[] = {1, 64, 1024};
constexpr int COMPARED_MTIE_M = 64;

// Whether a file's deviations at a τ (none: nullptr) come from the few
// segments long enough for it: marked, as in a run's listing.
bool from_few_points(const StabilityPoint *point) { return point != nullptr && point->share < STABILITY_MIN_SHARE; }

void write_deviation_cell(char *text, size_t size, const FileSummary &file, int m, bool mtie) {
    const StabilityPoint *point = stability_at(file, m);
    char *end = text;
    if (point != nullptr && mtie) {
        end = put_scientific(text, point->mtie_ns / 1e6, 3);
    } else if (point != nullptr) {
        end = put_scientific_to_uncertainty(text, point->oadev,
                                            interval_uncertainty(point->oadev, point->oadev_low, point->oadev_high), 3);
    } else {
        std::snprintf(text, size, "-");
        return;
    }
    if (from_few_points(point)) {
        *end++ = ' ';
        *end++ = '*';
    }
    *end = '\0';
}

void write_side_by_side(std::FILE *out, const AnalysisSnapshot &s) {
    std::fputs("Side by side:\n", out);
    for (int i = 0; i < s.file_count; ++i) {
        std::fprintf(out, "  file %d: ", i + 1);
        write_terminal_text(out, s.files[i].name);
        std::fputc('\n', out);
    }
    std::fprintf(out, "  %-*s", COMPARED_LABEL, "");
    for (int i = 0; i < s.file_count; ++i) {
        char heading[32];
        std::snprintf(heading, sizeof heading, "file %d", i + 1);
        std::fprintf(out, "%*s", COMPARED_COLUMN, heading);
    }
    std::fputc('\n', out);
    write_compared_row(out, s, "samples", [](char *t, size_t n, const FileSummary &f) {
        std::snprintf(t, n, "%llu", static_cast<unsigned long long>(f.statistics.samples));
    });
    write_compared_row(out, s, "span", [](char *t, size_t n, const FileSummary &f) {
        if (f.statistics.first_utc_ms != UNKNOWN_TIME_MS) {
            format_duration(t, n, f.statistics.last_utc_ms - f.statistics.first_utc_ms);
        }
    });
    write_compared_row(out, s, "difference RMS, ms", [](char *t, size_t n, const FileSummary &f) {
        if (f.figures.has_regular_lines) {
            std::snprintf(t, n, "%.6f", f.figures.difference_rms_ms);
        }
    });
    write_compared_row(out, s, "difference p99, ms", [](char *t, size_t n, const FileSummary &f) {
        const int p99 = PERCENTILE_COUNT - 1;
        if (f.figures.percentiles.known[p99]) {
            std::snprintf(t, n, "%+.4f", f.figures.percentiles.ms[p99]);
        }
    });
    write_compared_row(out, s, "frequency offset, ppm", [](char *t, size_t n, const FileSummary &f) {
        const FrequencyFigures &frequency = f.figures.frequency;
        if (frequency.has_offset && n >= NUMBER_TEXT_SIZE) {
            *put_fixed_to_uncertainty(t, frequency.offset_ppm, known_uncertainty_ppm(frequency), 4, true) = '\0';
        }
    });
    write_compared_row(out, s, "  its uncertainty (68 %), ppm", [](char *t, size_t, const FileSummary &f) {
        if (f.figures.frequency.has_uncertainty) {
            *put_scientific(t, f.figures.frequency.uncertainty_ppm, 2) = '\0';
        }
    });
    write_compared_row(out, s, "steps", [](char *t, size_t n, const FileSummary &f) {
        std::snprintf(t, n, "%llu", static_cast<unsigned long long>(f.statistics.steps));
    });
    write_compared_row(out, s, "commanded, sum of sizes, ms", [](char *t, size_t n, const FileSummary &f) {
        std::snprintf(t, n, "%.4f", f.episodes.commanded_abs_ms);
    });
    write_compared_row(out, s, "OADEV at tau0", [](char *t, size_t n, const FileSummary &f) {
        write_deviation_cell(t, n, f, COMPARED_OADEV_M[0], false);
    });
    write_compared_row(out, s, "OADEV at 64 tau0", [](char *t, size_t n, const FileSummary &f) {
        write_deviation_cell(t, n, f, COMPARED_OADEV_M[1], false);
    });
    write_compared_row(out, s, "OADEV at 1024 tau0", [](char *t, size_t n, const FileSummary &f) {
        write_deviation_cell(t, n, f, COMPARED_OADEV_M[2], false);
    });
    write_compared_row(out, s, "MTIE at 64 tau0, ms", [](char *t, size_t n, const FileSummary &f) {
        write_deviation_cell(t, n, f, COMPARED_MTIE_M, true);
    });
    bool any_few = false;
    for (int i = 0; i < s.file_count; ++i) {
        for (const int m : COMPARED_OADEV_M) {
            any_few = any_few || (s.files[i].statistics.samples > 0 && from_few_points(stability_at(s.files[i], m)));
        }
    }
    if (any_few) {
        std::fputs("  * only the few segments long enough for this tau: it tells of them, not of the whole file\n",
                   out);
    }
}

}  // namespace

void write_total_text(std::FILE *out, const AnalysisSnapshot &s) {
    const int32_t runs = s.runs;
    std::fprintf(out, "Total: %ld run%s in %d file%s%s", static_cast<long>(runs), runs == 1 ? "" : "s", s.log_count,
                 s.log_count == 1 ? "" : "s", s.log_count > 1 ? ", pooled over every file" : "");
    if (s.unrecognised_lines > 0) {
        std::fprintf(out, ", %llu line%s not understood", static_cast<unsigned long long>(s.unrecognised_lines),
                     s.unrecognised_lines == 1 ? "" : "s");
    }
    if (is_limited(s.window)) {
        std::fprintf(out, ", %llu report line%s outside the window", static_cast<unsigned long long>(s.outside_window),
                     s.outside_window == 1 ? "" : "s");
    }
    std::fputc('\n', out);
    // One run has said it all.
    if (s.total->samples == 0) {
        std::fputs("  no samples\n", out);
    } else if (runs > 1) {
        write_statistics(out, *s.total, *s.figures, false, s.file_count);
        write_episode_totals(out, s.episodes);
    }
    if (s.file_count > 1) {
        std::fputc('\n', out);
        write_side_by_side(out, s);
    }
}
