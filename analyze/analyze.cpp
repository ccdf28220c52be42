#include "analyze/analyze.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analyze/diagnostics.h"
#include "analyze/files/log_input.h"
#include "analyze/files/log_reader.h"
#include "analyze/files/output_set.h"
#include "analyze/files/system.h"
#include "analyze/live.h"
#include "analyze/options.h"
#include "analyze/outputs.h"
#include "analyze/pipeline.h"
#include "analyze/read_ahead.h"
#include "analyze/report/check.h"
#include "analyze/report/csv_output.h"
#include "app/version.h"

namespace {

// Every log as shown in the outputs.
std::unique_ptr<const char *[]> shown_names(const AnalyzeOptions &options) {
    auto names = std::make_unique<const char *[]>(static_cast<size_t>(options.log_count));
    for (int i = 0; i < options.log_count; ++i) {
        names.get()[i] = shown_log_name(options.logs[i]);
    }
    return names;
}

// One run of tickwatch-analyze over checked logs and opened outputs: the
// pipeline tells it each run for the summary and with --csv each sample's
// row, and with --follow the loop tells it when to send the rows on and to
// publish.
class Analysis final : public PipelineListener,
                       public LiveAnalysis {
  public:
    Analysis(const AnalyzeOptions &options, OutputSet &outputs)
        : options_(options), outputs_(outputs), summary_(options), shown_logs_(shown_names(options)),
          pipeline_(pipeline_settings(options, outputs, shown_logs_.get()), *this),
          read_block_(std::make_unique<char[]>(READ_BLOCK_SIZE)) {}

    // Returns the exit status.
    int run();

  private:
    void sample_taken(const ReportFields &sample, int32_t run) override { csv_.write_row(sample, run); }
    void run_ended(const RunRecord &run) override { summary_.write_run(run); }
    void line_skipped(const SkippedLine &line) override { tell_skipped_line(line); }
    void sample_out_of_step(const OutOfStepSample &sample) override { tell_out_of_step(sample); }
    void lines_read() override;
    void publish() override;

    bool read_whole_log(int i);
    bool start_csv();
    int check_status(int status);

    const AnalyzeOptions &options_;
    OutputSet &outputs_;
    FileSystem &system_ = native_file_system();
    Summary summary_;
    // With --csv: to the temporary, or standard output for -; with --follow
    // to the target itself.
    CsvWriter csv_;
    std::unique_ptr<const char *[]> shown_logs_;
    Pipeline pipeline_;
    std::unique_ptr<char[]> read_block_;
    bool failed_ = false;
};

// Reads one log from its name; false if it cannot be read or holds no
// report line at all.
bool Analysis::read_whole_log(int i) {
    const char *shown = shown_logs_.get()[i];
    std::unique_ptr<File> file = open_log(system_, options_.logs[i]);
    if (file == nullptr) {
        return false;
    }
    LogReader reader;
    start_reading(reader, file.get(), read_block_.get());
    pipeline_.begin_file(shown);
    // Ctrl+C with --follow while an earlier log is read: what was read is
    // the summary.
    const bool read = reading_ahead_pays(*file) ? pipeline_.read_lines_ahead(reader, stop_requested)
                                                : pipeline_.read_lines(reader, stop_requested);
    if (!read) {
        report_problem(shown, "cannot read", std::strerror(errno));
    }
    file.reset();
    const FileCounts counts = pipeline_.end_file();
    tell_file_counts(shown, counts);
    // Stopped before its first report line: not read, so not judged.
    if (read && counts.reports == 0 && !stop_requested()) {
        report_problem(shown, "no report lines in it", counts.not_understood > 0 ? what_it_looks_like(reader) : "");
        return false;
    }
    return read;
}

// The CSV's header. With --follow its rows go straight to it as they come:
// it is made empty through its temporary, then appended to, row by row.
bool Analysis::start_csv() {
    if (csv_to_standard_output(options_)) {
        write_standard_output_as_is();  // LF as in a CSV file
        csv_.begin(stdout);
    } else if (!outputs_.wanted(OutputKind::csv)) {
        return true;
    } else if (options_.follow) {
        if (!outputs_.commit(OutputKind::csv)) {
            return false;
        }
        return csv_.begin_live(system_, options_.csv_file, outputs_.destination(OutputKind::csv));
    } else {
        csv_.begin(outputs_.file(OutputKind::csv));
    }
    return true;
}

// With --follow: the rows as they come. Standard output that nobody reads
// any more ends the run (a status line would tell it only at the next
// interval, and none is written there with --csv -).
void Analysis::lines_read() {
    csv_.flush();
    if (!failed_ && standard_output_gone()) {
        // (A write that failed is told at the end.)
        if (std::ferror(stdout) == 0) {
            report_problem("standard output", "cannot write", "nobody reads it any more");
        }
        failed_ = true;
        request_stop();
    }
}

void Analysis::publish() {
    const AnalysisSnapshot &s = pipeline_.snapshot();
    if (!summary_.write_status(s)) {
        // Nobody reads on: the outputs are written, and it ends.
        failed_ = true;
        request_stop();
    }
    rewrite_outputs(outputs_, s);
}

int Analysis::run() {
    if (!start_csv()) {
        return check_status(EXIT_TROUBLE);
    }
    summary_.begin();
    // With --follow, the last log is read by the loop, from its start; no
    // further log once the summary cannot be written.
    const int read_whole = options_.follow ? options_.log_count - 1 : options_.log_count;
    for (int i = 0; i < read_whole && std::ferror(stdout) == 0 && !stop_requested(); ++i) {
        if (!read_whole_log(i)) {
            failed_ = true;
        }
    }
    if (options_.follow && !stop_requested()) {
        const int last = options_.log_count - 1;
        failed_ = !follow_log(system_, options_.logs[last], shown_logs_.get()[last], options_.interval_seconds,
                              read_block_.get(), pipeline_, *this) ||
                  failed_;
    }
    if (!options_.follow && stop_requested()) {
        // Interrupted before the end: no summary of a part, and the
        // outputs' temporaries go with the output set; the old ones stay.
        report_problem("interrupted", "nothing written", "");
        return check_status(EXIT_TROUBLE);
    }
    const AnalysisSnapshot &s = pipeline_.snapshot();
    // No "Total: 0 runs" from a run that failed before any: a log that is
    // none, a CSV on a standard output that cannot be written. (The JSON
    // document is ended all the same.)
    const bool failed_before_any_run = (failed_ || std::ferror(stdout) != 0) && s.runs == 0;
    if (!failed_before_any_run || options_.json) {
        failed_ = !summary_.write_total(s) || failed_;
    }

    // A write that failed is told by the temporary's commit, or by
    // standard output's check below; with --follow, the rows written in
    // place as they came by the CSV itself.
    const bool csv_written = csv_.end();
    if (options_.follow) {
        failed_ = !csv_written || failed_;
        failed_ = !rewrite_outputs(outputs_, s) || failed_;
    } else {
        write_whole_outputs(outputs_, s);
    }
    failed_ = !standard_output_written() || failed_;
    return check_status(outputs_.commit_all(!failed_) ? 0 : EXIT_TROUBLE);
}

// With --check: the verdict's line and state, or UNKNOWN with the first
// problem when the run failed.
int Analysis::check_status(int status) {
    if (!options_.check) {
        return status;
    }
    if (status != 0) {
        write_check_unknown(stdout, *first_problem() != '\0' ? first_problem() : "the logs could not be read");
        return EXIT_CHECK_UNKNOWN;
    }
    const Verdict verdict = judge(pipeline_.snapshot(), options_.thresholds, now_utc_ms());
    write_check_line(stdout, verdict, options_.thresholds);
    if (!standard_output_written()) {
        return EXIT_CHECK_UNKNOWN;
    }
    return static_cast<int>(verdict.state);
}

// Every log is checked before any is read. The followed log may not be
// there yet: tickwatch makes it at its first line, and the loop waits.
bool check_logs(FileSystem &system, const AnalyzeOptions &options, const char *const *outputs, int output_count) {
    bool readable = true;
    for (int i = 0; i < options.log_count; ++i) {
        const bool followed = options.follow && i == options.log_count - 1;
        if (followed) {
            readable = check_followable(system, options.logs[i], outputs, output_count) && readable;
        } else {
            readable = check_readable(system, options.logs[i]) && readable;
        }
    }
    return readable;
}

// An output is never written over a log, even one not read in this run:
// "--svg a.log b.log" meant "--svg a.svg a.log b.log".
bool check_outputs_are_not_logs(FileSystem &system, const OutputSet &outputs) {
    bool none = true;
    for (int i = 0; i < OUTPUT_KINDS; ++i) {
        const auto kind = static_cast<OutputKind>(i);
        const char *const target = outputs.target(kind);
        if (target != nullptr && begins_as_log(system, target)) {
            char given[OUTPUT_PATH_SIZE + 16];
            char what[OUTPUT_PATH_SIZE + 64];
            std::snprintf(given, sizeof given, "%s %s", output_option(kind), target);
            std::snprintf(what, sizeof what, "%s is a tickwatch log; not writing over it", target);
            report_problem(given, what, "");
            none = false;
        }
    }
    return none;
}

}  // namespace

int run_analyze(int argc, char **argv) {
    AnalyzeOptions options = {};
    // Before parse_options, which moves the logs to the front of argv.
    const bool check = asks_for_check(argc, argv);
    if (!parse_options(argc, argv, options)) {
        if (check) {
            write_check_unknown(stdout, usage_error_text());
            return EXIT_CHECK_UNKNOWN;
        }
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
    set_up_process();
    // Before any log is read: Ctrl+C ends a --follow as documented, and
    // any other run without leaving its outputs' temporaries behind.
    catch_stop_signals();
    FileSystem &system = native_file_system();
    OutputSet outputs(system);
    name_outputs(options, outputs);
    const char *targets[OUTPUT_KINDS];
    const int target_count = outputs.targets(targets);
    // Before anything is opened for writing; and every output before any
    // log is read, with --follow too.
    if (!check_output_names(system, targets, target_count, options.logs, options.log_count) ||
        !check_outputs_are_not_logs(system, outputs) || !check_logs(system, options, targets, target_count) ||
        !outputs.open_all()) {
        if (options.check) {
            write_check_unknown(stdout, first_problem());
            return EXIT_CHECK_UNKNOWN;
        }
        return EXIT_TROUBLE;
    }
    // Large: kept off the stack.
    const auto analysis = std::make_unique<Analysis>(options, outputs);
    return analysis->run();
}
