#include "analyze/pipeline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <type_traits>

#include "analyze/read_ahead.h"

void Pipeline::FreeMemory::operator()(void *memory) const { std::free(memory); }

template <typename T> Pipeline::Buffer<T> Pipeline::zeroed(size_t count) {
    // Plain records, which all bytes zero make.
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
    void *memory = std::calloc(count, sizeof(T));
    if (memory == nullptr) {
        std::fputs("tickwatch-analyze: out of memory\n", stderr);
        std::abort();
    }
    return Buffer<T>(static_cast<T *>(memory));
}

Pipeline::Pipeline(const PipelineSettings &settings, PipelineListener &listener)
    : listener_(listener), run_(zeroed<RunRecord>()), phase_segment_(zeroed<PhaseSegment>()),
      run_differences_(zeroed<DifferenceCounts>()), total_differences_(zeroed<DifferenceCounts>()),
      file_differences_(zeroed<DifferenceCounts>()), window_(settings.window), intervals_(settings.intervals),
      log_names_(settings.log_names), log_count_(settings.log_count) {
    if (settings.keep_chart || settings.keep_report) {
        pooled_charts_ = zeroed<FileCharts>();
        keep_phase_charts_ = settings.keep_report;
        snapshot_segments_ = zeroed<ChartSegments>();
        if (settings.log_count > 1) {
            file_chart_capacity_ = static_cast<size_t>(std::min(settings.log_count, REPORT_FILE_CHARTS));
            file_charts_ = zeroed<FileCharts>(file_chart_capacity_);
            snapshot_file_segments_ = zeroed<ChartSegments>();
        }
    }
    if (settings.keep_report) {
        listed_runs_ = zeroed<RunRecord>(REPORT_LISTED_RUNS);
    }
    restart();
}

namespace {

// Charts to be drawn anew; the phase's only where they are kept (left
// untouched, calloc's pages stay out of memory).
void start_charts(FileCharts &charts, bool phase) {
    for (ChartData *chart : {&charts.difference, &charts.rate, &charts.phase, &charts.phase_time}) {
        if (phase || (chart != &charts.phase && chart != &charts.phase_time)) {
            start_chart(*chart);
        }
    }
    charts.segments.count = 0;
    charts.segments.left_out = 0;
}

// The ended segments, and the open run's open one, as a snapshot shows them.
const ChartSegments *shown_with(const ChartSegments &ended, const SegmentFigures &open, ChartSegments &shown) {
    // (Copied only as far as used.)
    shown.count = ended.count;
    shown.left_out = ended.left_out;
    std::copy_n(ended.segment, shown.count, shown.segment);
    add_chart_segment(shown, open);
    return &shown;
}

}  // namespace

Pipeline::~Pipeline() = default;

void Pipeline::restart() {
    file_ = nullptr;
    file_counts_ = {};
    unrecognised_lines_ = 0;
    outside_window_ = 0;
    run_open_ = false;
    runs_ = 0;
    total_episodes_ = {};
    has_last_sample_ = false;
    difference_sizes_ = {};
    listed_run_count_ = 0;
    files_.clear();
    start_statistics(total_, nullptr, total_differences_.get());
    if (pooled_charts_) {
        start_charts(*pooled_charts_, keep_phase_charts_);
    }
    for (size_t i = 0; i < file_chart_capacity_; ++i) {
        start_charts(file_charts_.get()[i], keep_phase_charts_);
    }
}

void Pipeline::begin_file(const char *name, FileStart start) {
    file_ = name;
    file_counts_ = {};
    if (start == FileStart::same_log && !files_.empty()) {
        return;  // the pooled runs go on
    }
    file_runs_ = 0;
    start_statistics(file_total_, nullptr, file_differences_.get());
    file_episodes_ = {};
    files_.emplace_back();  // summed up at its end, or in a snapshot
}

void Pipeline::open_run(uint64_t number) {
    run_open_ = true;
    run_->run.number = ++runs_;
    run_->run.file = file_;
    run_->run.first_line = number;
    run_->run.last_line = number;
    start_statistics(run_->run.statistics, phase_segment_.get(), run_differences_.get());
    start_episodes(run_->episodes);
}

FileCharts *Pipeline::open_file_charts() {
    return !files_.empty() && files_.size() <= file_chart_capacity_ ? &file_charts_.get()[files_.size() - 1] : nullptr;
}

void Pipeline::add_segment_to_charts(const SegmentFigures &segment) {
    add_chart_segment(pooled_charts_->segments, segment);
    if (FileCharts *charts = open_file_charts()) {
        add_chart_segment(charts->segments, segment);
    }
}

void Pipeline::close_run() {
    if (!run_open_) {
        return;
    }
    run_open_ = false;
    RunEpisodes &episodes = run_->episodes;
    end_episodes(episodes);
    run_->figures = figures_of(run_->run.statistics, run_differences_.get(), intervals_);
    if (pooled_charts_) {
        // Its last segment, as the figures give it where they list it.
        const RunPhase &phase = run_->run.statistics.phase;
        const bool listed = phase.segment_open && phase.kept_segment_count < MAX_KEPT_SEGMENTS;
        add_segment_to_charts(listed ? run_->figures.segment[run_->figures.segment_count - 1] : segment_fit(phase));
    }
    listener_.run_ended(*run_);
    add_run_to_total(total_, run_->run.statistics);
    add_episode_totals(total_episodes_, episodes.totals);
    // A run never spans two files: its file's summary takes it whole.
    add_run_to_total(file_total_, run_->run.statistics);
    add_episode_totals(file_episodes_, episodes.totals);
    ++file_runs_;
    if (listed_runs_ && listed_run_count_ < REPORT_LISTED_RUNS) {
        listed_runs_.get()[listed_run_count_++] = *run_;
    }
}

void Pipeline::summarise_open_file() {
    if (!run_open_) {
        summarise_file(files_.back(), file_, file_runs_, file_total_, file_episodes_, *file_differences_, intervals_);
        return;
    }
    RunStatistics statistics = file_total_;
    statistics.difference_counts = nullptr;  // merged apart, below
    add_run_to_total(statistics, run_->run.statistics);
    if (!snapshot_file_differences_) {
        snapshot_file_differences_ = zeroed<DifferenceCounts>();  // (with --follow only)
    }
    *snapshot_file_differences_ = *file_differences_;
    add_counts(*snapshot_file_differences_, *run_differences_);
    EpisodeTotals episodes = file_episodes_;
    add_episode_totals(episodes, snapshot_episodes_->totals);
    summarise_file(files_.back(), file_, file_runs_ + 1, statistics, episodes, *snapshot_file_differences_, intervals_);
}

// The sample's time is printed to the millisecond: a little slack before
// a sample is taken to be out of step.
constexpr double OUT_OF_STEP_SLACK_MS = 2;

// Every report line passes here, and only the samples within the window
// go on. (Inline, as the line's sorting: both are used in this file alone.)
inline void Pipeline::take_sample(const ReportFields &sample, uint64_t number) {
    if (!is_within(window_, sample.utc_ms)) {
        // The run is cut at the window's edge.
        ++file_counts_.outside_window;
        close_run();
        return;
    }
    if (run_open_) {
        run_->run.last_line = number;
        const int64_t previous_ms = run_->run.statistics.phase.previous_utc_ms;
        // (After a leap second, its second again.)
        const int64_t leap_ms = has_last_sample_ && last_sample_.leap_second ? 1000 : 0;
        if (previous_ms != UNKNOWN_TIME_MS && sample.utc_ms != UNKNOWN_TIME_MS &&
            static_cast<double>(sample.utc_ms + leap_ms - previous_ms) < sample.system_ms - OUT_OF_STEP_SLACK_MS) {
            ++file_counts_.out_of_step;
            listener_.sample_out_of_step(OutOfStepSample{file_, number,
                                                         static_cast<double>(sample.utc_ms - previous_ms),
                                                         sample.system_ms, file_counts_.out_of_step});
        }
    } else {
        open_run(number);
    }
    // (The run's first sample that the chart can place.)
    const bool starts_run = run_->run.statistics.first_utc_ms == UNKNOWN_TIME_MS;
    const uint64_t segments_closed = run_->run.statistics.phase.segments_closed;
    add_sample(run_->run.statistics, sample);
    const RunPhase &phase = run_->run.statistics.phase;
    if (pooled_charts_ && phase.segments_closed != segments_closed) {
        add_segment_to_charts(phase.last_closed);
    }
    const uint64_t lost_points = phase.last_line.lost_points;
    const double lost_ms = lost_points > 0 ? static_cast<double>(lost_points) * phase_spacing_s(phase) * 1000 : 0;
    add_to_episodes(run_->episodes, sample, phase.last_line.missing_points, lost_ms);
    count_difference_size(difference_sizes_, sample.difference_ms);
    has_last_sample_ = true;
    last_sample_ = sample;
    listener_.sample_taken(sample, run_->run.number);
    if (!pooled_charts_) {
        return;
    }
    double rate_ppm = 0;
    const bool has_rate = !sample.marked && sample_rate_ppm(sample, rate_ppm);
    // The phase at the sample, in ms; a segment's first point is 0. And the
    // sample's time in its segment as the fit takes it: the counter's
    // elapsed time, s.
    const bool starts_segment = phase.last_line.starts_segment;
    const double phase_ms = phase.x * PHASE_UNIT_S * 1e3;
    const bool gap = phase.last_line.missing_points > 0;
    const double time_s = phase.t * PHASE_UNIT_S;
    for (FileCharts *charts : {pooled_charts_.get(), open_file_charts()}) {
        if (charts == nullptr) {
            continue;
        }
        add_to_chart(charts->difference, sample, run_->run.number, starts_run);
        if (has_rate) {
            add_value_to_chart(charts->rate, sample.utc_ms, rate_ppm, starts_run, false, false);
        }
        if (keep_phase_charts_) {
            add_value_to_chart(charts->phase, sample.utc_ms, phase_ms, starts_segment, sample.marked, gap);
            add_value_to_chart(charts->phase_time, sample.utc_ms, time_s, starts_segment, false, false);
        }
    }
}

void Pipeline::tell_skipped(LineIssue issue, uint64_t number, std::string_view text) {
    listener_.line_skipped(SkippedLine{file_, number, issue, text, file_counts_.not_understood});
}

void Pipeline::count_skipped(LineIssue issue, uint64_t number, std::string_view text) {
    ++file_counts_.not_understood;
    tell_skipped(issue, number, text);
}

bool left_out_for(LineKind kind, LineIssue &issue) {
    switch (kind) {
    case LineKind::cut_then_banner:
        issue = LineIssue::cut_then_banner;
        return true;
    case LineKind::unknown:
        issue = LineIssue::not_understood;
        return true;
    case LineKind::wrong_difference:
        issue = LineIssue::wrong_difference;
        return true;
    case LineKind::wrong_marker:
        issue = LineIssue::wrong_marker;
        return true;
    case LineKind::out_of_range:
        issue = LineIssue::out_of_range;
        return true;
    case LineKind::report:
    case LineKind::banner:
    case LineKind::message:
    case LineKind::empty:
        return false;
    }
    return false;
}

inline void Pipeline::sort_parsed_line(LineKind kind, const ReportFields &sample, std::string_view text,
                                       uint64_t number) {
    // (A report line's, by take_sample: not when outside the window.)
    if (run_open_ && kind != LineKind::report && kind != LineKind::banner && kind != LineKind::cut_then_banner) {
        run_->run.last_line = number;
    }
    LineIssue issue = {};
    if (left_out_for(kind, issue)) {
        count_skipped(issue, number, text);
    }
    if (kind == LineKind::report) {
        ++file_counts_.reports;
        take_sample(sample, number);
    } else if (kind == LineKind::banner || kind == LineKind::cut_then_banner) {
        close_run();
        // With a window, a run starts at its first sample within it.
        if (!is_limited(window_)) {
            open_run(number);
        }
    }
}

inline void Pipeline::take_read_line(ReadResult result, LineKind kind, const ReportFields &sample,
                                     std::string_view text, uint64_t number) {
    if (result == ReadResult::line) {
        sort_parsed_line(kind, sample, text, number);
    } else if (result == ReadResult::too_long) {
        skip_line(LineIssue::too_long, number);
    } else if (result == ReadResult::cut_short) {
        skip_line(LineIssue::no_line_end, number);
    }
}

void Pipeline::feed_line(std::string_view text, uint64_t number) {
    ReportFields sample;
    sort_parsed_line(parse_log_line(text.data(), text.size(), sample), sample, text, number);
}

void Pipeline::skip_line(LineIssue issue, uint64_t number) {
    if (issue == LineIssue::no_line_end) {
        tell_skipped(issue, number, {});
    } else {
        count_skipped(issue, number, {});
    }
}

bool Pipeline::read_lines(LogReader &reader, bool (*stop)()) {
    for (;;) {
        if (stop != nullptr && stop()) {
            return true;
        }
        const char *text = nullptr;
        size_t length = 0;
        const ReadResult result = read_line(reader, text, length);
        if (result == ReadResult::end || result == ReadResult::error) {
            return result == ReadResult::end;
        }
        ReportFields sample;
        const LineKind kind = result == ReadResult::line ? parse_log_line(text, length, sample) : LineKind::empty;
        take_read_line(result, kind, sample, std::string_view(text, length), reader.line_number);
    }
}

bool Pipeline::read_lines_ahead(LogReader &reader, bool (*stop)()) {
    ReadAhead ahead(reader);
    if (!ahead.started()) {
        return read_lines(reader, stop);
    }
    for (;;) {
        const LineBatch &batch = ahead.next();
        for (int i = 0; i < batch.count; ++i) {
            if (stop != nullptr && stop()) {
                return true;
            }
            const ParsedLine &line = batch.lines[i];
            take_read_line(line.result, line.kind, line.sample, text_of(batch, line), line.number);
        }
        if (batch.at_end) {
            errno = batch.error_number;
            return !batch.failed;
        }
    }
}

FileCounts Pipeline::end_file() {
    close_run();
    if (file_ != nullptr) {
        summarise_open_file();
    }
    unrecognised_lines_ += file_counts_.not_understood;
    outside_window_ += file_counts_.outside_window;
    const FileCounts counts = file_counts_;
    file_counts_ = {};
    file_ = nullptr;
    return counts;
}

const AnalysisSnapshot &Pipeline::snapshot() {
    snapshot_total_ = total_;
    // The total's counts are added to only when a run ends: the open run's
    // are merged into a copy.
    snapshot_total_.difference_counts = nullptr;
    const DifferenceCounts *differences = total_differences_.get();
    int listed = listed_run_count_;
    EpisodeTotals episodes = total_episodes_;
    if (run_open_) {
        // The open run's episodes as if it ended here.
        if (!snapshot_episodes_) {
            snapshot_episodes_ = zeroed<RunEpisodes>();
        }
        *snapshot_episodes_ = run_->episodes;
        end_episodes(*snapshot_episodes_);
        add_episode_totals(episodes, snapshot_episodes_->totals);
        add_run_to_total(snapshot_total_, run_->run.statistics);
        if (!snapshot_differences_) {
            snapshot_differences_ = zeroed<DifferenceCounts>();  // (with --follow only)
        }
        *snapshot_differences_ = *total_differences_;
        add_counts(*snapshot_differences_, *run_differences_);
        differences = snapshot_differences_.get();
        if (listed_runs_ && listed < REPORT_LISTED_RUNS) {
            // Its slot, until it ends and takes it for good.
            listed_runs_.get()[listed++] = RunRecord{
                run_->run, figures_of(run_->run.statistics, run_differences_.get(), intervals_), *snapshot_episodes_};
        }
    }
    if (file_ != nullptr) {
        summarise_open_file();
    }
    snapshot_figures_ = figures_of(snapshot_total_, differences, intervals_);
    snapshot_ = AnalysisSnapshot{};
    snapshot_.log_names = log_names_;
    snapshot_.log_count = log_count_;
    snapshot_.window = window_;
    snapshot_.runs = runs_;
    snapshot_.unrecognised_lines = unrecognised_lines_ + file_counts_.not_understood;
    snapshot_.total = &snapshot_total_;
    snapshot_.figures = &snapshot_figures_;
    snapshot_.differences = differences;
    snapshot_.difference_sizes = &difference_sizes_;
    snapshot_.last_sample = has_last_sample_ ? &last_sample_ : nullptr;
    snapshot_.episodes = episodes;
    snapshot_.outside_window = outside_window_ + file_counts_.outside_window;
    snapshot_.files = files_.data();
    snapshot_.file_count = static_cast<int>(files_.size());
    snapshot_.file_charts = file_charts_.get();
    snapshot_.file_chart_count = static_cast<int>(std::min(files_.size(), file_chart_capacity_));
    if (pooled_charts_) {
        FileCharts &pooled = *pooled_charts_;
        snapshot_.difference_chart = &pooled.difference;
        snapshot_.rate_chart = &pooled.rate;
        snapshot_.phase_chart = keep_phase_charts_ ? &pooled.phase : nullptr;
        snapshot_.phase_time_chart = keep_phase_charts_ ? &pooled.phase_time : nullptr;
        snapshot_.segments = &pooled.segments;
        for (size_t i = 0; i < file_chart_capacity_; ++i) {
            FileCharts &charts = file_charts_.get()[i];
            charts.shown = &charts.segments;
        }
        if (run_open_) {
            const SegmentFigures open = open_segment_as_kept(run_->run.statistics.phase);
            snapshot_.segments = shown_with(pooled.segments, open, *snapshot_segments_);
            if (FileCharts *charts = open_file_charts()) {
                charts->shown = shown_with(charts->segments, open, *snapshot_file_segments_);
            }
        }
    }
    snapshot_.listed_runs = listed_runs_.get();
    snapshot_.listed_run_count = listed;
    return snapshot_;
}
