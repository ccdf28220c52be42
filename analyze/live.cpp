#include "analyze/live.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analyze/diagnostics.h"
#include "analyze/files/follow.h"
#include "analyze/files/log_input.h"
#include "analyze/files/terminal_text.h"

namespace {

// Polls four times a second. Lines that reach a log after the last poll
// before it is renamed are never read (the file is not held open to see
// them): the shorter the period, the rarer that is.
constexpr int POLL_PERIOD_MS = 250;

// Large, and needed once: kept out of the stack.
FollowedLog followed;

}  // namespace

// The followed log's files as the pipeline reads them.
class FollowedReading {
  public:
    FollowedReading(const char *name, const char *shown, Pipeline &pipeline)
        : name_(name), shown_(shown), pipeline_(pipeline) {}

    void read(LogReader &reader) {
        if (!file_open_) {
            // After a rename, the log's summary goes on.
            pipeline_.begin_file(shown_, file_begun_ ? FileStart::same_log : FileStart::next_log);
            file_open_ = true;
            file_begun_ = true;
        }
        if (!pipeline_.read_lines(reader)) {
            report_problem(name_, "cannot read", std::strerror(errno));
            failed_ = true;
        }
    }
    // The file read so far is done with: a new one took its name, or the
    // loop ends. dropped_partial_line: its last line never got its end.
    void end_file(bool dropped_partial_line) {
        if (dropped_partial_line) {
            tell_partial_line_left_out(name_);
        }
        if (file_open_) {
            tell_file_counts(name_, pipeline_.end_file());
            file_open_ = false;
        }
    }
    [[nodiscard]] bool failed() const { return failed_; }

  private:
    const char *name_;
    const char *shown_;
    Pipeline &pipeline_;
    bool file_open_ = false;
    bool file_begun_ = false;
    bool failed_ = false;
};

bool follow_log(FileSystem &system, const char *name, const char *shown, int interval_seconds, char *block,
                Pipeline &pipeline, LiveAnalysis &analysis) {
    using Clock = std::chrono::steady_clock;
    start_following(followed, system, name, block);
    FollowedReading reading(name, shown, pipeline);
    const auto interval = std::chrono::seconds(interval_seconds);
    auto next_publication = Clock::now();  // at once, once the log is read
    int reported_error = 0;
    bool reported_not_regular = false;
    for (;;) {
        // (A stop is looked at after the poll: what the log held then is read.)
        const bool stopping = stop_requested();
        std::unique_ptr<File> file;
        bool dropped_partial_line = false;
        const bool read_before = followed.opened_before;
        const PollResult poll = poll_followed_log(followed, file, dropped_partial_line);
        if (poll == PollResult::unavailable) {
            // Once per cause: a rotation leaves the name free for a moment.
            if (followed.error != reported_error) {
                std::fprintf(stderr, "tickwatch-analyze: %s: cannot read: %s; waiting for it\n",
                             terminal_text(name).c_str(), std::strerror(followed.error));
            }
            reported_error = followed.error;
            reported_not_regular = false;
        } else if (poll == PollResult::not_regular) {
            // Never opened to be read: a pipe would block, a device never end.
            if (!reported_not_regular) {
                std::fprintf(stderr, "tickwatch-analyze: %s: not a regular file, skipped; waiting for one\n",
                             terminal_text(name).c_str());
            }
            reported_not_regular = true;
            reported_error = 0;
        } else {
            reported_error = 0;
            reported_not_regular = false;
            if (poll == PollResult::new_file && read_before) {
                reading.end_file(dropped_partial_line);
                std::fprintf(stderr, "tickwatch-analyze: %s: a new file by this name, read from its start\n",
                             terminal_text(name).c_str());
            } else if (poll == PollResult::truncated) {
                if (dropped_partial_line) {
                    tell_partial_line_left_out(name);
                }
                std::fprintf(stderr, "tickwatch-analyze: %s: truncated, read on from its new end\n",
                             terminal_text(name).c_str());
            }
            reading.read(followed.reader);
            analysis.lines_read();
            file.reset();
        }
        if (stopping) {
            break;
        }
        const auto now = Clock::now();
        if (now >= next_publication) {
            analysis.publish();
            // Steady beats; after a stall (a long first read), from now.
            next_publication += interval;
            if (next_publication <= now) {
                next_publication = now + interval;
            }
        }
        sleep_unless_stopped(POLL_PERIOD_MS);
    }
    const LogReader &reader = followed.reader;
    reading.end_file(reader.end > reader.begin || reader.skipping_long_line);
    return !reading.failed();
}
