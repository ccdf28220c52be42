// The analysis of tickwatch logs as one object: the lines of each log go
// in, file by file; each run comes out as it ends, and the figures so far
// can be taken at any time. Reading, writing and reporting are the
// caller's; the pipeline only sorts, gathers and tells.
//
// It owns its large buffers (the open segment's phase, the counts of the
// differences, the charts), allocated once when it is made, so that memory
// stays bounded whatever the logs' length; besides them it keeps a small
// summary of each file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/phase.h"
#include "analyze/accumulate/records.h"
#include "analyze/accumulate/stability.h"
#include "analyze/accumulate/statistics.h"
#include "analyze/files/log_reader.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/time_window.h"

struct PipelineSettings {
    bool keep_chart;    // the difference and the rate over time (for --svg and --html)
    bool keep_report;   // the first runs with their figures, and the charts with the phase over time (for --html)
    TimeWindow window;  // the samples outside it are left out, and counted
    // The stability intervals the figures give: all of them for an output
    // that shows them (JSON, HTML), else the OADEV's alone, which are cheaper.
    StabilityIntervals intervals;
    // Every log asked for, as the snapshot names them (kept valid by the
    // caller).
    const char *const *log_names = nullptr;
    int log_count = 0;
};

// Why a line was left out of the analysis.
enum class LineIssue {
    too_long,          // longer than any line of a log
    cut_then_banner,   // a line cut short and a banner behind it (whose run starts)
    not_understood,    // not a report line or a message of tickwatch
    wrong_difference,  // a report line whose difference is not the advances' difference
    wrong_marker,      // a report line whose marker disagrees with the difference
    out_of_range,      // a report line with a value beyond any that tickwatch writes
    no_line_end,       // the file's last line, which has no line end (not counted)
};

// Whether a line of this kind is left out of the analysis (and told, with
// its text), and why.
bool left_out_for(LineKind kind, LineIssue &issue);

struct SkippedLine {
    const char *file;
    uint64_t number;
    LineIssue issue;
    std::string_view text;    // as read, CRs and all; empty when too long or without its end
    uint64_t not_understood;  // the file's lines not understood so far, this one included
};

// A sample sooner after the run's sample before than its own system time
// advanced: two tickwatch writing to one log interleave their lines (lines
// lost make a sample later, never sooner). It is taken all the same.
struct OutOfStepSample {
    const char *file;
    uint64_t number;
    double after_ms;       // since the sample before
    double system_ms;      // its own interval
    uint64_t out_of_step;  // the file's so far, this one included
};

// Whom the pipeline tells what as it goes. What is not overridden is not
// told.
class PipelineListener {
  public:
    PipelineListener() = default;
    PipelineListener(const PipelineListener &) = delete;
    PipelineListener &operator=(const PipelineListener &) = delete;
    virtual ~PipelineListener() = default;

    // A report line's sample, as its run (numbered from 1) takes it.
    virtual void sample_taken(const ReportFields & /*sample*/, int32_t /*run*/) {}
    // A run has ended: at a banner, at the end of its file, or at an edge of
    // the window.
    virtual void run_ended(const RunRecord & /*run*/) {}
    virtual void line_skipped(const SkippedLine & /*line*/) {}
    virtual void sample_out_of_step(const OutOfStepSample & /*sample*/) {}
};

// What one file held, told when it ends.
struct FileCounts {
    uint64_t reports;  // those outside the window too
    uint64_t not_understood;
    uint64_t outside_window;
    uint64_t out_of_step;  // samples out of step with the one before them
};

enum class FileStart {
    next_log,  // a log of its own, summed up apart
    same_log,  // the log last begun, read anew (a followed log renamed and made again): its summary goes on
};

class Pipeline {
  public:
    // listener: told as the lines are fed; it must outlive the pipeline.
    Pipeline(const PipelineSettings &settings, PipelineListener &listener);
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;
    ~Pipeline();

    // The lines that follow are the file's, until end_file. name, as
    // reported (the runs and the summaries keep it), must stay valid.
    void begin_file(const char *name, FileStart start = FileStart::next_log);
    // One line, without its LF; number counts from 1.
    void feed_line(std::string_view text, uint64_t number);
    // A line that cannot be read whole: too_long or no_line_end.
    void skip_line(LineIssue issue, uint64_t number);
    // Feeds the lines the reader has, up to ReadResult::end, or until stop,
    // asked before each line, says to stop (what was fed counts). False at a
    // read error, which errno tells.
    bool read_lines(LogReader &reader, bool (*stop)() = nullptr);
    // As read_lines, the lines read and parsed ahead in a thread of their
    // own (read_ahead.h), or in this one if the system gives none; up to
    // its end, or until stop says to.
    bool read_lines_ahead(LogReader &reader, bool (*stop)() = nullptr);
    // The file's last run ends with it.
    FileCounts end_file();

    // The figures so far, the open run counted in; valid until the
    // pipeline is next fed, ended or asked again.
    const AnalysisSnapshot &snapshot();
    // Back to nothing read; the buffers are kept.
    void restart();

  private:
    void open_run(uint64_t number);
    void close_run();
    // The open file's charts, or nullptr when it has none.
    FileCharts *open_file_charts();
    void add_segment_to_charts(const SegmentFigures &segment);
    // The open file's summary, its open run counted in when there is one
    // (with the episodes that snapshot ended).
    void summarise_open_file();
    // A line read and parsed, and one as the reader gave it (a whole line
    // parsed, or one too long or cut short): the reading loops' work, inlined
    // into them.
    void sort_parsed_line(LineKind kind, const ReportFields &sample, std::string_view text, uint64_t number);
    void take_read_line(ReadResult result, LineKind kind, const ReportFields &sample, std::string_view text,
                        uint64_t number);
    void take_sample(const ReportFields &sample, uint64_t number);
    void tell_skipped(LineIssue issue, uint64_t number, std::string_view text);
    void count_skipped(LineIssue issue, uint64_t number, std::string_view text);

    // Zeroed by the system (calloc): the pages not used yet stay out of
    // memory, as static storage's do.
    struct FreeMemory {
        void operator()(void *memory) const;
    };
    template <typename T> using Buffer = std::unique_ptr<T, FreeMemory>;
    template <typename T> static Buffer<T> zeroed(size_t count = 1);

    PipelineListener &listener_;
    Buffer<RunRecord> run_;  // the open run; its figures once it has ended
    // Large, and allocated once; the charts and the listed runs only when
    // kept, the snapshot's counts only when a snapshot has a run open.
    Buffer<PhaseSegment> phase_segment_;  // the open run's open segment
    Buffer<DifferenceCounts> run_differences_;
    Buffer<DifferenceCounts> total_differences_;
    Buffer<DifferenceCounts> snapshot_differences_;       // the total's with the open run's
    Buffer<DifferenceCounts> file_differences_;           // the open file's ended runs'
    Buffer<DifferenceCounts> snapshot_file_differences_;  // those with the open run's
    Buffer<RunEpisodes> snapshot_episodes_;               // the open run's, ended there
    Buffer<FileCharts> pooled_charts_;                    // with the charts: all the logs' (the phase's if kept)
    Buffer<ChartSegments> snapshot_segments_;             // the ended segments and the open run's open one
    Buffer<RunRecord> listed_runs_;                       // REPORT_LISTED_RUNS
    int listed_run_count_ = 0;
    Buffer<FileCharts> file_charts_;                // up to REPORT_FILE_CHARTS, with several logs
    Buffer<ChartSegments> snapshot_file_segments_;  // the open file's, with its open run's open one
    size_t file_chart_capacity_ = 0;

    TimeWindow window_;
    StabilityIntervals intervals_;
    const char *const *log_names_;
    int log_count_;
    const char *file_ = nullptr;
    FileCounts file_counts_ = {};
    uint64_t unrecognised_lines_ = 0;  // of the files ended
    uint64_t outside_window_ = 0;      // likewise
    bool run_open_ = false;
    bool keep_phase_charts_ = false;  // the phase over time, ms and s within each segment
    int32_t runs_ = 0;
    RunStatistics total_ = {};
    EpisodeTotals total_episodes_ = {};
    bool has_last_sample_ = false;
    ReportFields last_sample_ = {};
    DifferenceSizeBuckets difference_sizes_ = {};

    // The open file's ended runs, pooled, and every file's summary: the
    // open one's as of its last run ended or snapshot.
    int32_t file_runs_ = 0;
    RunStatistics file_total_ = {};
    EpisodeTotals file_episodes_ = {};
    std::vector<FileSummary> files_;

    RunStatistics snapshot_total_ = {};
    RunFigures snapshot_figures_ = {};
    AnalysisSnapshot snapshot_ = {};
};
