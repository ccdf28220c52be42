#include "analyze/report/json_summary.h"

#include <cmath>
#include <cstring>

#include "analyze/parse/utc_time.h"
#include "analyze/report/escape.h"
#include "analyze/report/number_text.h"

namespace {

void write_number(std::FILE *out, double value, int decimals) {
    if (!std::isfinite(value)) {
        std::fputs("null", out);
        return;
    }
    char text[NUMBER_TEXT_SIZE];
    char *end = put_fixed(text, value, decimals);
    *end = '\0';
    // Zero, however small a negative value it was rounded from, is 0.
    const char *start = text;
    if (*start == '-' && std::strspn(start + 1, "0.") == static_cast<size_t>(end - start - 1)) {
        ++start;
    }
    std::fwrite(start, 1, static_cast<size_t>(end - start), out);
}

// Seven significant digits, for figures of any size.
void write_significant(std::FILE *out, double value) {
    if (!std::isfinite(value)) {
        std::fputs("null", out);
        return;
    }
    char text[NUMBER_TEXT_SIZE];
    char *end = put_scientific(text, value, 6);
    std::fwrite(text, 1, static_cast<size_t>(end - text), out);
}

void write_percentiles(std::FILE *out, const RunFigures &f) {
    const Percentiles p = f.has_percentiles ? f.percentiles : Percentiles{};
    std::fputs("\"percentiles\": {", out);
    for (int j = 0; j < PERCENTILE_COUNT; ++j) {
        std::fprintf(out, "%s\"p%d\": ", j == 0 ? "" : ", ", PERCENTILE_LEVELS[j]);
        write_number(out, p.known[j] ? p.ms[j] : NAN, 4);
    }
    std::fputs("}", out);
}

// A figure and its 68 % interval: "key", "key_lo", "key_hi", or with the
// unit after them ("tdev_lo_ns").
void write_with_interval(std::FILE *out, const char *key, const char *unit, bool known, double value, double low,
                         double high, bool significant) {
    const double values[] = {known ? value : NAN, known ? low : NAN, known ? high : NAN};
    const char *const suffixes[] = {"", "_lo", "_hi"};
    for (int i = 0; i < 3; ++i) {
        std::fprintf(out, ", \"%s%s%s\": ", key, suffixes[i], unit);
        if (significant) {
            write_significant(out, values[i]);
        } else {
            write_number(out, values[i], 3);
        }
    }
}

void write_stability_and_frequency(std::FILE *out, const RunFigures &figures) {
    const StabilityPoint *points = figures.stability;
    const int count = figures.stability_count;
    std::fputs(",\n     \"tau0_s\": ", out);
    write_significant(out, figures.tau0_s);
    std::fputs(", \"stability\": [", out);
    for (int i = 0; i < count; ++i) {
        const StabilityPoint &point = points[i];
        std::fputs(i == 0 ? "{\"tau_s\": " : ",\n       {\"tau_s\": ", out);
        write_significant(out, point.tau_s);
        std::fprintf(out, R"(, "n": %llu, "alpha": )", static_cast<unsigned long long>(point.n));
        if (point.alpha != NOISE_UNKNOWN) {
            std::fprintf(out, "%d", point.alpha);
        } else {
            std::fputs("null", out);
        }
        std::fputs(", \"oadev\": ", out);
        write_significant(out, point.oadev);
        std::fputs(", \"oadev_lo\": ", out);
        write_significant(out, point.oadev_low);
        std::fputs(", \"oadev_hi\": ", out);
        write_significant(out, point.oadev_high);
        write_with_interval(out, "mdev", "", point.has_mdev, point.mdev, point.mdev_low, point.mdev_high, true);
        std::fputs(", \"tdev_ns\": ", out);
        write_number(out, point.has_mdev ? point.tdev_ns : NAN, 3);
        std::fputs(", \"tdev_lo_ns\": ", out);
        write_number(out, point.has_mdev ? point.tdev_low_ns : NAN, 3);
        std::fputs(", \"tdev_hi_ns\": ", out);
        write_number(out, point.has_mdev ? point.tdev_high_ns : NAN, 3);
        write_with_interval(out, "hdev", "", point.has_hdev, point.hdev, point.hdev_low, point.hdev_high, true);
        std::fputs(", \"mtie_ns\": ", out);
        write_number(out, point.mtie_ns, 0);
        std::fputs(", \"share\": ", out);
        write_number(out, point.share, 4);
        std::fputs("}", out);
    }
    const FrequencyFigures &f = figures.frequency;
    std::fputs("],\n     \"frequency\": {\"offset_ppm\": ", out);
    write_number(out, f.has_offset ? f.offset_ppm : NAN, 6);
    std::fputs(", \"uncertainty_ppm\": ", out);
    write_significant(out, f.has_uncertainty ? f.uncertainty_ppm : NAN);
    std::fputs(", \"residual_rms_ms\": ", out);
    write_number(out, f.has_offset ? f.residual_rms_ms : NAN, 6);
    std::fprintf(out, R"(, "significant": %s, "fitted_across_slews": %s})", offset_significant(f) ? "true" : "false",
                 figures.fitted_across_slews ? "true" : "false");
}

void write_time(std::FILE *out, int64_t utc_ms);

void write_segments(std::FILE *out, const RunFigures &figures) {
    std::fprintf(out, ",\n     \"segment_count\": %llu, \"segments\": [",
                 static_cast<unsigned long long>(figures.segments));
    for (int i = 0; i < figures.segment_count; ++i) {
        const SegmentFigures &g = figures.segment[i];
        const FrequencyFigures &f = g.frequency;
        std::fprintf(out, R"(%s{"boundary": "%s", "start": )", i == 0 ? "" : ",\n       ",
                     segment_boundary_name(g.boundary));
        write_time(out, g.start_utc_ms);
        std::fputs(", \"end\": ", out);
        write_time(out, g.end_utc_ms);
        std::fprintf(out, R"(, "points": %llu, "slewed_lines": %llu, "offset_ppm": )",
                     static_cast<unsigned long long>(g.points), static_cast<unsigned long long>(g.slewed_lines));
        write_significant(out, f.has_offset ? f.offset_ppm : NAN);
        std::fputs(", \"uncertainty_ppm\": ", out);
        write_significant(out, f.has_uncertainty ? f.uncertainty_ppm : NAN);
        std::fputs(", \"residual_rms_ms\": ", out);
        write_number(out, f.has_offset ? f.residual_rms_ms : NAN, 6);
        std::fprintf(out, R"(, "significant": %s, "oadev": {)", offset_significant(f) ? "true" : "false");
        for (int j = 0; j < SEGMENT_OADEV_TAUS; ++j) {
            std::fprintf(out, "%s\"%d\": ", j == 0 ? "" : ", ", 1 << SEGMENT_OADEV_K[j]);
            write_significant(out, g.oadev[j]);
        }
        std::fputs("}}", out);
    }
    std::fputs("]", out);
}

void write_time(std::FILE *out, int64_t utc_ms) {
    if (utc_ms == UNKNOWN_TIME_MS) {
        std::fputs("null", out);
        return;
    }
    char text[ISO_TIME_SIZE];
    format_iso_time(text, sizeof text, utc_ms);
    std::fprintf(out, "\"%s\"", text);
}

void write_setting(std::FILE *out, AdjustmentSetting setting) {
    std::fprintf(out, R"({"adjustment": %ld, "increment": %lu, "ppm": )", static_cast<long>(setting.adjustment),
                 static_cast<unsigned long>(setting.increment));
    double ppm = 0;
    if (slew_rate_ppm(setting, ppm)) {
        write_number(out, ppm, 3);
    } else {
        std::fputs("null", out);
    }
}

void write_statistics(std::FILE *out, const RunStatistics &s, const RunFigures &f, bool list_events) {
    // Every key whatever the samples; null where there is no value.
    std::fprintf(out, "\"samples\": %llu", static_cast<unsigned long long>(s.samples));
    const bool any = s.samples > 0;
    std::fputs(", \"first_sample\": ", out);
    write_time(out, s.first_utc_ms);
    std::fputs(", \"last_sample\": ", out);
    write_time(out, s.last_utc_ms);
    std::fputs(", \"covered_ms\": ", out);
    write_number(out, s.covered_ms, 4);
    std::fprintf(out,
                 ", \"missing_samples\": %llu, \"gaps\": %llu,\n     \"lost_lines\": {\"places\": %llu, "
                 "\"missing_samples\": %llu}, \"gap_lines\": {\"count\": %llu, \"missing_samples\": %llu},\n     "
                 "\"difference_ms\": {",
                 static_cast<unsigned long long>(s.missing_samples), static_cast<unsigned long long>(s.gaps),
                 static_cast<unsigned long long>(s.lost_line_places), static_cast<unsigned long long>(s.lost_samples),
                 static_cast<unsigned long long>(s.gap_lines), static_cast<unsigned long long>(s.gap_samples));
    // Mean, RMS and percentiles of the regular lines; min, max and sum of
    // all. (NAN: null.)
    std::fprintf(out, R"("regular_lines": %llu, "mean": )", static_cast<unsigned long long>(s.regular_lines));
    write_number(out, f.difference_mean_ms, 6);
    std::fputs(", \"rms\": ", out);
    write_number(out, f.difference_rms_ms, 6);
    std::fputs(", \"min\": ", out);
    write_number(out, any ? s.difference_min : NAN, 4);
    std::fputs(", \"max\": ", out);
    write_number(out, any ? s.difference_max : NAN, 4);
    std::fputs(", \"sum\": ", out);
    write_number(out, s.difference_sum, 4);
    std::fputs(", ", out);
    write_percentiles(out, f);
    std::fputs("},\n     \"rate_ppm\": {\"run\": ", out);
    const bool has_rate = f.has_rate;
    write_number(out, has_rate ? f.rate_ppm : NAN, 3);
    std::fputs(", \"min\": ", out);
    write_number(out, has_rate ? s.rate_min_ppm : NAN, 3);
    std::fputs(", \"max\": ", out);
    write_number(out, has_rate ? s.rate_max_ppm : NAN, 3);
    std::fputs("}", out);
    std::fprintf(out, ",\n     \"steps\": {\"count\": %llu, \"sum_ms\": ", static_cast<unsigned long long>(s.steps));
    write_number(out, s.step_sum_ms, 4);
    if (list_events) {
        std::fputs(", \"listed\": [", out);
        for (int i = 0; i < s.listed_step_count; ++i) {
            std::fputs(i == 0 ? "{\"utc_time\": " : ", {\"utc_time\": ", out);
            write_time(out, s.listed_steps[i].utc_ms);
            std::fputs(", \"difference_ms\": ", out);
            write_number(out, s.listed_steps[i].difference_ms, 4);
            std::fputs("}", out);
        }
        std::fputs("]", out);
    }
    std::fputs("},\n     \"adjustment\": {\"values\": [", out);
    for (int i = 0; i < s.value_count; ++i) {
        std::fputs(i == 0 ? "" : ", ", out);
        write_setting(out, s.values[i].setting);
        std::fprintf(out, ", \"samples\": %llu}", static_cast<unsigned long long>(s.values[i].samples));
    }
    std::fprintf(out, R"(], "other_value_samples": %llu, "changes": %llu)",
                 static_cast<unsigned long long>(s.other_value_samples), static_cast<unsigned long long>(s.changes));
    if (list_events) {
        std::fputs(", \"listed_changes\": [", out);
        for (int i = 0; i < s.listed_change_count; ++i) {
            const AdjustmentChange &change = s.listed_changes[i];
            std::fputs(i == 0 ? "{\"utc_time\": " : ", {\"utc_time\": ", out);
            write_time(out, change.utc_ms);
            std::fputs(", \"from\": ", out);
            write_setting(out, change.from);
            std::fputs("}, \"to\": ", out);
            write_setting(out, change.to);
            std::fputs("}}", out);
        }
        std::fputs("]", out);
    }
    std::fputs("}", out);
    write_stability_and_frequency(out, f);
    if (list_events) {
        write_segments(out, f);
    } else {
        std::fprintf(out, ",\n     \"runs_paced_apart\": %ld, \"samples_paced_apart\": %llu",
                     static_cast<long>(s.runs_paced_apart), static_cast<unsigned long long>(s.samples_paced_apart));
    }
}

void write_episode_totals(std::FILE *out, const EpisodeTotals &t) {
    std::fprintf(out,
                 ",\n     \"corrections\": {\"count\": %llu, \"steps\": %llu, \"slews\": %llu, \"commanded_abs_ms\": ",
                 static_cast<unsigned long long>(episode_count(t)), static_cast<unsigned long long>(t.steps),
                 static_cast<unsigned long long>(t.slews));
    write_number(out, t.commanded_abs_ms, 4);
    std::fputs(", \"largest_slew_residual_ms\": ", out);
    write_number(out, t.has_slew_residual ? t.largest_slew_residual_ms : NAN, 4);
}

void write_episodes(std::FILE *out, const RunEpisodes &episodes) {
    write_episode_totals(out, episodes.totals);
    std::fprintf(
        out, ", \"not_listed\": %llu},\n     \"episodes\": [",
        static_cast<unsigned long long>(episode_count(episodes.totals) - static_cast<uint64_t>(episodes.kept_count)));
    for (int i = 0; i < episodes.kept_count; ++i) {
        const Episode &e = episodes.kept[i];
        std::fprintf(out, R"(%s{"kind": "%s", "start": )", i == 0 ? "" : ",\n       ",
                     e.kind == EpisodeKind::step ? "step" : "slew");
        write_time(out, e.start_utc_ms);
        std::fputs(", \"end\": ", out);
        write_time(out, e.end_utc_ms);
        std::fprintf(out, R"(, "samples": %llu, "duration_s": )", static_cast<unsigned long long>(e.samples));
        write_number(out, duration_s(e), 4);
        std::fputs(", \"slew_ppm\": ", out);
        write_number(out, slew_ppm(e), 3);
        std::fputs(", \"commanded_ms\": ", out);
        write_number(out, e.commanded_ms, 4);
        std::fputs(", \"measured_ms\": ", out);
        write_number(out, e.measured_ms, 4);
        std::fputs(", \"residual_ms\": ", out);
        write_number(out, residual_ms(e), 4);
        std::fprintf(out, R"(, "missing_samples": %llu})", static_cast<unsigned long long>(e.missing_samples));
    }
    std::fputs("]", out);
}

}  // namespace

void begin_json(std::FILE *out) { std::fputs(R"({"runs": [)", out); }

void write_run_json(std::FILE *out, const RunRecord &record, bool first) {
    const LogRun &run = record.run;
    std::fprintf(out, "%s\n    {\"run\": %ld, \"file\": ", first ? "" : ",", static_cast<long>(run.number));
    write_json_string(out, run.file);
    std::fprintf(out, ", \"first_line\": %llu, \"last_line\": %llu,\n     ",
                 static_cast<unsigned long long>(run.first_line), static_cast<unsigned long long>(run.last_line));
    write_statistics(out, run.statistics, record.figures, true);
    write_episodes(out, record.episodes);
    std::fputs("}", out);
}

void end_json(std::FILE *out, const AnalysisSnapshot &s) {
    std::fprintf(out, "\n  ],\n  \"total\": {\"pooled_files\": %d, \"runs\": %ld, ", s.log_count,
                 static_cast<long>(s.runs));
    write_statistics(out, *s.total, *s.figures, false);
    write_episode_totals(out, s.episodes);
    std::fputs("}},\n  \"by_file\": [", out);
    for (int i = 0; i < s.file_count; ++i) {
        const FileSummary &f = s.files[i];
        std::fputs(i == 0 ? "\n    {\"file\": " : ",\n    {\"file\": ", out);
        write_json_string(out, f.name);
        std::fprintf(out, ", \"runs\": %ld, ", static_cast<long>(f.runs));
        write_statistics(out, f.statistics, f.figures, false);
        write_episode_totals(out, f.episodes);
        std::fputs("}}", out);
    }
    std::fputs("],\n  \"files\": [", out);
    for (int i = 0; i < s.log_count; ++i) {
        std::fputs(i == 0 ? "" : ", ", out);
        write_json_string(out, s.log_names[i]);
    }
    std::fprintf(out, "],\n  \"unrecognised_lines\": %llu,\n  \"outside_window\": %llu,\n  \"window\": {\"from\": ",
                 static_cast<unsigned long long>(s.unrecognised_lines),
                 static_cast<unsigned long long>(s.outside_window));
    write_time(out, s.window.has_from ? s.window.from_ms : UNKNOWN_TIME_MS);
    std::fputs(", \"to\": ", out);
    write_time(out, s.window.has_to ? s.window.to_ms : UNKNOWN_TIME_MS);
    std::fputs("}\n}\n", out);
}
