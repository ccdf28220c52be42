#include "analyze/outputs.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "analyze/files/log_input.h"
#include "analyze/files/system.h"
#include "analyze/report/check.h"
#include "analyze/report/html_report.h"
#include "analyze/report/json_summary.h"
#include "analyze/report/metrics.h"
#include "analyze/report/status_line.h"
#include "analyze/report/svg_chart.h"
#include "analyze/report/text_summary.h"

const char *output_option(OutputKind kind) {
    switch (kind) {
    case OutputKind::csv:
        return "--csv";
    case OutputKind::svg:
        return "--svg";
    case OutputKind::html:
        return "--html";
    case OutputKind::metrics:
        return "--metrics";
    }
    return "";
}

void name_outputs(const AnalyzeOptions &options, OutputSet &outputs) {
    outputs.name(OutputKind::csv, csv_to_standard_output(options) ? nullptr : options.csv_file);
    outputs.name(OutputKind::svg, options.svg_file);
    outputs.name(OutputKind::html, options.html_file);
    outputs.name(OutputKind::metrics, options.metrics_file);
}

PipelineSettings pipeline_settings(const AnalyzeOptions &options, const OutputSet &outputs, const char *const *shown) {
    PipelineSettings settings = {};
    settings.keep_chart = outputs.wanted(OutputKind::svg) || outputs.wanted(OutputKind::html);
    settings.keep_report = outputs.wanted(OutputKind::html);
    settings.window = options.window;
    settings.intervals =
        options.json || outputs.wanted(OutputKind::html) ? StabilityIntervals::all : StabilityIntervals::oadev;
    settings.log_names = shown;
    settings.log_count = options.log_count;
    return settings;
}

Summary::Summary(const AnalyzeOptions &options)
    : json_(options.json), check_(options.check), text_(csv_to_standard_output(options) ? stderr : stdout) {
    if (!json_ && !check_ && !options.follow) {
        held_runs_ = temporary_stream();
    }
}

Summary::~Summary() {
    if (held_runs_ != nullptr) {
        std::fclose(held_runs_);
    }
}

void Summary::begin() const {
    if (json_) {
        begin_json(stdout);
    }
}

void Summary::write_run(const RunRecord &run) const {
    if (check_) {
        return;
    }
    if (json_) {
        write_run_json(stdout, run, run.run.number == 1);
    } else {
        write_run_text(held_runs_ != nullptr ? held_runs_ : text_, run);
    }
}

bool Summary::write_total(const AnalysisSnapshot &snapshot) {
    if (check_) {
        return true;
    }
    if (json_) {
        end_json(stdout, snapshot);
        return true;
    }
    const CheckThresholds thresholds = default_thresholds();
    write_verdict_text(text_, judge(snapshot, thresholds, now_utc_ms()), thresholds);
    bool written = true;
    if (held_runs_ != nullptr) {
        std::rewind(held_runs_);
        char block[8192];
        size_t count = 0;
        while ((count = std::fread(block, 1, sizeof block, held_runs_)) > 0) {
            std::fwrite(block, 1, count, text_);
        }
        if (std::ferror(held_runs_) != 0) {
            report_problem("temporary file", "cannot hold the runs", std::strerror(errno));
            written = false;
        }
        std::fclose(held_runs_);
        held_runs_ = nullptr;
    }
    write_total_text(text_, snapshot);
    return written;
}

bool Summary::write_status(const AnalysisSnapshot &snapshot) const {
    // Standard output is the JSON document's, or the CSV's, alone.
    std::FILE *out = json_ ? stderr : text_;
    write_status_line(out, now_utc_ms(), snapshot);
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        report_problem(out == stdout ? "standard output" : "standard error", "cannot write", std::strerror(errno));
        return false;
    }
    return true;
}

int64_t now_utc_ms() { return static_cast<int64_t>(std::time(nullptr)) * 1000; }

bool standard_output_written() {
    if (std::fflush(stdout) != 0) {
        report_problem("standard output", "cannot write", std::strerror(errno));
        return false;
    }
    if (std::ferror(stdout) != 0) {
        report_problem("standard output", "cannot write", "a write failed");
        return false;
    }
    return true;
}

namespace {

constexpr OutputKind WHOLE_OUTPUTS[] = {OutputKind::svg, OutputKind::html, OutputKind::metrics};

void write_output(OutputKind kind, std::FILE *out, const AnalysisSnapshot &snapshot) {
    switch (kind) {
    case OutputKind::svg:
        write_svg_chart(out, snapshot);
        break;
    case OutputKind::html:
        write_html_report(out, snapshot, now_utc_ms());
        break;
    case OutputKind::metrics:
        write_metrics(out, snapshot);
        break;
    case OutputKind::csv:
        break;  // row by row
    }
}

}  // namespace

void write_whole_outputs(OutputSet &outputs, const AnalysisSnapshot &snapshot) {
    for (const OutputKind kind : WHOLE_OUTPUTS) {
        if (outputs.wanted(kind)) {
            write_output(kind, outputs.file(kind), snapshot);
        }
    }
}

bool rewrite_outputs(OutputSet &outputs, const AnalysisSnapshot &snapshot) {
    bool written = true;
    for (const OutputKind kind : WHOLE_OUTPUTS) {
        if (!outputs.wanted(kind)) {
            continue;
        }
        if (outputs.file(kind) == nullptr && !outputs.open(kind)) {
            written = false;
            continue;
        }
        write_output(kind, outputs.file(kind), snapshot);
        written = outputs.commit(kind) && written;
    }
    return written;
}
