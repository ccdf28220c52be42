// tickwatch-analyze --follow: the loop that keeps reading a log into the
// pipeline as it grows, publishes the figures at each interval, and ends at
// Ctrl+C.
#pragma once

#include "analyze/files/system.h"
#include "analyze/pipeline.h"

// What the loop asks of the analysis.
class LiveAnalysis {
  public:
    LiveAnalysis() = default;
    LiveAnalysis(const LiveAnalysis &) = delete;
    LiveAnalysis &operator=(const LiveAnalysis &) = delete;
    virtual ~LiveAnalysis() = default;

    // New lines were read into the pipeline (with --csv, their rows go out
    // as they come).
    virtual void lines_read() {}
    // The status line and the outputs, at each interval.
    virtual void publish() {}
};

// Polls the log by its name at least once a second until a stop is
// requested (stop_requested(): SIGINT or SIGTERM, Ctrl+C or Ctrl+Break on
// Windows, or request_stop()), feeding its lines to pipeline as the file
// shown, from its start; a new file by that name is read as the same log.
// The caller writes the final outputs. block: READ_BLOCK_SIZE characters.
// False if a read failed (told on standard error).
bool follow_log(FileSystem &system, const char *name, const char *shown, int interval_seconds, char *block,
                Pipeline &pipeline, LiveAnalysis &analysis);
