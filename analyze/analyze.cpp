#include "analyze/analyze.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/statistics.h"
#include "analyze/live.h"
#include "analyze/options.h"
#include "analyze/output/csv_output.h"
#include "analyze/output/escape.h"
#include "analyze/output/html_report.h"
#include "analyze/output/json_summary.h"
#include "analyze/output/metrics.h"
#include "analyze/output/output_file.h"
#include "analyze/output/status_line.h"
#include "analyze/output/svg_chart.h"
#include "analyze/output/text_summary.h"
#include "analyze/parse/follow.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/log_reader.h"
#include "app/version.h"

// Lines not understood are named up to this many per file, and counted.
constexpr uint64_t MAX_SHOWN_WARNINGS = 5;
// (Not const: it takes the place of "-" among the names in argv.)
static char standard_input_name[] = "standard input";

namespace {

struct Analysis {
    AnalyzeOptions options;
    OutputFile csv_output;
    OutputFile svg_output;
    OutputFile html_output;
    OutputFile metrics_output;
    std::FILE *csv;         // csv_output's, with --csv without --follow; standard output with --csv -
    std::FILE *summary;     // standard output, or standard error when the CSV has it
    LiveCsv live_csv;       // with --csv and --follow (csv_live)
    ChartData *chart;       // with --svg or --html
    ReportRecords *report;  // with --html
    bool run_open;
    LogRun run;
    int32_t runs;
    RunStatistics total;
    EpisodeTotals total_episodes;
    // The LOG being read, and what its runs add up to so far.
    int file_index;
    int32_t file_runs;
    RunStatistics file_total;
    EpisodeTotals file_episodes;
    FileSummary *files;  // one per LOG, filled as each is read to its end
    int files_summarised;
    uint64_t unrecognised_lines;
    uint64_t outside_window;                 // report lines left out by --from and --to
    DifferenceSizeBuckets difference_sizes;  // of every sample, for --metrics
    ReportFields last_sample;                // with has_last_sample
    bool has_last_sample;
    bool csv_live;
    bool csv_written;
    bool failed;
};

// Large, and needed once: kept out of the stack.
char read_block[READ_BLOCK_SIZE];
ChartData chart_data;
PhaseSegment phase_segment;  // of the open run
DifferenceCounts run_differences;
DifferenceCounts total_differences;
ChartData phase_chart;
ChartData phase_time_chart;  // the phase points' times in their segments, s
ChartData rate_chart;        // the measured rate of the unmarked lines, ppm
ReportRecords report_records;
RunEpisodes run_episodes;  // of the open run
DifferenceCounts file_differences;

bool is_standard_input(const char *name) { return std::strcmp(name, "-") == 0; }

char *display_name(char *name) { return is_standard_input(name) ? standard_input_name : name; }

void report_problem(const char *name, const char *problem, const char *reason) {
    std::fprintf(stderr, "tickwatch-analyze: %s: %s%s%s\n", name, problem, *reason != '\0' ? ": " : "", reason);
}

// Every log is checked before any is read: a typo in the last name should
// not cost the reading of all the others. Checked without opening it: each
// log is opened once, as a named pipe can be.
bool check_readable(const char *name) {
    if (is_standard_input(name)) {
        return true;
    }
    FileKind kind = FileKind::other;
    if (!find_file(name, kind)) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    if (kind == FileKind::directory) {
        report_problem(name, "cannot read", "it is a directory");
        return false;
    }
#ifdef _WIN32
    const bool may_read = _access(name, 4) == 0;
#else
    const bool may_read = access(name, R_OK) == 0;
#endif
    if (!may_read) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    return true;
}

// With --follow, the last log: a regular file, or none yet. One not there
// yet is no output either, told by its name.
bool check_followable(const char *name, const char *const *outputs, int output_count) {
    FileKind kind = FileKind::other;
    if (find_file(name, kind)) {
        if (kind != FileKind::regular && !is_standard_input(name)) {
            report_problem(name, "cannot follow", "not a regular file");
            return false;
        }
        return check_readable(name);
    }
    if (errno != ENOENT) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    for (int i = 0; i < output_count; ++i) {
        if (same_output_name(outputs[i], name)) {
            report_problem(outputs[i], "the output is the same file as the log", name);
            return false;
        }
    }
    return true;
}

void open_run(Analysis &a, const char *file, uint64_t line) {
    a.run_open = true;
    a.run.number = ++a.runs;
    a.run.file = file;
    a.run.first_line = line;
    a.run.last_line = line;
    start_statistics(a.run.statistics, &phase_segment, &run_differences);
    start_episodes(run_episodes);
}

void close_run(Analysis &a) {
    if (!a.run_open) {
        return;
    }
    a.run_open = false;
    end_episodes(run_episodes);
    if (a.options.json) {
        write_run_json(stdout, a.run, a.run.number == 1, run_episodes);
    } else {
        write_run_text(a.summary, a.run, run_episodes);
    }
    add_run_to_total(a.total, a.run.statistics);
    add_run_to_total(a.file_total, a.run.statistics);
    ++a.file_runs;
    add_episode_totals(a.total_episodes, run_episodes.totals);
    add_episode_totals(a.file_episodes, run_episodes.totals);
    if (a.report != nullptr) {
        keep_run_for_report(*a.report, a.run, run_differences, run_episodes);
    }
}

void add_report(Analysis &a, const ReportFields &sample, const char *file, uint64_t line) {
    if (!a.run_open) {
        open_run(a, file, line);
    }
    // (The run's first sample that the chart can place.)
    const bool starts_run = a.run.statistics.first_utc_ms == UNKNOWN_TIME_MS;
    add_sample(a.run.statistics, sample);
    add_to_episodes(run_episodes, sample);
    count_difference_size(a.difference_sizes, sample.difference_ms);
    a.has_last_sample = true;
    a.last_sample = sample;
    if (a.csv != nullptr) {
        write_csv_row(a.csv, sample, a.run.number);
    } else if (a.csv_live) {
        write_live_csv_row(a.live_csv, sample, a.run.number);
    }
    if (a.chart != nullptr) {
        add_to_chart(*a.chart, sample, a.run.number, starts_run);
    }
    if (a.report != nullptr) {
        // The point the sample ends on, in ms; a segment's first is 0.
        const double phase_ms = phase_segment.ring[phase_segment.head] * PHASE_UNIT_S * 1e3;
        const bool starts_segment = phase_segment.points == 1;
        add_value_to_chart(phase_chart, sample.utc_ms, phase_ms, starts_segment);
        // The point's time in its segment as the fit takes it: its index, τ0 = 1 s.
        add_value_to_chart(phase_time_chart, sample.utc_ms, static_cast<double>(phase_segment.points - 1),
                           starts_segment);
    }
    double rate_ppm = 0;
    if (a.chart != nullptr && !sample.marked && sample_rate_ppm(sample, rate_ppm)) {
        add_value_to_chart(rate_chart, sample.utc_ms, rate_ppm, starts_run);
    }
}

struct FileCounts {
    uint64_t reports;
    uint64_t unknown;
    uint64_t outside_window;
    uint64_t out_of_step;  // samples sooner after the line before than their own interval
};

// Two tickwatch writing to one log interleave their lines: a sample then
// follows the line before sooner than its system time advanced since its
// own previous sample (lines lost make it later, never sooner). The sample
// time is printed to the millisecond: a little slack.
constexpr double OUT_OF_STEP_SLACK_MS = 2;

bool out_of_step(const Analysis &a, const ReportFields &sample) {
    const int64_t previous = a.run.statistics.previous_utc_ms;
    return a.run_open && previous != UNKNOWN_TIME_MS && sample.utc_ms != UNKNOWN_TIME_MS &&
           static_cast<double>(sample.utc_ms - previous) < sample.system_ms - OUT_OF_STEP_SLACK_MS;
}

void warn_unknown(FileCounts &counts, const char *name, uint64_t line, const char *what, const char *text,
                  size_t length) {
    if (++counts.unknown > MAX_SHOWN_WARNINGS) {
        return;
    }
    while (length > 0 && text[length - 1] == '\r') {
        --length;
    }
    char excerpt[64];
    printable_excerpt(excerpt, sizeof excerpt, text, length);
    std::fprintf(stderr, "tickwatch-analyze: %s:%llu: %s%s%s%s\n", name, static_cast<unsigned long long>(line), what,
                 length > 0 ? ": \"" : "", excerpt, length > 0 ? "\"" : "");
}

// Reads one log through. False when it cannot be read to its end.
bool analyze_log(Analysis &a, LogReader &reader, const char *name, FileCounts &counts) {
    for (;;) {
        // Ctrl+C while an earlier LOG is read: what was read is the summary.
        // (The followed one is read to what it held at the stop.)
        if (!reader.waits_for_line_end && stop_requested()) {
            return true;
        }
        const char *text = nullptr;
        size_t length = 0;
        const ReadResult result = read_line(reader, text, length);
        const uint64_t line = reader.line_number;
        if (result == ReadResult::end) {
            return true;
        }
        if (result == ReadResult::error) {
            report_problem(name, "cannot read", std::strerror(errno));
            return false;
        }
        if (result == ReadResult::too_long) {
            warn_unknown(counts, name, line, "a line too long for a log, skipped", "", 0);
            continue;
        }
        if (result == ReadResult::cut_short) {
            std::fprintf(stderr, "tickwatch-analyze: %s:%llu: the last line has no line end (cut short?), left out\n",
                         name, static_cast<unsigned long long>(line));
            continue;
        }
        ReportFields sample;
        const LineKind kind = parse_log_line(text, length, sample);
        const bool outside = kind == LineKind::report && !is_within(a.options.window, sample.utc_ms);
        if (a.run_open && kind != LineKind::banner && kind != LineKind::cut_then_banner && !outside) {
            a.run.last_line = line;
        }
        switch (kind) {
        case LineKind::report:
            ++counts.reports;
            if (outside) {
                // The run is cut at the window's edge.
                ++counts.outside_window;
                close_run(a);
                break;
            }
            if (out_of_step(a, sample) && counts.out_of_step++ == 0) {
                std::fprintf(stderr,
                             "tickwatch-analyze: %s:%llu: a sample %.0f ms after the line before, though its system "
                             "time advanced %.4f ms: two tickwatch writing to one log?\n",
                             name, static_cast<unsigned long long>(line),
                             static_cast<double>(sample.utc_ms - a.run.statistics.previous_utc_ms), sample.system_ms);
            }
            add_report(a, sample, name, line);
            break;
        case LineKind::cut_then_banner:
            warn_unknown(counts, name, line, "a line cut short, then a new run", text, length);
            [[fallthrough]];
        case LineKind::banner:
            close_run(a);
            // With a window, a run starts at its first sample within it.
            if (!is_limited(a.options.window)) {
                open_run(a, name, line);
            }
            break;
        case LineKind::unknown:
            warn_unknown(counts, name, line, "not a report line or a message of tickwatch", text, length);
            break;
        case LineKind::wrong_difference:
            warn_unknown(counts, name, line, "a difference that is not the system time's advance minus the counter's",
                         text, length);
            break;
        case LineKind::wrong_marker:
            warn_unknown(counts, name, line, "a marker that disagrees with the difference", text, length);
            break;
        case LineKind::out_of_range:
            warn_unknown(counts, name, line, "a value beyond any that tickwatch writes", text, length);
            break;
        case LineKind::message:
        case LineKind::empty:
            break;
        }
    }
}

// The log's last run ends with it; its lines not understood are counted in.
void end_log(Analysis &a, const FileCounts &counts, const char *name) {
    close_run(a);
    a.unrecognised_lines += counts.unknown;
    a.outside_window += counts.outside_window;
    if (counts.unknown > MAX_SHOWN_WARNINGS) {
        std::fprintf(stderr, "tickwatch-analyze: %s: %llu lines not understood, the first %llu named above\n", name,
                     static_cast<unsigned long long>(counts.unknown),
                     static_cast<unsigned long long>(MAX_SHOWN_WARNINGS));
    }
    if (counts.out_of_step > 0) {
        std::fprintf(stderr,
                     "tickwatch-analyze: %s: %llu samples out of step with the line before them, the first named "
                     "above; the runs they are in mix the samples of two tickwatch\n",
                     name, static_cast<unsigned long long>(counts.out_of_step));
    }
}

// Each LOG's figures apart: its runs pooled, summed up when it has been read.
void begin_file(Analysis &a, int index) {
    a.file_index = index;
    a.file_runs = 0;
    start_statistics(a.file_total, nullptr, &file_differences);
    a.file_episodes = EpisodeTotals{};
}

void finish_file(Analysis &a) {
    summarise_file(a.files[a.files_summarised++], display_name(a.options.logs[a.file_index]), a.file_runs, a.file_total,
                   a.file_episodes, file_differences);
}

// Reads one log from its name; false if it cannot be read or holds no
// report line at all.
bool analyze_named_log(Analysis &a, char *name) {
    const char *shown = display_name(name);
    std::FILE *file = stdin;
    if (!is_standard_input(name)) {
        file = std::fopen(name, "rb");
        if (file == nullptr) {
            report_problem(shown, "cannot read", std::strerror(errno));
            return false;
        }
    } else {
#ifdef _WIN32
        // CR LF as it is, and no end at a Ctrl+Z.
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    }
    FileCounts counts = {};
    LogReader reader;
    start_reading(reader, file, read_block);
    const bool read = analyze_log(a, reader, shown, counts);
    if (file != stdin) {
        std::fclose(file);
    }
    end_log(a, counts, shown);
    finish_file(a);
    if (read && counts.reports == 0) {
        report_problem(shown, "no report lines in it", counts.unknown > 0 ? "not a tickwatch log?" : "");
        return false;
    }
    return read;
}

// What the chart's title names: the log, or the first of them.
void chart_title(char *buffer, size_t size, const AnalyzeOptions &options) {
    const char *first = display_name(options.logs[0]);
    if (options.log_count == 1) {
        std::snprintf(buffer, size, "%s", first);
    } else {
        std::snprintf(buffer, size, "%s and %d more", first, options.log_count - 1);
    }
}

// Replaces the outputs only when everything succeeded, each written out
// before any is replaced.
bool finish_outputs(Analysis &a) {
    OutputFile *outputs[] = {&a.csv_output, &a.svg_output, &a.html_output, &a.metrics_output};
    bool finished = !a.failed;
    for (OutputFile *output : outputs) {
        finished = finished && finish_output_file(*output);
    }
    for (OutputFile *output : outputs) {
        if (finished) {
            finished = commit_output_file(*output);
        } else {
            discard_output_file(*output);
        }
    }
    return finished;
}

// The totals so far: the open run's samples counted in, and with --follow
// the lines of the followed file.
RunStatistics total_so_far;
FileCounts followed_counts;

const RunStatistics &figures_so_far(const Analysis &a) {
    total_so_far = a.total;
    total_so_far.difference_counts = nullptr;  // the total's own, added to only when a run ends
    if (a.run_open) {
        add_run_to_total(total_so_far, a.run.statistics);
    }
    return total_so_far;
}

void write_chart(std::FILE *out, const Analysis &a) {
    char title[512];
    chart_title(title, sizeof title, a.options);
    const ChartData &rate = rate_chart;
    write_svg_chart(out, chart_data, rate, frequency_figures(figures_so_far(a).phase.frequency, PHASE_UNIT_S), title);
}

void write_metrics_of(std::FILE *out, const Analysis &a) {
    MetricsFigures figures = {};
    figures.log_name = file_name_of(display_name(a.options.logs[a.options.log_count - 1]));
    figures.total = &figures_so_far(a);
    figures.differences = &a.difference_sizes;
    figures.unrecognised_lines = a.unrecognised_lines + followed_counts.unknown;
    figures.has_last_sample = a.has_last_sample;
    figures.last_sample = a.last_sample;
    const FrequencyFigures frequency = frequency_figures(figures.total->phase.frequency, PHASE_UNIT_S);
    figures.has_frequency_offset = frequency.has_offset;
    figures.frequency_offset_ratio = frequency.offset_ppm / 1e6;
    StabilityPoint points[STABILITY_TAUS];
    const int count = list_stability(figures.total->phase.stability, PHASE_UNIT_S, points);
    for (int i = 0; i < count && figures.oadev_count < MAX_OADEV_POINTS; ++i) {
        if (points[i].tau_s <= MAX_OADEV_TAU_SECONDS) {
            figures.oadev[figures.oadev_count++] = {points[i].tau_s, points[i].oadev};
        }
    }
    write_metrics(out, figures);
}

// The report, the open run's figures counted in (with --follow; at the end
// every run has ended).
ReportRecords report_so_far;
DifferenceCounts differences_so_far;
RunEpisodes episodes_so_far;
FileSummary *files_so_far;  // as many as LOGs
RunStatistics file_total_so_far;
DifferenceCounts file_differences_so_far;

// Each file's summary, the one being read counted in with its open run.
int summaries_so_far(const Analysis &a) {
    int count = a.files_summarised;
    for (int i = 0; i < count; ++i) {
        files_so_far[i] = a.files[i];
    }
    if (a.options.follow && count < a.options.log_count && count == a.file_index) {
        file_total_so_far = a.file_total;
        file_differences_so_far = file_differences;
        file_total_so_far.difference_counts = &file_differences_so_far;
        EpisodeTotals episodes = a.file_episodes;
        int32_t runs = a.file_runs;
        if (a.run_open) {
            add_run_to_total(file_total_so_far, a.run.statistics);
            add_episode_totals(episodes, episode_totals_so_far(run_episodes));
            ++runs;
        }
        summarise_file(files_so_far[count++], display_name(a.options.logs[a.file_index]), runs, file_total_so_far,
                       episodes, file_differences_so_far);
    }
    return count;
}

void write_report_of(std::FILE *out, const Analysis &a) {
    report_so_far = report_records;
    differences_so_far = total_differences;
    report_so_far.episodes = a.total_episodes;
    if (a.run_open) {
        episodes_so_far = run_episodes;
        end_episodes(episodes_so_far);
        keep_run_for_report(report_so_far, a.run, run_differences, episodes_so_far);
        add_counts(differences_so_far, run_differences);
        add_episode_totals(report_so_far.episodes, episodes_so_far.totals);
    }
    report_so_far.total = figures_so_far(a);
    report_so_far.total_figures = report_figures(report_so_far.total, differences_so_far);
    report_so_far.total_counts = &differences_so_far;
    report_so_far.files = a.options.logs;
    report_so_far.file_count = a.options.log_count;
    report_so_far.unrecognised_lines = a.unrecognised_lines + followed_counts.unknown;
    report_so_far.difference = &chart_data;
    report_so_far.phase = &phase_chart;
    report_so_far.phase_time = &phase_time_chart;
    report_so_far.rate = &rate_chart;
    report_so_far.compared = files_so_far;
    report_so_far.compared_count = summaries_so_far(a);
    char title[512];
    chart_title(title, sizeof title, a.options);
    write_html_report(out, report_so_far, title);
}

// With --follow: an output written whole again, through a temporary
// renamed over it, so that a reader sees the old one or the new one.
bool rewrite_output(OutputFile &output, const char *target, void (*write)(std::FILE *, const Analysis &),
                    const Analysis &a) {
    if (!open_output_file(output, target)) {
        return false;
    }
    write(output.file, a);
    return commit_output_file(output);
}

bool rewrite_outputs(Analysis &a) {
    bool written = true;
    if (a.options.svg_file != nullptr) {
        written = rewrite_output(a.svg_output, a.options.svg_file, write_chart, a) && written;
    }
    if (a.options.html_file != nullptr) {
        written = rewrite_output(a.html_output, a.options.html_file, write_report_of, a) && written;
    }
    if (a.options.metrics_file != nullptr) {
        written = rewrite_output(a.metrics_output, a.options.metrics_file, write_metrics_of, a) && written;
    }
    return written;
}

// With --follow the CSV's rows go straight to it as they come: it is made
// empty through its temporary, then appended to.
bool open_csv_in_place(Analysis &a) {
    if (!commit_output_file(a.csv_output)) {
        return false;
    }
    a.csv_live = begin_live_csv(a.live_csv, a.options.csv_file, a.csv_output.destination);
    return a.csv_live;
}

// --follow: the last log, read on as it grows.

void read_followed_lines(void *context, LogReader &reader, const char *name) {
    auto &a = *static_cast<Analysis *>(context);
    if (!analyze_log(a, reader, name, followed_counts)) {
        a.failed = true;
    }
    // The rows as they come.
    if (a.csv_live) {
        flush_live_csv(a.live_csv);
    } else if (a.csv != nullptr) {
        flush_csv(a.csv);
    }
}

void end_followed_file(void *context, const char *name, bool dropped_partial_line) {
    auto &a = *static_cast<Analysis *>(context);
    if (dropped_partial_line) {
        std::fprintf(stderr, "tickwatch-analyze: %s: the last line has no line end (cut short?), left out\n", name);
    }
    end_log(a, followed_counts, name);
    followed_counts = FileCounts{};
}

void publish_so_far(void *context) {
    auto &a = *static_cast<Analysis *>(context);
    const RunStatistics &total = figures_so_far(a);
    // Standard output is the JSON document's alone.
    std::FILE *out = a.options.json || a.summary != stdout ? stderr : stdout;
    write_status_line(out, static_cast<int64_t>(std::time(nullptr)) * 1000, total,
                      a.has_last_sample ? &a.last_sample.difference_ms : nullptr);
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        // Nobody reads on: the outputs are written, and it ends.
        report_problem(out == stdout ? "standard output" : "standard error", "cannot write", std::strerror(errno));
        a.failed = true;
        request_stop();
    }
    rewrite_outputs(a);
}

}  // namespace

int run_analyze(int argc, char **argv) {
    static Analysis a;
    a = Analysis{};
    start_statistics(a.total, nullptr, &total_differences);
    if (!parse_options(argc, argv, a.options)) {
        return EXIT_TROUBLE;
    }
    if (a.options.show_help) {
        std::fputs(ANALYZE_USAGE, stdout);
        return 0;
    }
    if (a.options.show_version) {
        std::printf("tickwatch-analyze %s\n", BUILT_IN_VERSION);
        return 0;
    }
#ifdef SIGPIPE
    // A reader of standard output that goes away is a write that fails,
    // said as such, and the outputs' temporaries are removed.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (a.options.follow) {
        // Before any LOG is read: Ctrl+C ends it as documented from the start.
        catch_stop_signals();
    }
#ifdef _WIN32
    // File names in the ANSI code page, as the run-time's own functions
    // take them, for std::filesystem too.
    std::setlocale(LC_CTYPE, "");
#endif
    const char *outputs[4];
    int output_count = 0;
    // "-" for the CSV: standard output, which then is the CSV's alone.
    const bool csv_to_stdout = a.options.csv_file != nullptr && std::strcmp(a.options.csv_file, "-") == 0;
    a.summary = csv_to_stdout ? stderr : stdout;
    for (const char *output : {a.options.csv_file, a.options.svg_file, a.options.html_file, a.options.metrics_file}) {
        if (output != nullptr && !(output == a.options.csv_file && csv_to_stdout)) {
            outputs[output_count++] = output;
        }
    }
    // Before anything is opened for writing.
    if (!check_output_names(outputs, output_count, a.options.logs, a.options.log_count)) {
        return EXIT_TROUBLE;
    }
    bool readable = true;
    for (int i = 0; i < a.options.log_count; ++i) {
        // The followed log may not be there yet: tickwatch makes it at its
        // first line, and the loop waits for it.
        const bool followed = a.options.follow && i == a.options.log_count - 1;
        if (followed) {
            readable = check_followable(a.options.logs[i], outputs, output_count) && readable;
        } else {
            readable = check_readable(a.options.logs[i]) && readable;
        }
    }
    if (!readable) {
        return EXIT_TROUBLE;
    }
    if (csv_to_stdout) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);  // LF as in a CSV file
#endif
        a.csv = stdout;
        begin_csv(a.csv);
    } else if (a.options.csv_file != nullptr) {
        if (!open_output_file(a.csv_output, a.options.csv_file)) {
            return EXIT_TROUBLE;
        }
        if (!a.options.follow) {
            a.csv = a.csv_output.file;
            begin_csv(a.csv);
        }
    }
    // Each output is opened here, with --follow too, so that one that cannot
    // be written is refused at the start.
    if (a.options.svg_file != nullptr) {
        if (!open_output_file(a.svg_output, a.options.svg_file)) {
            discard_output_file(a.csv_output);
            return EXIT_TROUBLE;
        }
    }
    if (a.options.html_file != nullptr) {
        if (!open_output_file(a.html_output, a.options.html_file)) {
            discard_output_file(a.csv_output);
            discard_output_file(a.svg_output);
            return EXIT_TROUBLE;
        }
        a.report = &report_records;
        report_records = ReportRecords{};
        start_chart(phase_chart);
        start_chart(phase_time_chart);
    }
    if (a.options.svg_file != nullptr || a.options.html_file != nullptr) {
        a.chart = &chart_data;
        start_chart(chart_data);
        start_chart(rate_chart);
    }
    if (a.options.metrics_file != nullptr && !open_output_file(a.metrics_output, a.options.metrics_file)) {
        discard_output_file(a.csv_output);
        discard_output_file(a.svg_output);
        discard_output_file(a.html_output);
        return EXIT_TROUBLE;
    }
    if (a.options.follow) {
        // The chart, the report and the metrics are written whole at each
        // interval instead; the CSV is made empty and appended to.
        discard_output_file(a.svg_output);
        discard_output_file(a.html_output);
        discard_output_file(a.metrics_output);
        if (a.options.csv_file != nullptr && !csv_to_stdout && !open_csv_in_place(a)) {
            return EXIT_TROUBLE;
        }
    }

    if (a.options.json) {
        begin_json(stdout);
    }
    // With --follow, the last log is read by the loop, from its start; no
    // further log once the summary cannot be written.
    const int read_whole = a.options.follow ? a.options.log_count - 1 : a.options.log_count;
    const auto files = std::make_unique<FileSummary[]>(static_cast<size_t>(a.options.log_count));
    a.files = files.get();
    std::unique_ptr<FileSummary[]> report_files;
    if (a.report != nullptr) {
        report_files = std::make_unique<FileSummary[]>(static_cast<size_t>(a.options.log_count));
        files_so_far = report_files.get();
    }
    for (int i = 0; i < read_whole && std::ferror(stdout) == 0 && !stop_requested(); ++i) {
        begin_file(a, i);
        if (!analyze_named_log(a, a.options.logs[i])) {
            a.failed = true;
        }
    }
    if (a.options.follow && !stop_requested()) {
        begin_file(a, a.options.log_count - 1);
        const LiveAnalysis live = {&a, read_followed_lines, end_followed_file, publish_so_far};
        follow_log(a.options.logs[a.options.log_count - 1], a.options.interval_seconds, read_block, live);
        finish_file(a);
    }
    // The names as shown: standard input by its name.
    for (int i = 0; i < a.options.log_count; ++i) {
        a.options.logs[i] = display_name(a.options.logs[i]);
    }
    const PooledSummary pooled = {a.runs,          a.total_episodes,   a.options.logs,       a.options.log_count,
                                  a.files,         a.files_summarised, a.unrecognised_lines, a.outside_window,
                                  a.options.window};
    if (a.options.json) {
        end_json(stdout, a.total, pooled);
    } else {
        write_total_text(a.summary, a.total, pooled);
    }

    if (a.csv != nullptr) {
        a.csv_written = end_csv(a.csv);
    }
    if (a.options.follow) {
        // The rows were written in place as they came.
        if (a.csv_live && !end_live_csv(a.live_csv)) {
            a.failed = true;
        }
        a.failed = !rewrite_outputs(a) || a.failed;
    } else {
        if (a.options.svg_file != nullptr) {
            write_chart(a.svg_output.file, a);
        }
        if (a.report != nullptr) {
            write_report_of(a.html_output.file, a);
        }
        if (a.options.metrics_file != nullptr) {
            write_metrics_of(a.metrics_output.file, a);
        }
    }
    if (std::fflush(stdout) != 0) {
        report_problem("standard output", "cannot write", std::strerror(errno));
        a.failed = true;
    } else if (std::ferror(stdout) != 0) {
        report_problem("standard output", "cannot write", "a write failed");
        a.failed = true;
    }
    return finish_outputs(a) ? 0 : EXIT_TROUBLE;
}
