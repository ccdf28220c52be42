// The files the outputs (CSV, chart, ...) go to. Each is written to a
// temporary file beside it and renamed over it only when the run succeeds,
// so that a run that fails leaves what was there untouched and a reader
// never sees half a file. An output that is not a regular file (a device,
// a pipe) is written in place.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

#include "analyze/files/system.h"

// Room for any path the system takes, and the temporary's suffix.
constexpr size_t OUTPUT_PATH_SIZE = 4096 + 64;

struct OutputFile {
    FileSystem *system;
    const char *target;                  // the name given, as reported
    char destination[OUTPUT_PATH_SIZE];  // the target, or the file a link names
    char temporary[OUTPUT_PATH_SIZE];    // "" when written in place
    std::unique_ptr<File> opened;        // between open and commit or discard
    std::FILE *file;                     // its stream, for the writers
};

// Refuses (reporting each, naming both) an output that is the same file as
// a log, or as another output. Files are told apart by identity, not name:
// a hard link or another spelling of a log is that log. A log named "-" is
// standard input. False if any is refused.
bool check_output_names(FileSystem &system, const char *const *outputs, int output_count, const char *const *logs,
                        int log_count);

// Whether two names, which need not exist yet, are the same file or name
// the same entry of the same directory.
bool same_output_name(FileSystem &system, const char *a, const char *b);

// Opens a new temporary for target (which must stay valid). False, with
// the reason reported, if it cannot be written. Callable again for the same
// target once committed or discarded.
bool open_output_file(FileSystem &system, OutputFile &output, const char *target);

// Writes out and closes the temporary. False, with the reason reported and
// the temporary removed, if any write failed. (With several outputs: finish
// each, then commit each, so that none is replaced when one fails.)
bool finish_output_file(OutputFile &output);

// Finishes the temporary if need be and renames it over the target. False,
// with the reason reported and the temporary removed, if that fails.
bool commit_output_file(OutputFile &output);

// Closes and removes the temporary: the target stays as it was.
void discard_output_file(OutputFile &output);
