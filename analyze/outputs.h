// What one run of tickwatch-analyze writes from what the pipeline gives,
// besides the CSV's rows: the summary run by run and in total, the status
// line of --follow, and the chart, the report and the metrics written
// whole.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/records.h"
#include "analyze/files/output_set.h"
#include "analyze/options.h"
#include "analyze/pipeline.h"

// The option that names an output: "--csv", "--svg", ...
const char *output_option(OutputKind kind);
// The files the options name, each by its kind.
void name_outputs(const AnalyzeOptions &options, OutputSet &outputs);
// What the pipeline keeps for the outputs asked for: the charts and the
// runs listed only for those that show them, and every stability interval
// only for those that show them. shown: every log, as the outputs name it.
PipelineSettings pipeline_settings(const AnalyzeOptions &options, const OutputSet &outputs, const char *const *shown);

// The summary as text on standard output (standard error when the CSV has
// it), or with --json as the JSON document on standard output.
//
// The text begins with the verdict (report/check.h), which only the end
// knows: the runs wait in a temporary file until then, except with
// --follow (or without a temporary file), where they come as they end and
// the verdict heads the total.
class Summary {
  public:
    explicit Summary(const AnalyzeOptions &options);
    Summary(const Summary &) = delete;
    Summary &operator=(const Summary &) = delete;
    ~Summary();

    void begin() const;
    void write_run(const RunRecord &run) const;
    // False, told, if the runs held back cannot be written.
    [[nodiscard]] bool write_total(const AnalysisSnapshot &snapshot);
    // With --follow at each interval, beside the text, or on standard
    // error beside the JSON document: false, told, if it cannot be written.
    [[nodiscard]] bool write_status(const AnalysisSnapshot &snapshot) const;

  private:
    bool json_;
    bool check_;  // --check: its one line instead
    std::FILE *text_;
    std::FILE *held_runs_ = nullptr;  // the runs' text until the verdict is known
};

// Into the outputs' temporaries, which the output set commits at the end.
void write_whole_outputs(OutputSet &outputs, const AnalysisSnapshot &snapshot);
// With --follow: each through a temporary renamed over it, so that a reader
// sees the old one or the new one. False if any could not be written.
bool rewrite_outputs(OutputSet &outputs, const AnalysisSnapshot &snapshot);
// Standard output flushed at the end: false, told, if a write to it failed.
bool standard_output_written();
// Now, ms since 1970: the time verdicts and status lines are judged at.
int64_t now_utc_ms();
