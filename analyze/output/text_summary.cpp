#include "analyze/output/text_summary.h"

#include <cmath>
#include <initializer_list>

#include "analyze/output/number_text.h"
#include "analyze/parse/utc_time.h"

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

static void write_percentiles(std::FILE *out, const RunStatistics &s) {
    if (s.difference_counts == nullptr) {
        return;
    }
    const Percentiles p = difference_percentiles(*s.difference_counts);
    std::fputs("  percentiles     ", out);
    for (int j = 0; j < PERCENTILE_COUNT; ++j) {
        std::fprintf(out, "%s p%d ", j == 0 ? "" : ",", PERCENTILE_LEVELS[j]);
        if (p.known[j]) {
            std::fprintf(out, "%+.4f", p.ms[j]);
        } else {
            std::fputs(s.difference_counts->values == 0 ? "none" : "beyond 20 ms", out);
        }
    }
    std::fputs(" ms (regular lines)\n", out);
}

static void write_frequency(std::FILE *out, const RunStatistics &s, const StabilityPoint *points, int count) {
    const FrequencyFigures f = phase_frequency(s.phase, points, count);
    if (!f.has_offset) {
        std::fputs("  frequency        none (no segment of two samples)\n", out);
        return;
    }
    std::fprintf(out, "  frequency        offset %+.6f ppm", f.offset_ppm);
    if (f.has_uncertainty) {
        char uncertainty[NUMBER_TEXT_SIZE];
        *put_scientific(uncertainty, f.uncertainty_ppm, 2) = '\0';
        std::fprintf(out, " +- %s ppm (68 %%)", uncertainty);
    }
    std::fprintf(out, ", residual RMS %.6f ms\n", f.residual_rms_ms);
}

// Every other τ (and the longest) keeps the table short; --json has all,
// with the intervals of every deviation.
static void write_stability(std::FILE *out, const RunStatistics &s, const StabilityPoint *points, int count) {
    if (count == 0) {
        std::fputs("  stability        none (segments too short)\n", out);
        return;
    }
    std::fprintf(out, "  stability        tau0 %.7g s; noise alpha, OADEV with its 68 %% interval\n",
                 phase_spacing_s(s.phase));
    std::fprintf(out, "                 %9s %11s  %5s", "tau s", "n", "alpha");
    for (const char *name : {"OADEV", "68 % low", "high", "MDEV", "TDEV ns", "HDEV", "MTIE ns"}) {
        std::fprintf(out, "  %10s", name);
    }
    std::fputc('\n', out);
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
        const double figures[] = {point.oadev,   point.oadev_low, point.oadev_high, point.mdev,
                                  point.tdev_ns, point.hdev,      point.mtie_ns};
        for (int j = 0; j < 7; ++j) {
            char text[NUMBER_TEXT_SIZE] = "-";
            if (known[j]) {
                *put_scientific(text, figures[j], 4) = '\0';
            }
            std::fprintf(out, "  %10s", text);
        }
        std::fputc('\n', out);
    }
}

static void write_statistics(std::FILE *out, const RunStatistics &s, bool list_events) {
    char first[ISO_TIME_SIZE];
    char last[ISO_TIME_SIZE];
    char span[64];
    if (s.first_utc_ms == UNKNOWN_TIME_MS) {
        std::fprintf(out, "  samples          %llu, at unknown times\n", static_cast<unsigned long long>(s.samples));
    } else {
        format_iso_time(first, sizeof first, s.first_utc_ms);
        format_iso_time(last, sizeof last, s.last_utc_ms);
        format_duration(span, sizeof span, s.last_utc_ms - s.first_utc_ms);
        std::fprintf(out, "  samples          %llu, %s to %s (%s)\n", static_cast<unsigned long long>(s.samples), first,
                     last, span);
    }
    char covered[64];
    format_duration(covered, sizeof covered, static_cast<int64_t>(std::fmin(s.covered_ms, 9e18)));
    std::fprintf(out, "  time covered     %s by the counter\n", covered);
    std::fprintf(out, "  missing samples  %llu", static_cast<unsigned long long>(s.missing_samples));
    if (s.gaps > 0) {
        std::fprintf(out, " in %llu gap%s beyond %.1f s", static_cast<unsigned long long>(s.gaps),
                     s.gaps == 1 ? "" : "s", GAP_THRESHOLD_MS / 1000);
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
    if (s.regular_lines > 0) {
        std::fprintf(out, "  difference       mean %+.6f ms, RMS %.6f ms over the %llu regular lines\n",
                     difference_mean(s), difference_rms(s), static_cast<unsigned long long>(s.regular_lines));
    } else {
        std::fputs("  difference       no regular line (no step, gap or short interval)\n", out);
    }
    std::fprintf(out, "                   min %+.4f ms, max %+.4f ms, sum %+.4f ms over all lines\n", s.difference_min,
                 s.difference_max, s.difference_sum);
    write_percentiles(out, s);
    double rate = 0;
    if (run_rate_ppm(s, rate)) {
        std::fprintf(out, "  clock rate       %+.3f ppm; single samples %+.3f to %+.3f ppm%s\n", rate, s.rate_min_ppm,
                     s.rate_max_ppm, s.steps > 0 ? " (steps left out)" : "");
    } else {
        std::fputs("  clock rate       none (no sample without a step)\n", out);
    }
    for (int i = 0; i < s.value_count; ++i) {
        std::fputs(i == 0 ? "  adjustment       " : "                   ", out);
        write_setting(out, s.values[i].setting);
        std::fprintf(out, " in %llu sample%s\n", static_cast<unsigned long long>(s.values[i].samples),
                     s.values[i].samples == 1 ? "" : "s");
    }
    if (s.other_value_samples > 0) {
        std::fprintf(out, "                   other values in %llu samples\n",
                     static_cast<unsigned long long>(s.other_value_samples));
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
    StabilityPoint points[STABILITY_TAUS];
    const int count = list_phase_stability(s.phase, points, StabilityIntervals::oadev);
    write_frequency(out, s, points, count);
    write_stability(out, s, points, count);
}

void write_run_text(std::FILE *out, const LogRun &run) {
    std::fprintf(out, "Run %ld: %s, lines %llu to %llu\n", static_cast<long>(run.number), run.file,
                 static_cast<unsigned long long>(run.first_line), static_cast<unsigned long long>(run.last_line));
    if (run.statistics.samples == 0) {
        std::fputs("  no samples\n\n", out);
        return;
    }
    write_statistics(out, run.statistics, true);
    std::fputc('\n', out);
}

void write_total_text(std::FILE *out, const RunStatistics &total, int32_t runs, int file_count,
                      uint64_t unrecognised_lines) {
    std::fprintf(out, "Total: %ld run%s in %d file%s", static_cast<long>(runs), runs == 1 ? "" : "s", file_count,
                 file_count == 1 ? "" : "s");
    if (unrecognised_lines > 0) {
        std::fprintf(out, ", %llu line%s not understood", static_cast<unsigned long long>(unrecognised_lines),
                     unrecognised_lines == 1 ? "" : "s");
    }
    std::fputc('\n', out);
    // One run has said it all.
    if (total.samples == 0) {
        std::fputs("  no samples\n", out);
    } else if (runs > 1) {
        write_statistics(out, total, false);
    }
}
