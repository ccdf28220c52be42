// tickwatch-analyze --follow: the loop that keeps reading a log as it grows,
// publishes the figures at each interval, and ends at Ctrl+C.
#pragma once

#include "analyze/files/log_reader.h"

// What the loop asks of the analysis.
class LiveAnalysis {
  public:
    LiveAnalysis() = default;
    LiveAnalysis(const LiveAnalysis &) = delete;
    LiveAnalysis &operator=(const LiveAnalysis &) = delete;
    virtual ~LiveAnalysis() = default;

    // Reads the lines that are new, until ReadResult::end or an error.
    virtual void read_lines(LogReader & /*reader*/, const char * /*name*/) {}
    // The file read so far is done with: a new one took its name, or the
    // loop ends. dropped_partial_line: its last line never got its end.
    virtual void end_file(const char * /*name*/, bool /*dropped_partial_line*/) {}
    // The status line and the outputs, at each interval.
    virtual void publish() {}
};

// Polls the log by its name at least once a second until SIGINT or SIGTERM
// (Ctrl+C or Ctrl+Break on Windows), then ends the file. The caller writes
// the final outputs. block: READ_BLOCK_SIZE characters.
void follow_log(const char *name, int interval_seconds, char *block, LiveAnalysis &analysis);

// The signal only sets a flag; the loop ends at its next look. Installed
// when the program starts, so that a stop while the earlier logs are read
// ends it in the same way.
void catch_stop_signals();
bool stop_requested();
// The same from within: the loop ends as at Ctrl+C.
void request_stop();
