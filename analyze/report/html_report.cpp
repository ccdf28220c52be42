#include "analyze/report/html_report.h"

#include <cmath>
#include <initializer_list>

#include "analyze/parse/utc_time.h"
#include "analyze/report/check.h"
#include "analyze/report/escape.h"
#include "analyze/report/number_text.h"
#include "analyze/report/palette.h"
#include "analyze/report/svg_chart.h"
#include "analyze/report/svg_drawing.h"
#include "analyze/report/svg_plots.h"
#include "analyze/report/text_summary.h"

namespace {

// px: the charts are 1200 wide, so that their 12 px text stays at 9 px.
constexpr int MIN_CHART_WIDTH = 900;

// The verdict of --check on the default ranges, in its state's colour,
// and what it measures.
void write_verdict(std::FILE *out, const AnalysisSnapshot &snapshot, int64_t now_ms) {
    const CheckThresholds thresholds = default_thresholds();
    const Verdict verdict = judge(snapshot, thresholds, now_ms);
    if (!verdict.known[static_cast<int>(Finding::steps)]) {
        return;  // no sample: the note below says so
    }
    const char *colours[] = {DEEP_GREEN, DARK_ORANGE, RED, SLATE};
    char words[1024];
    verdict_words(words, sizeof words, verdict, thresholds);
    std::fprintf(out, R"(<p class="verdict" id="verdict"><strong style="background:%s">%s</strong> )",
                 colours[static_cast<int>(verdict.state)], state_name(verdict.state));
    write_xml_text(out, words);
    std::fprintf(out, "</p>\n<p class=\"note\">%s</p>\n", VERDICT_MEANING);
}

// The words the report uses, each in a sentence.
void write_glossary(std::FILE *out) {
    static const char *const TERMS[][2] = {
        {"difference", "how much further the system time advanced than the performance counter over one sample's "
                       "interval, in ms; 0 when the two keep pace"},
        {"step", "the system time set at once: a line marked &gt;&lt;"},
        {"slew", "samples whose adjustment differs from the increment: the time service runs the clock faster or "
                 "slower to correct it gradually"},
        {"ppm", "parts per million: 1 ppm is 1 \xc2\xb5s a second, 86.4 ms a day"},
        {"time error", "the differences summed within a segment: how far the system time moved from the counter "
                       "since the segment began"},
        {"frequency offset", "the slope of a line fitted to the time error: how fast the system time runs against the "
                             "counter, in ppm"},
        {"p99", "the value that 99 % of the values are at or below"},
        {"\xcf\x84, \xcf\x84<sub>0</sub>", "the averaging time, and the samples' spacing"},
        {"OADEV, MDEV, HDEV", "the overlapping Allan, modified Allan and Hadamard deviations: how much the rate "
                              "wanders between intervals of \xcf\x84, as a fraction (10<sup>-6</sup> is 1 ppm); "
                              "smaller is steadier"},
        {"TDEV", "the time deviation: how much the time error wanders over \xcf\x84"},
        {"MTIE", "the maximum time interval error: the largest rise and fall of the time error within any window of "
                 "\xcf\x84"},
        {"\xce\xb1", "the kind of noise, from +2 (jitter of each reading) to \xe2\x88\x92"
                     "2 (a rate that wanders "
                     "at random)"},
    };
    std::fputs("<h2 id=\"section-glossary\">Glossary</h2>\n<dl class=\"glossary\">\n", out);
    for (const auto &term : TERMS) {
        std::fprintf(out, "<dt>%s</dt><dd>%s</dd>\n", term[0], term[1]);
    }
    std::fputs("</dl>\n", out);
}

// Screen and A4 alike; the charts take the page's width.
void write_style(std::FILE *out) {
    std::fprintf(out,
                 "body{font-family:\"Segoe UI\",\"DejaVu Sans\",Helvetica,Arial,sans-serif;color:%s;margin:1.5em;"
                 "line-height:1.35}\n"
                 "h1{font-size:1.5em;margin:0 0 .3em;overflow-wrap:anywhere}h2{font-size:1.2em;margin:1.6em 0 "
                 ".5em;border-bottom:1px solid %s}\n"
                 "p.note{color:%s;margin:.3em 0}\n"
                 ".wide{overflow-x:auto}\n"
                 "table{border-collapse:collapse;font-size:.85em;margin:.3em 0}\n"
                 "th,td{border:1px solid %s;padding:.2em .5em;text-align:left;vertical-align:top}\n"
                 "th{background:%s}td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}\n"
                 "td.file{overflow-wrap:anywhere;min-width:8em}tr.total td{font-weight:bold;background:%s}\n"
                 "tr.more td{color:%s;font-style:italic}\n"
                 "svg{display:block;max-width:100%%;height:auto}\n"
                 // On a narrow screen a chart keeps a legible size (its 12 px text
                 // at least 9 px) and its figure scrolls.
                 "svg.chart{min-width:%dpx}figure{margin:.5em 0;overflow-x:auto}figcaption{color:%s;font-size:.85em}\n"
                 "p.verdict{font-size:1.1em;margin:.4em 0}p.verdict strong{padding:0 .3em;border-radius:3px;color:%s}\n"
                 "dl.glossary dt{font-weight:bold}dl.glossary dd{margin:0 0 .4em 1.5em}\n"
                 "@page{size:A4;margin:12mm}\n"
                 // Printed, the folded tables are shown: a closed <details> hides
                 // its content in its ::details-content.
                 "@media print{body{margin:0;font-size:9pt}.wide{overflow:visible}table{font-size:7.5pt}"
                 "h2{break-after:avoid}figure,tr{break-inside:avoid}svg.chart{min-width:0}figure{overflow:visible}"
                 "details::details-content{content-visibility:visible;display:block}}\n",
                 TEXT_COLOUR, PALE_GREY, NOTE_COLOUR, PALE_GREY, HAZE, SNOW, NOTE_COLOUR, MIN_CHART_WIDTH, NOTE_COLOUR,
                 WHITE);
}

void write_time_cell(std::FILE *out, int64_t utc_ms) {
    char when[ISO_TIME_SIZE];
    format_iso_time(when, sizeof when, utc_ms);
    std::fprintf(out, "<td class=\"n\">%s</td>", when);
}

// The run's name in the tables, or the total's.
void write_run_cell(std::FILE *out, const LogRun *run) {
    if (run == nullptr) {
        std::fputs("<td>total</td>", out);
    } else {
        std::fprintf(out, "<td class=\"n\">%ld</td>", static_cast<long>(run->number));
    }
}

void write_more_row(std::FILE *out, int columns, uint64_t more, const char *what) {
    std::fprintf(out, "<tr class=\"more\"><td colspan=\"%d\">and %llu more %s, not listed</td></tr>\n", columns,
                 static_cast<unsigned long long>(more), what);
}

// Where the runs are and what they hold; file_count: the files s is
// pooled over.
void write_runs_row(std::FILE *out, const LogRun *run, const RunStatistics &s, int file_count) {
    std::fputs(run == nullptr ? "<tr class=\"total\">" : "<tr>", out);
    write_run_cell(out, run);
    if (run != nullptr) {
        std::fputs("<td class=\"file\">", out);
        write_xml_text(out, run->file);
        std::fprintf(out, "</td><td class=\"n\">%llu&ndash;%llu</td>", static_cast<unsigned long long>(run->first_line),
                     static_cast<unsigned long long>(run->last_line));
    } else {
        std::fputs("<td></td><td></td>", out);
    }
    if (s.samples == 0) {
        std::fputs("<td class=\"n\">0</td><td colspan=\"6\">no samples</td></tr>\n", out);
        return;
    }
    char span[SPAN_TEXT_SIZE] = "unknown";
    if (s.first_utc_ms != UNKNOWN_TIME_MS) {
        format_span(span, sizeof span, s.first_utc_ms, s.last_utc_ms, file_count, "<br><small>", "</small>");
    }
    char covered[64];
    format_duration(covered, sizeof covered, static_cast<int64_t>(std::fmin(s.covered_ms, 9e18)));
    std::fprintf(out, "<td class=\"n\">%llu</td>", static_cast<unsigned long long>(s.samples));
    write_time_cell(out, s.first_utc_ms);
    write_time_cell(out, s.last_utc_ms);
    std::fprintf(out, R"(<td class="n">%s</td><td class="n">%s</td><td class="n">%llu)", span, covered,
                 static_cast<unsigned long long>(s.missing_samples));
    if (s.lost_line_places > 0) {
        std::fprintf(out, "<br><small>%llu lost line%s in %llu place%s</small>",
                     static_cast<unsigned long long>(s.lost_samples), s.lost_samples == 1 ? "" : "s",
                     static_cast<unsigned long long>(s.lost_line_places), s.lost_line_places == 1 ? "" : "s");
    }
    if (s.gap_lines > 0) {
        std::fprintf(out, "<br><small>%llu in %llu gap line%s</small>", static_cast<unsigned long long>(s.gap_samples),
                     static_cast<unsigned long long>(s.gap_lines), s.gap_lines == 1 ? "" : "s");
    }
    std::fprintf(out, "</td><td class=\"n\">%llu</td></tr>\n", static_cast<unsigned long long>(s.steps));
}

// What the clock did in them.
void write_figures_row(std::FILE *out, const LogRun *run, const RunStatistics &s, const RunFigures &f) {
    std::fputs(run == nullptr ? "<tr class=\"total\">" : "<tr>", out);
    write_run_cell(out, run);
    if (s.samples == 0) {
        std::fputs("<td colspan=\"7\">no samples</td></tr>\n", out);
        return;
    }
    if (f.has_regular_lines) {
        std::fprintf(out, R"(<td class="n">%+.6f</td><td class="n">%.6f</td>)", f.difference_mean_ms,
                     f.difference_rms_ms);
    } else {
        std::fputs("<td colspan=\"2\">no regular line</td>", out);
    }
    std::fprintf(out, R"(<td class="n">%+.4f</td><td class="n">%+.4f</td>)", s.difference_min, s.difference_max);
    if (f.has_rate) {
        char a_day[64];
        format_ms_a_day(a_day, sizeof a_day, f.rate_ppm);
        std::fprintf(out, R"(<td class="n">%+.3f<br>%s</td><td class="n">%+.3f to %+.3f</td>)", f.rate_ppm, a_day,
                     s.rate_min_ppm, s.rate_max_ppm);
    } else {
        std::fputs("<td colspan=\"2\">no sample without a step</td>", out);
    }
    std::fprintf(out, "<td class=\"n\">%llu</td></tr>\n", static_cast<unsigned long long>(s.changes));
}

// How a number is shown in a cell: significant digits for figures that
// may be small.
enum class Shown { signed_fixed, fixed, significant };

void write_optional_cell(std::FILE *out, bool known, double value, int decimals, Shown shown) {
    if (known) {
        if (shown == Shown::signed_fixed) {
            std::fprintf(out, "<td class=\"n\">%+.*f</td>", decimals, value);
        } else if (shown == Shown::fixed) {
            std::fprintf(out, "<td class=\"n\">%.*f</td>", decimals, value);
        } else {
            std::fprintf(out, "<td class=\"n\">%.*g</td>", decimals, value);
        }
    } else {
        std::fputs("<td class=\"n\">&ndash;</td>", out);
    }
}

// The frequency offset to its uncertainty's place, or to 4 significant
// digits while that is unknown; under it what it is worth when little.
void write_offset_cell(std::FILE *out, const FrequencyFigures &f, bool across_slews) {
    if (!f.has_offset) {
        std::fputs("<td class=\"n\">&ndash;</td>", out);
        return;
    }
    std::fprintf(out, "<td class=\"n\">%+.*g", uncertainty_digits(f.offset_ppm, known_uncertainty_ppm(f), 4),
                 f.offset_ppm);
    const char *caveat = offset_caveat(f, across_slews);
    if (*caveat != '\0') {
        std::fprintf(out, "<br><small>%s</small>", caveat);
    }
    std::fputs("</td>", out);
}

void write_timekeeping_row(std::FILE *out, const LogRun *run, const RunFigures &f) {
    std::fputs(run == nullptr ? "<tr class=\"total\">" : "<tr>", out);
    write_run_cell(out, run);
    for (int i = 0; i < PERCENTILE_COUNT; ++i) {
        write_optional_cell(out, f.percentiles.known[i], f.percentiles.ms[i], 4, Shown::signed_fixed);
    }
    write_offset_cell(out, f.frequency, f.fitted_across_slews);
    write_optional_cell(out, f.frequency.has_uncertainty, f.frequency.uncertainty_ppm, 2, Shown::significant);
    write_optional_cell(out, f.frequency.has_offset, f.frequency.residual_rms_ms, 3, Shown::significant);
    std::fputs("</tr>\n", out);
}

// A deviation with its 68 % interval under it, or a dash.
void write_interval_cell(std::FILE *out, bool known, double value, double low, double high) {
    if (!known) {
        std::fputs("<td class=\"n\">&ndash;</td>", out);
        return;
    }
    const double uncertainty = std::isfinite(low) && std::isfinite(high) ? interval_uncertainty(value, low, high) : 0;
    std::fprintf(out, "<td class=\"n\">%.*g", uncertainty_digits(value, uncertainty, 4), value);
    if (std::isfinite(low) && std::isfinite(high)) {
        std::fprintf(out, "<br><small>%.3g&ndash;%.3g</small>", low, high);
    }
    std::fputs("</td>", out);
}

void write_stability_table(std::FILE *out, const RunFigures &f, const char *id) {
    if (f.stability_count == 0) {
        std::fputs("<p class=\"note\">No segment long enough for a deviation.</p>\n", out);
        return;
    }
    std::fprintf(out,
                 "<div class=\"wide\"><table id=\"%s\">\n<tr><th>\xcf\x84, s</th><th>n</th><th>noise \xce\xb1</th>"
                 "<th>OADEV</th><th>MDEV</th><th>TDEV, ms</th><th>HDEV</th><th>MTIE, ms</th></tr>\n",
                 id);
    for (int i = 0; i < f.stability_count; ++i) {
        const StabilityPoint &p = f.stability[i];
        std::fprintf(out, R"(<tr><td class="n">%.5g)", p.tau_s);
        if (p.share < STABILITY_MIN_SHARE) {
            std::fprintf(out, "<br><small>from %.0f %% of the points</small>", std::floor(p.share * 100));
        }
        std::fprintf(out, R"(</td><td class="n">%llu</td>)", static_cast<unsigned long long>(p.n));
        if (p.alpha != NOISE_UNKNOWN) {
            std::fprintf(out, "<td class=\"n\">%+d</td>", p.alpha);
        } else {
            std::fputs("<td class=\"n\">&ndash;</td>", out);
        }
        write_interval_cell(out, true, p.oadev, p.oadev_low, p.oadev_high);
        write_interval_cell(out, p.has_mdev, p.mdev, p.mdev_low, p.mdev_high);
        write_interval_cell(out, p.has_mdev, p.tdev_ns / 1e6, p.tdev_low_ns / 1e6, p.tdev_high_ns / 1e6);
        write_interval_cell(out, p.has_hdev, p.hdev, p.hdev_low, p.hdev_high);
        std::fprintf(out, "<td class=\"n\">%.4g</td></tr>\n", p.mtie_ns / 1e6);
    }
    std::fputs("</table></div>\n", out);
}

// A run's segments, each fitted apart, where it has more than one.
void write_segment_table(std::FILE *out, const RunRecord &run) {
    const RunFigures &f = run.figures;
    if (f.segments < 2) {
        return;
    }
    std::fprintf(out,
                 "<div class=\"wide\"><table id=\"segment-table-run-%ld\">\n<tr><th>segment begun at</th>"
                 "<th>first sample (UTC)</th><th>last sample (UTC)</th><th>points</th><th>frequency offset, ppm</th>"
                 "<th>uncertainty (68 %%), ppm</th><th>residual RMS, ms</th><th>OADEV at 1 \xcf\x84<sub>0</sub></th>"
                 "<th>16 \xcf\x84<sub>0</sub></th><th>256 \xcf\x84<sub>0</sub></th></tr>\n",
                 static_cast<long>(run.run.number));
    for (int i = 0; i < f.segment_count; ++i) {
        const SegmentFigures &g = f.segment[i];
        std::fprintf(out, "<tr><td>%s</td>", segment_boundary_name(g.boundary));
        write_time_cell(out, g.start_utc_ms);
        write_time_cell(out, g.end_utc_ms);
        std::fprintf(out, "<td class=\"n\">%llu</td>", static_cast<unsigned long long>(g.points));
        write_offset_cell(out, g.frequency, g.slewed_lines > 0);
        write_optional_cell(out, g.frequency.has_uncertainty, g.frequency.uncertainty_ppm, 2, Shown::significant);
        write_optional_cell(out, g.frequency.has_offset, g.frequency.residual_rms_ms, 3, Shown::significant);
        for (const double oadev : g.oadev) {
            write_optional_cell(out, std::isfinite(oadev), oadev, 3, Shown::significant);
        }
        std::fputs("</tr>\n", out);
    }
    if (f.segments > static_cast<uint64_t>(f.segment_count)) {
        write_more_row(out, 10, f.segments - static_cast<uint64_t>(f.segment_count), "segments");
    }
    std::fputs("</table></div>\n", out);
}

void write_stability(std::FILE *out, const AnalysisSnapshot &r) {
    std::fputs("<h2 id=\"section-stability\">Stability of the steering</h2>\n<figure>\n", out);
    write_stability_plot(out, r.figures->stability, r.figures->stability_count);
    std::fputs("<figcaption>Over all runs, pooled over their segments: the overlapping Allan, the modified Allan and "
               "the overlapping Hadamard deviation of the system time against the performance counter, against the "
               "averaging time \xcf\x84 = m\xc2\xb7\xcf\x84<sub>0</sub>; the bars are their 68 % intervals. The "
               "counter's own oscillator cancels out: this is how the time service steers the system time, not how "
               "far it is from UTC. A hollow marker, not joined to the others: a \xcf\x84 that only segments "
               "holding fewer than half the points are long enough for; it tells of them, not of the whole."
               "</figcaption></figure>\n",
               out);
    write_stability_table(out, *r.figures, "stability-table");
    std::fputs("<p class=\"note\">Each deviation with its 68 % interval below it, from its degrees of freedom for "
               "the noise \xce\xb1 identified at that \xcf\x84 (S<sub>y</sub>(f) \xe2\x88\x9d f<sup>\xce\xb1</sup>: "
               "+2 white PM, +1 flicker PM, 0 white FM, \xe2\x88\x92"
               "1 flicker FM, \xe2\x88\x92"
               "2 random-walk FM; "
               "&ndash; where none is identified, and the interval is for the least favourable noise). MTIE is of "
               "the raw time error: it holds the frequency offset.</p>\n",
               out);
    for (int i = 0; i < r.listed_run_count; ++i) {
        const RunRecord &run = r.listed_runs[i];
        std::fprintf(out, "<details><summary>Run %ld: \xcf\x84<sub>0</sub> %.6g s</summary>\n",
                     static_cast<long>(run.run.number), run.figures.tau0_s);
        char id[32];
        std::snprintf(id, sizeof id, "stability-table-run-%ld", static_cast<long>(run.run.number));
        write_stability_table(out, run.figures, id);
        write_segment_table(out, run);
        std::fputs("</details>\n", out);
    }
}

void write_summary(std::FILE *out, const AnalysisSnapshot &r) {
    const auto unlisted = static_cast<uint64_t>(r.runs - r.listed_run_count);
    std::fputs("<h2 id=\"section-summary\">Summary</h2>\n<div class=\"wide\"><table id=\"run-table\">\n"
               "<tr><th>run</th><th>file</th><th>lines</th><th>samples</th><th>first sample (UTC)</th>"
               "<th>last sample (UTC)</th><th>span</th><th>covered by the counter</th><th>missing "
               "samples</th><th>steps</th></tr>\n",
               out);
    for (int i = 0; i < r.listed_run_count; ++i) {
        write_runs_row(out, &r.listed_runs[i].run, r.listed_runs[i].run.statistics, 1);
    }
    if (unlisted > 0) {
        write_more_row(out, 10, unlisted, "runs");
    }
    write_runs_row(out, nullptr, *r.total, r.file_count);
    std::fputs("</table></div>\n<div class=\"wide\"><table id=\"figure-table\">\n"
               "<tr><th>run</th><th>mean difference, ms</th><th>RMS, ms</th><th>min, ms</th><th>max, ms</th>"
               "<th>lines' mean rate, ppm</th><th>single lines, ppm</th><th>adjustment changes</th></tr>\n",
               out);
    for (int i = 0; i < r.listed_run_count; ++i) {
        write_figures_row(out, &r.listed_runs[i].run, r.listed_runs[i].run.statistics, r.listed_runs[i].figures);
    }
    if (unlisted > 0) {
        write_more_row(out, 8, unlisted, "runs");
    }
    write_figures_row(out, nullptr, *r.total, *r.figures);
    std::fputs("</table></div>\n<div class=\"wide\"><table id=\"timekeeping-table\">\n<tr><th>run</th>", out);
    for (const int level : PERCENTILE_LEVELS) {
        std::fprintf(out, "<th>p%d, ms</th>", level);
    }
    std::fputs("<th>frequency offset, ppm</th><th>uncertainty (68 %), ppm</th><th>residual RMS, ms</th></tr>\n", out);
    for (int i = 0; i < r.listed_run_count; ++i) {
        write_timekeeping_row(out, &r.listed_runs[i].run, r.listed_runs[i].figures);
    }
    if (unlisted > 0) {
        write_more_row(out, 9, unlisted, "runs");
    }
    write_timekeeping_row(out, nullptr, *r.figures);
    std::fputs("</table></div>\n<p class=\"note\">The difference is the system time's advance less the "
               "performance counter's, per sample: how the time service steers the system time against the counter, "
               "whose own oscillator cancels out; it says nothing of the error from UTC. Mean, RMS and percentiles "
               "(by nearest rank) are of the regular lines: no step, no gap, no short interval; min and max of all; "
               "the lines' mean rate (their differences over their counter time) leaves the steps out and takes in "
               "the slews. The frequency offset, the one frequency figure, is the slope of the time error against "
               "the counter's elapsed time, pooled over the segments, positive where the system time runs fast; its "
               "68 % uncertainty holds whatever the noise. Not significant: its 95 % interval holds 0; fitted "
               "across slews: the time service slewed the clock within the fit, whose slope then mixes the slews "
               "with the clock's own rate (see each segment's under Stability).</p>\n",
               out);
    if (r.total->runs_paced_apart > 0) {
        std::fprintf(out,
                     "<p class=\"note\">The total's frequency offset and stability pool the runs paced as the first; "
                     "%ld run%s paced more than %.1f %% apart (%llu samples) are left out of them: see each run.</p>\n",
                     static_cast<long>(r.total->runs_paced_apart), r.total->runs_paced_apart == 1 ? "" : "s",
                     TAU0_POOLING_TOLERANCE * 100, static_cast<unsigned long long>(r.total->samples_paced_apart));
    }
}

void write_events(std::FILE *out, const AnalysisSnapshot &r) {
    std::fputs("<h2 id=\"section-steps\">Steps</h2>\n", out);
    if (r.total->steps == 0) {
        std::fputs("<p class=\"note\">None.</p>\n", out);
    } else {
        std::fputs("<table id=\"step-table\">\n<tr><th>run</th><th>UTC time</th><th>difference, ms</th></tr>\n", out);
        uint64_t listed = 0;
        for (int i = 0; i < r.listed_run_count; ++i) {
            const RunStatistics &s = r.listed_runs[i].run.statistics;
            for (int k = 0; k < s.listed_step_count && listed < REPORT_LISTED_EVENTS; ++k, ++listed) {
                std::fputs("<tr>", out);
                write_run_cell(out, &r.listed_runs[i].run);
                write_time_cell(out, s.listed_steps[k].utc_ms);
                std::fprintf(out, "<td class=\"n\">%+.4f</td></tr>\n", s.listed_steps[k].difference_ms);
            }
        }
        if (r.total->steps > listed) {
            write_more_row(out, 3, r.total->steps - listed, "steps");
        }
        std::fputs("</table>\n", out);
    }
    std::fputs("<h2 id=\"section-changes\">Adjustment changes</h2>\n", out);
    if (r.total->changes == 0) {
        std::fputs("<p class=\"note\">None.</p>\n", out);
        return;
    }
    std::fputs("<div class=\"wide\"><table id=\"change-table\">\n<tr><th>run</th><th>UTC time</th><th>from</th>"
               "<th>to</th></tr>\n",
               out);
    uint64_t listed = 0;
    for (int i = 0; i < r.listed_run_count; ++i) {
        const RunStatistics &s = r.listed_runs[i].run.statistics;
        for (int k = 0; k < s.listed_change_count && listed < REPORT_LISTED_EVENTS; ++k, ++listed) {
            std::fputs("<tr>", out);
            write_run_cell(out, &r.listed_runs[i].run);
            write_time_cell(out, s.listed_changes[k].utc_ms);
            std::fputs("<td>", out);
            write_setting(out, s.listed_changes[k].from);
            std::fputs("</td><td>", out);
            write_setting(out, s.listed_changes[k].to);
            std::fputs("</td></tr>\n", out);
        }
    }
    if (r.total->changes > listed) {
        write_more_row(out, 4, r.total->changes - listed, "changes");
    }
    std::fputs("</table></div>\n", out);
}

// Several logs, each on its own time axis: logs of different machines or
// years pooled on one axis would be slivers at its edges. draw(out, i)
// draws file i's chart, for the files that shown(i) takes; caption says
// what they all show.
template <typename Shown, typename Draw>
void write_file_charts(std::FILE *out, const AnalysisSnapshot &r, const char *caption, const Shown &shown,
                       const Draw &draw) {
    for (int i = 0; i < r.file_chart_count; ++i) {
        if (!shown(i)) {
            continue;
        }
        std::fputs("<figure>\n", out);
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "file%d-", i + 1);
        write_with_prefixed_ids(out, prefix, [&](std::FILE *to) { draw(to, i); });
        std::fprintf(out, "<figcaption>File %d, ", i + 1);
        write_xml_text(out, r.files[i].name);
        std::fputs(", on its own time axis.</figcaption>\n</figure>\n", out);
    }
    std::fputs("<p class=\"note\">", out);
    if (r.file_count > r.file_chart_count) {
        std::fprintf(out, "The first %d files are drawn; the other %d are in the tables. ", r.file_chart_count,
                     r.file_count - r.file_chart_count);
    }
    std::fprintf(out, "%s</p>\n", caption);
}
template <typename Draw>
void write_file_charts(std::FILE *out, const AnalysisSnapshot &r, const char *caption, const Draw &draw) {
    write_file_charts(
        out, r, caption, [](int) { return true; }, draw);
}

void write_figure(std::FILE *out, const char *caption) {
    std::fprintf(out, "<figcaption>%s</figcaption></figure>\n", caption);
}

// With several logs, a chart per file (draw_file(to, i)) on its own time
// axis; with one, the total's (draw_total(to)).
template <typename DrawFile, typename DrawTotal>
void write_charts(std::FILE *out, const AnalysisSnapshot &r, const char *caption, const DrawFile &draw_file,
                  const DrawTotal &draw_total) {
    if (r.file_charts != nullptr) {
        write_file_charts(out, r, caption, draw_file);
        return;
    }
    std::fputs("<figure>\n", out);
    draw_total(out);
    write_figure(out, caption);
}

// The listed runs with episodes kept, of the file named file (the same
// pointer), or of any when it is nullptr: the lanes of a timeline.
int timeline_lanes(const AnalysisSnapshot &r, const char *file, TimelineRun *lanes) {
    int lane_count = 0;
    for (int i = 0; i < r.listed_run_count; ++i) {
        const RunRecord &run = r.listed_runs[i];
        if (run.episodes.kept_count > 0 && (file == nullptr || run.run.file == file)) {
            lanes[lane_count++] = TimelineRun{run.run.number, &run.episodes};
        }
    }
    return lane_count;
}

void write_corrections(std::FILE *out, const AnalysisSnapshot &r) {
    const EpisodeTotals &t = r.episodes;
    std::fputs("<h2 id=\"section-corrections\">Corrections: steps and slews</h2>\n", out);
    std::fprintf(out,
                 "<p class=\"note\">%llu correction episode%s over all runs: %llu step%s, %llu slew%s; the "
                 "adjustment commanded %.4f ms in all (the sum of the episodes' sizes)",
                 static_cast<unsigned long long>(episode_count(t)), episode_count(t) == 1 ? "" : "s",
                 static_cast<unsigned long long>(t.steps), t.steps == 1 ? "" : "s",
                 static_cast<unsigned long long>(t.slews), t.slews == 1 ? "" : "s", t.commanded_abs_ms);
    if (t.has_slew_residual) {
        std::fprintf(out, "; the largest residual of a slew, measured less commanded, is %+.4f ms",
                     t.largest_slew_residual_ms);
    }
    std::fputs(".</p>\n", out);
    if (episode_count(t) == 0) {
        return;
    }
    static const char TIMELINE[] =
        "Each run's steps and slews along the time axis of the difference chart; hover over one for its figures.";
    if (r.file_charts != nullptr) {
        TimelineRun lanes[REPORT_LISTED_RUNS];
        // (A file without episodes listed draws none.)
        write_file_charts(
            out, r, TIMELINE, [&](int i) { return timeline_lanes(r, r.files[i].name, lanes) > 0; },
            [&](std::FILE *to, int i) {
                write_episode_timeline(to, r.file_charts[i].difference, lanes,
                                       timeline_lanes(r, r.files[i].name, lanes));
            });
    } else {
        TimelineRun lanes[REPORT_LISTED_RUNS];
        const int lane_count = timeline_lanes(r, nullptr, lanes);
        std::fputs("<figure>\n", out);
        write_episode_timeline(out, *r.difference_chart, lanes, lane_count);
        write_figure(out, TIMELINE);
    }
    std::fputs("<div class=\"wide\"><table id=\"episode-table\">\n<tr><th>run</th><th>kind</th><th>start "
               "(UTC)</th><th>end (UTC)</th><th>duration, s</th><th>slew, ppm</th><th>commanded, ms</th>"
               "<th>measured, ms</th><th>residual, ms</th></tr>\n",
               out);
    for (int i = 0; i < r.listed_run_count; ++i) {
        const RunEpisodes &episodes = r.listed_runs[i].episodes;
        for (int k = 0; k < episodes.kept_count; ++k) {
            const Episode &e = episodes.kept[k];
            std::fputs("<tr>", out);
            write_run_cell(out, &r.listed_runs[i].run);
            std::fprintf(out, "<td>%s</td>", e.kind == EpisodeKind::step ? "step" : "slew");
            write_time_cell(out, e.start_utc_ms);
            write_time_cell(out, e.end_utc_ms);
            std::fprintf(out,
                         "<td class=\"n\">%.3f</td><td class=\"n\">%+.3f</td><td class=\"n\">%+.4f</td>"
                         "<td class=\"n\">%+.4f</td><td class=\"n\">%+.4f</td></tr>\n",
                         duration_s(e), slew_ppm(e), e.commanded_ms, e.measured_ms, residual_ms(e));
            if (e.missing_samples > 0) {
                std::fprintf(out,
                             "<tr><td></td><td colspan=\"8\"><small>%llu sample%s missing within it: their "
                             "commands and differences are not in its figures</small></td></tr>\n",
                             static_cast<unsigned long long>(e.missing_samples), e.missing_samples == 1 ? "" : "s");
            }
        }
        const uint64_t unlisted = episode_count(episodes.totals) - static_cast<uint64_t>(episodes.kept_count);
        if (unlisted > 0) {
            char what[48];
            std::snprintf(what, sizeof what, "episodes of run %ld", static_cast<long>(r.listed_runs[i].run.number));
            write_more_row(out, 9, unlisted, what);
        }
    }
    std::fputs("</table></div>\n<p class=\"note\">A step is a line marked &gt;&lt;; a slew, consecutive samples "
               "whose adjustment differs from the increment. Commanded: the adjustment less the increment, relative "
               "to the increment, times the counter's interval, summed; measured: the differences summed over the "
               "same samples; the residual is what the clock did not follow.</p>\n",
               out);
}

// The time charts: of each file, or of the one log.
void write_time_charts(std::FILE *out, const AnalysisSnapshot &r, const char *title_name) {
    static const char DIFFERENCE[] =
        "Each pixel column spans the lowest to the highest difference of the samples it holds.";
    static const char PHASE[] =
        "The time error accumulated from the differences. A new run, a step (red dashes), lines lost from the log "
        "or a gap beyond the longest \xcf\x84 start a segment at 0, and the line breaks there; across a shorter gap "
        "of the counter (orange) the time error runs on.";
    static const char FREQUENCY[] =
        "The rate the clock ran at against the counter (each line's difference over its counter interval, in ppm, "
        "the mean per pixel column), the slew the adjustment commanded, the frequency offset fitted over %s "
        "(dashed) and each segment's own (solid, across the segment), on one scale. Where the segments' offsets "
        "differ, the pooled one describes none of them.";
    char frequency[sizeof FREQUENCY + 16];
    std::snprintf(frequency, sizeof frequency, FREQUENCY, r.file_charts != nullptr ? "the file's runs" : "all runs");
    static const char DETRENDED[] =
        "The time error of each segment less its own fitted offset (the one drawn across it in the frequency view) "
        "times the time into the segment, where that offset is significant; a segment whose offset is not keeps its "
        "raw time error. What is left is wander, and the slews. Each pixel column shows its mean; a segment's start "
        "breaks the line.";
    std::fputs("<h2 id=\"section-difference\">Difference per sample</h2>\n", out);
    write_charts(
        out, r, DIFFERENCE,
        [&](std::FILE *to, int i) { write_difference_chart(to, r.file_charts[i].difference, r.files[i].name, false); },
        [&](std::FILE *to) { write_difference_chart(to, *r.difference_chart, title_name, false); });
    std::fputs("<h2 id=\"section-phase\">Time error per segment</h2>\n", out);
    write_charts(
        out, r, PHASE, [&](std::FILE *to, int i) { write_phase_chart(to, r.file_charts[i].phase); },
        [&](std::FILE *to) { write_phase_chart(to, *r.phase_chart); });
    std::fputs("<h2 id=\"section-frequency\">Frequency</h2>\n", out);
    write_charts(
        out, r, frequency,
        [&](std::FILE *to, int i) {
            const FileCharts &c = r.file_charts[i];
            write_frequency_chart(to, c.difference, c.rate, r.files[i].figures.frequency, c.shown);
        },
        [&](std::FILE *to) {
            write_frequency_chart(to, *r.difference_chart, *r.rate_chart, r.figures->frequency, r.segments);
        });
    std::fputs("<h2 id=\"section-detrended\">Time error less each segment's fitted offset</h2>\n", out);
    write_charts(
        out, r, DETRENDED,
        [&](std::FILE *to, int i) {
            const FileCharts &c = r.file_charts[i];
            write_detrended_chart(to, c.difference, c.phase, c.phase_time, r.files[i].figures.frequency, c.shown);
        },
        [&](std::FILE *to) {
            write_detrended_chart(to, *r.difference_chart, *r.phase_chart, *r.phase_time_chart, r.figures->frequency,
                                  r.segments);
        });
}

void write_comparison(std::FILE *out, const AnalysisSnapshot &r) {
    std::fputs(
        "<h2 id=\"section-comparison\">Files side by side</h2>\n<div class=\"wide\"><table "
        "id=\"comparison-table\">\n<tr><th>file</th><th>samples</th><th>span</th><th>RMS, ms</th><th>p99, "
        "ms</th><th>frequency offset, ppm</th><th>uncertainty (68 %), ppm</th><th>steps</th><th>commanded, sum "
        "of sizes, ms</th><th>OADEV \xcf\x84<sub>0</sub></th><th>OADEV 64 \xcf\x84<sub>0</sub></th><th>OADEV 1024 "
        "\xcf\x84<sub>0</sub></th><th>MTIE 64 \xcf\x84<sub>0</sub>, ms</th></tr>\n",
        out);
    for (int i = 0; i < r.file_count; ++i) {
        const FileSummary &f = r.files[i];
        const RunStatistics &s = f.statistics;
        std::fprintf(out, R"(<tr><td class="file"><span style="color:%s">&#9632;</span> )", file_colour(i));
        write_xml_text(out, f.name);
        std::fprintf(out, "</td><td class=\"n\">%llu</td>", static_cast<unsigned long long>(s.samples));
        char span[64] = "&ndash;";
        if (s.first_utc_ms != UNKNOWN_TIME_MS) {
            format_duration(span, sizeof span, s.last_utc_ms - s.first_utc_ms);
        }
        std::fprintf(out, "<td class=\"n\">%s</td>", span);
        write_optional_cell(out, f.figures.has_regular_lines, f.figures.difference_rms_ms, 6, Shown::fixed);
        const Percentiles &percentiles = f.figures.percentiles;
        write_optional_cell(out, percentiles.known[PERCENTILE_COUNT - 1], percentiles.ms[PERCENTILE_COUNT - 1], 4,
                            Shown::signed_fixed);
        const FrequencyFigures &frequency = f.figures.frequency;
        write_offset_cell(out, frequency, f.figures.fitted_across_slews);
        write_optional_cell(out, frequency.has_uncertainty, frequency.uncertainty_ppm, 2, Shown::significant);
        std::fprintf(out, "<td class=\"n\">%llu</td>", static_cast<unsigned long long>(s.steps));
        write_optional_cell(out, true, f.episodes.commanded_abs_ms, 4, Shown::fixed);
        for (const int m : {1, 64, 1024}) {
            const StabilityPoint *p = stability_at(f, m);
            if (p != nullptr) {
                char text[NUMBER_TEXT_SIZE];
                *put_scientific_to_uncertainty(text, p->oadev,
                                               interval_uncertainty(p->oadev, p->oadev_low, p->oadev_high), 3) = '\0';
                std::fprintf(out, "<td class=\"n\">%s</td>", text);
            } else {
                write_optional_cell(out, false, 0, 0, Shown::fixed);
            }
        }
        const StabilityPoint *p = stability_at(f, 64);
        write_optional_cell(out, p != nullptr, p != nullptr ? p->mtie_ns / 1e6 : 0, 4, Shown::significant);
        std::fputs("</tr>\n", out);
    }
    std::fputs("</table></div>\n<figure>\n", out);
    write_stability_comparison(out, r.files, r.file_count);
    write_figure(out, "Each file's overlapping Allan deviation against the averaging time \xcf\x84, in its colour.");
    std::fputs("<figure>\n", out);
    write_distribution_comparison(out, r.files, r.file_count);
    write_figure(out, "Each file's lines without a step by their difference, as the share of the file's lines per ms, "
                      "so that files of any length compare; the middle 99.8 % of each drawn.");
}

}  // namespace

void write_html_report(std::FILE *out, const AnalysisSnapshot &snapshot, int64_t now_ms) {
    char title_name[TITLE_SIZE];
    format_title(title_name, sizeof title_name, snapshot);
    std::fputs("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>tickwatch report: ",
               out);
    write_xml_text(out, title_name);
    std::fputs("</title>\n<style>\n", out);
    write_style(out);
    std::fputs("</style>\n</head>\n<body>\n<h1>tickwatch report: ", out);
    write_xml_text(out, title_name);
    std::fputs("</h1>\n", out);
    write_verdict(out, snapshot, now_ms);
    std::fputs("<p class=\"note\">", out);
    for (int i = 0; i < snapshot.log_count; ++i) {
        std::fputs(i == 0 ? "From " : ", ", out);
        write_xml_text(out, snapshot.log_names[i]);
    }
    std::fprintf(out, ": %ld run%s, %llu sample%s", static_cast<long>(snapshot.runs), snapshot.runs == 1 ? "" : "s",
                 static_cast<unsigned long long>(snapshot.total->samples), snapshot.total->samples == 1 ? "" : "s");
    if (snapshot.unrecognised_lines > 0) {
        std::fprintf(out, ", %llu line%s not understood", static_cast<unsigned long long>(snapshot.unrecognised_lines),
                     snapshot.unrecognised_lines == 1 ? "" : "s");
    }
    if (snapshot.log_count > 1) {
        std::fputs("; each total is pooled over every file", out);
    }
    std::fputs(".</p>\n", out);
    write_summary(out, snapshot);

    write_time_charts(out, snapshot, title_name);
    write_stability(out, snapshot);
    std::fputs("<h2 id=\"section-distribution\">Distribution of the difference</h2>\n<figure>\n", out);
    write_difference_histogram(out, *snapshot.differences);
    write_figure(out, "The lines without a step, over all runs; the middle 99.8 % of them drawn.");

    write_corrections(out, snapshot);
    if (snapshot.file_count > 1) {
        write_comparison(out, snapshot);
    }
    write_events(out, snapshot);
    write_glossary(out);
    std::fputs("</body>\n</html>\n", out);
}
