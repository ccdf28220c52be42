#include "analyze/analyze.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "analyze/files/log_input.h"
#include "analyze/files/output_set.h"
#include "analyze/live.h"
#include "analyze/options.h"
#include "analyze/pipeline.h"
#include "analyze/report/csv_output.h"
#include "analyze/report/escape.h"
#include "analyze/report/html_report.h"
#include "analyze/report/json_summary.h"
#include "analyze/report/metrics.h"
#include "analyze/report/status_line.h"
#include "analyze/report/svg_chart.h"
#include "analyze/report/text_summary.h"
#include "app/version.h"

// Lines not understood are named up to this many per file, and counted.
constexpr uint64_t MAX_SHOWN_WARNINGS = 5;

namespace {

const char *issue_text(LineIssue issue) {
    switch (issue) {
    case LineIssue::too_long:
        return "a line too long for a log, skipped";
    case LineIssue::cut_then_banner:
        return "a line cut short, then a new run";
    case LineIssue::not_understood:
        return "not a report line or a message of tickwatch";
    case LineIssue::wrong_difference:
        return "a difference that is not the system time's advance minus the counter's";
    case LineIssue::wrong_marker:
        return "a marker that disagrees with the difference";
    case LineIssue::out_of_range:
        return "a value beyond any that tickwatch writes";
    case LineIssue::no_line_end:
        break;
    }
    return "the last line has no line end (cut short?), left out";
}

// Each line skipped on standard error, up to MAX_SHOWN_WARNINGS a file.
void tell_skipped_line(const SkippedLine &line) {
    const auto number = static_cast<unsigned long long>(line.number);
    if (line.issue == LineIssue::no_line_end) {
        std::fprintf(stderr, "tickwatch-analyze: %s:%llu: %s\n", line.file, number, issue_text(line.issue));
        return;
    }
    if (line.not_understood > MAX_SHOWN_WARNINGS) {
        return;
    }
    size_t length = line.text.size();
    while (length > 0 && line.text[length - 1] == '\r') {
        --length;
    }
    char excerpt[64];
    printable_excerpt(excerpt, sizeof excerpt, line.text.data(), length);
    std::fprintf(stderr, "tickwatch-analyze: %s:%llu: %s%s%s%s\n", line.file, number, issue_text(line.issue),
                 length > 0 ? ": \"" : "", excerpt, length > 0 ? "\"" : "");
}

// The first sample out of step in a file, when it comes.
void tell_out_of_step(const OutOfStepSample &sample) {
    if (sample.out_of_step == 1) {
        std::fprintf(stderr,
                     "tickwatch-analyze: %s:%llu: a sample %.0f ms after the line before, though its system time "
                     "advanced %.4f ms: two tickwatch writing to one log?\n",
                     sample.file, static_cast<unsigned long long>(sample.number), sample.after_ms, sample.system_ms);
    }
}

// The end of a log's reading: its lines not understood beyond those named,
// and how many samples were out of step.
void tell_file_counts(const char *name, const FileCounts &counts) {
    if (counts.not_understood > MAX_SHOWN_WARNINGS) {
        std::fprintf(stderr, "tickwatch-analyze: %s: %llu lines not understood, the first %llu named above\n", name,
                     static_cast<unsigned long long>(counts.not_understood),
                     static_cast<unsigned long long>(MAX_SHOWN_WARNINGS));
    }
    if (counts.out_of_step > 0) {
        std::fprintf(stderr,
                     "tickwatch-analyze: %s: %llu samples out of step with the line before them, the first named "
                     "above; the runs they are in mix the samples of two tickwatch\n",
                     name, static_cast<unsigned long long>(counts.out_of_step));
    }
}

// Every log as shown in the outputs.
std::unique_ptr<const char *[]> shown_names(const AnalyzeOptions &options) {
    auto names = std::make_unique<const char *[]>(static_cast<size_t>(options.log_count));
    for (int i = 0; i < options.log_count; ++i) {
        names.get()[i] = shown_log_name(options.logs[i]);
    }
    return names;
}

// What the chart's and the report's title names: the log, or the first of
// them.
std::unique_ptr<char[]> title_of(const AnalyzeOptions &options, const char *const *shown) {
    constexpr size_t TITLE_SIZE = 512;
    auto title = std::make_unique<char[]>(TITLE_SIZE);
    if (options.log_count == 1) {
        std::snprintf(title.get(), TITLE_SIZE, "%s", shown[0]);
    } else {
        std::snprintf(title.get(), TITLE_SIZE, "%s and %d more", shown[0], options.log_count - 1);
    }
    return title;
}

// "-" for the CSV: standard output, which then is the CSV's alone.
bool csv_to_standard_output(const AnalyzeOptions &options) {
    return options.csv_file != nullptr && std::strcmp(options.csv_file, "-") == 0;
}

// One run of tickwatch-analyze over checked logs and opened outputs: the
// pipeline tells it each run for the summary and with --csv each sample's
// row, and with --follow the loop asks it to read and to publish.
class Analysis final : public PipelineListener, public LiveAnalysis {
  public:
    Analysis(const AnalyzeOptions &options, OutputSet &outputs)
        : options_(options), outputs_(outputs), summary_(csv_to_standard_output(options) ? stderr : stdout),
          shown_logs_(shown_names(options)), title_(title_of(options, shown_logs_.get())),
          pipeline_(PipelineSettings{outputs.wanted(OutputKind::svg) || outputs.wanted(OutputKind::html),
                                     outputs.wanted(OutputKind::html), options.window,
                                     options.json || outputs.wanted(OutputKind::html) ? StabilityIntervals::all
                                                                                      : StabilityIntervals::oadev,
                                     shown_logs_.get(), options.log_count, title_.get()},
                    *this),
          read_block_(std::make_unique<char[]>(READ_BLOCK_SIZE)) {}

    // Returns the exit status.
    int run();

  private:
    void sample_taken(const ReportFields &sample, int32_t run) override {
        if (csv_ != nullptr) {
            write_csv_row(csv_, sample, run);
        } else if (live_csv_open_) {
            write_live_csv_row(live_csv_, sample, run);
        }
    }
    void run_ended(const RunRecord &run) override {
        if (options_.json) {
            write_run_json(stdout, run, run.run.number == 1);
        } else {
            write_run_text(summary_, run);
        }
    }
    void line_skipped(const SkippedLine &line) override { tell_skipped_line(line); }
    void sample_out_of_step(const OutOfStepSample &sample) override { tell_out_of_step(sample); }
    // --follow: the last log, read on as it grows.
    void read_lines(LogReader &reader, const char *name) override;
    void end_file(const char *name, bool dropped_partial_line) override;
    void publish() override;

    bool read_whole_log(int i);
    bool start_csv();
    void write_output(OutputKind kind, std::FILE *out, const AnalysisSnapshot &snapshot);
    bool rewrite_outputs(const AnalysisSnapshot &snapshot);

    const AnalyzeOptions &options_;
    OutputSet &outputs_;
    std::FILE *summary_;        // standard output, or standard error when the CSV has it
    std::FILE *csv_ = nullptr;  // with --csv: the temporary, or standard output for -
    LiveCsv live_csv_ = {};     // with --csv and --follow: the target itself, with live_csv_open_
    std::unique_ptr<const char *[]> shown_logs_;
    std::unique_ptr<char[]> title_;
    Pipeline pipeline_;
    std::unique_ptr<char[]> read_block_;
    bool failed_ = false;
    bool followed_file_open_ = false;
    bool followed_file_begun_ = false;  // once: after a rename, its summary goes on
    bool live_csv_open_ = false;
};

// Reads one log from its name; false if it cannot be read or holds no
// report line at all.
bool Analysis::read_whole_log(int i) {
    const char *shown = shown_logs_.get()[i];
    std::FILE *file = open_log(options_.logs[i]);
    if (file == nullptr) {
        return false;
    }
    LogReader reader;
    start_reading(reader, file, read_block_.get());
    pipeline_.begin_file(shown);
    // Ctrl+C with --follow while an earlier log is read: what was read is
    // the summary.
    const bool read = pipeline_.read_lines(reader, stop_requested);
    if (!read) {
        report_problem(shown, "cannot read", std::strerror(errno));
    }
    close_log(file);
    const FileCounts counts = pipeline_.end_file();
    tell_file_counts(shown, counts);
    if (read && counts.reports == 0) {
        report_problem(shown, "no report lines in it", counts.not_understood > 0 ? "not a tickwatch log?" : "");
        return false;
    }
    return read;
}

// The CSV's header. With --follow its rows go straight to it as they come:
// it is made empty through its temporary, then appended to, row by row.
bool Analysis::start_csv() {
    if (csv_to_standard_output(options_)) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);  // LF as in a CSV file
#endif
        csv_ = stdout;
    } else if (!outputs_.wanted(OutputKind::csv)) {
        return true;
    } else if (options_.follow) {
        if (!outputs_.commit(OutputKind::csv)) {
            return false;
        }
        live_csv_open_ = begin_live_csv(live_csv_, options_.csv_file, outputs_.destination(OutputKind::csv));
        return live_csv_open_;
    } else {
        csv_ = outputs_.file(OutputKind::csv);
    }
    begin_csv(csv_);
    return true;
}

void Analysis::write_output(OutputKind kind, std::FILE *out, const AnalysisSnapshot &s) {
    switch (kind) {
    case OutputKind::svg:
        write_svg_chart(out, s);
        break;
    case OutputKind::html:
        write_html_report(out, s);
        break;
    case OutputKind::metrics:
        write_metrics(out, s);
        break;
    case OutputKind::csv:
        break;  // row by row
    }
}

// With --follow: the chart, the report and the metrics written whole
// again, each through a temporary renamed over it, so that a reader sees
// the old one or the new one.
bool Analysis::rewrite_outputs(const AnalysisSnapshot &snapshot) {
    bool written = true;
    for (const OutputKind kind : {OutputKind::svg, OutputKind::html, OutputKind::metrics}) {
        if (!outputs_.wanted(kind)) {
            continue;
        }
        if (outputs_.file(kind) == nullptr && !outputs_.open(kind)) {
            written = false;
            continue;
        }
        write_output(kind, outputs_.file(kind), snapshot);
        written = outputs_.commit(kind) && written;
    }
    return written;
}

void Analysis::read_lines(LogReader &reader, const char *name) {
    if (!followed_file_open_) {
        pipeline_.begin_file(shown_logs_.get()[options_.log_count - 1],
                             followed_file_begun_ ? FileStart::same_log : FileStart::next_log);
        followed_file_open_ = true;
        followed_file_begun_ = true;
    }
    if (!pipeline_.read_lines(reader)) {
        report_problem(name, "cannot read", std::strerror(errno));
        failed_ = true;
    }
    // The rows as they come.
    if (live_csv_open_) {
        flush_live_csv(live_csv_);
    } else if (csv_ != nullptr) {
        flush_csv(csv_);
    }
}

void Analysis::end_file(const char *name, bool dropped_partial_line) {
    if (dropped_partial_line) {
        std::fprintf(stderr, "tickwatch-analyze: %s: the last line has no line end (cut short?), left out\n", name);
    }
    if (followed_file_open_) {
        tell_file_counts(name, pipeline_.end_file());
        followed_file_open_ = false;
    }
}

void Analysis::publish() {
    const AnalysisSnapshot &s = pipeline_.snapshot();
    // Standard output is the JSON document's, or the CSV's, alone.
    std::FILE *out = options_.json ? stderr : summary_;
    write_status_line(out, static_cast<int64_t>(std::time(nullptr)) * 1000, s);
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        // Nobody reads on: the outputs are written, and it ends.
        report_problem(out == stdout ? "standard output" : "standard error", "cannot write", std::strerror(errno));
        failed_ = true;
        request_stop();
    }
    rewrite_outputs(s);
}

int Analysis::run() {
    if (!start_csv()) {
        return EXIT_TROUBLE;
    }
    if (options_.json) {
        begin_json(stdout);
    }
    // With --follow, the last log is read by the loop, from its start; no
    // further log once the summary cannot be written.
    const int read_whole = options_.follow ? options_.log_count - 1 : options_.log_count;
    for (int i = 0; i < read_whole && std::ferror(stdout) == 0 && !stop_requested(); ++i) {
        if (!read_whole_log(i)) {
            failed_ = true;
        }
    }
    if (options_.follow && !stop_requested()) {
        follow_log(options_.logs[options_.log_count - 1], options_.interval_seconds, read_block_.get(), *this);
    }
    if (!options_.follow && stop_requested()) {
        // Interrupted before the end: no summary of a part, and the
        // outputs' temporaries go with the output set; the old ones stay.
        report_problem("interrupted", "nothing written", "");
        return EXIT_TROUBLE;
    }
    const AnalysisSnapshot &s = pipeline_.snapshot();
    if (options_.json) {
        end_json(stdout, s);
    } else {
        write_total_text(summary_, s);
    }

    // A write that failed is told by the temporary's commit, or by
    // standard output's check below.
    if (csv_ != nullptr) {
        end_csv(csv_);
    }
    if (options_.follow) {
        // The rows were written in place as they came.
        if (live_csv_open_ && !end_live_csv(live_csv_)) {
            failed_ = true;
        }
        live_csv_open_ = false;
        failed_ = !rewrite_outputs(s) || failed_;
    } else {
        for (const OutputKind kind : {OutputKind::svg, OutputKind::html, OutputKind::metrics}) {
            if (outputs_.wanted(kind)) {
                write_output(kind, outputs_.file(kind), s);
            }
        }
    }
    if (std::fflush(stdout) != 0) {
        report_problem("standard output", "cannot write", std::strerror(errno));
        failed_ = true;
    } else if (std::ferror(stdout) != 0) {
        report_problem("standard output", "cannot write", "a write failed");
        failed_ = true;
    }
    return outputs_.commit_all(!failed_) ? 0 : EXIT_TROUBLE;
}

// Every log is checked before any is read. The followed log may not be
// there yet: tickwatch makes it at its first line, and the loop waits.
bool check_logs(const AnalyzeOptions &options, const char *const *outputs, int output_count) {
    bool readable = true;
    for (int i = 0; i < options.log_count; ++i) {
        const bool followed = options.follow && i == options.log_count - 1;
        if (followed) {
            readable = check_followable(options.logs[i], outputs, output_count) && readable;
        } else {
            readable = check_readable(options.logs[i]) && readable;
        }
    }
    return readable;
}

}  // namespace

int run_analyze(int argc, char **argv) {
    AnalyzeOptions options = {};
    if (!parse_options(argc, argv, options)) {
        return EXIT_TROUBLE;
    }
    if (options.show_help) {
        std::fputs(ANALYZE_USAGE, stdout);
        return 0;
    }
    if (options.show_version) {
        std::printf("tickwatch-analyze %s\n", BUILT_IN_VERSION);
        return 0;
    }
#ifdef SIGPIPE
    // A reader of standard output that goes away is a write that fails,
    // said as such, and the outputs' temporaries are removed.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef _WIN32
    // File names in the ANSI code page, as the run-time's own functions
    // take them, for std::filesystem too.
    std::setlocale(LC_CTYPE, "");
#endif
    // Before any log is read: Ctrl+C ends a --follow as documented, and
    // any other run without leaving its outputs' temporaries behind.
    catch_stop_signals();
    OutputSet outputs;
    outputs.name(OutputKind::csv, csv_to_standard_output(options) ? nullptr : options.csv_file);
    outputs.name(OutputKind::svg, options.svg_file);
    outputs.name(OutputKind::html, options.html_file);
    outputs.name(OutputKind::metrics, options.metrics_file);
    const char *targets[OUTPUT_KINDS];
    const int target_count = outputs.targets(targets);
    // Before anything is opened for writing; and every output before any
    // log is read, with --follow too.
    if (!check_output_names(targets, target_count, options.logs, options.log_count) ||
        !check_logs(options, targets, target_count) || !outputs.open_all()) {
        return EXIT_TROUBLE;
    }
    // Large: kept off the stack.
    const auto analysis = std::make_unique<Analysis>(options, outputs);
    return analysis->run();
}
