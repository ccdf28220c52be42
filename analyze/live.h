// tickwatch-analyze --follow: the loop that keeps reading a log as it grows,
// publishes the figures at each interval, and ends at Ctrl+C.
#pragma once

#include "analyze/files/log_reader.h"
#include "analyze/files/system.h"

// What the loop asks of the analysis; context is handed back to each.
struct LiveAnalysis {
    void *context;
    // Reads the lines that are new, until ReadResult::end or an error.
    void (*read_lines)(void *context, LogReader &reader, const char *name);
    // The file read so far is done with: a new one took its name, or the
    // loop ends. dropped_partial_line: its last line never got its end.
    void (*end_file)(void *context, const char *name, bool dropped_partial_line);
    // The status line and the outputs, at each interval.
    void (*publish)(void *context);
};

// Polls the log by its name at least once a second until a stop is
// requested (stop_requested(): SIGINT or SIGTERM, Ctrl+C or Ctrl+Break on
// Windows, or request_stop()), then ends the file. The caller writes the
// final outputs. block: READ_BLOCK_SIZE characters.
void follow_log(FileSystem &system, const char *name, int interval_seconds, char *block, const LiveAnalysis &analysis);
