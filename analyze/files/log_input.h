// The logs named on the command line: checked before any is read, and
// opened one at a time. "-" is standard input.
#pragma once

#include <memory>

#include "analyze/files/system.h"

// "tickwatch-analyze: NAME: PROBLEM: REASON" on standard error; without
// ": REASON" when the reason is empty.
void report_problem(const char *name, const char *problem, const char *reason);

// The name as the outputs show it: standard input by its name.
const char *shown_log_name(const char *name);

// Whether a log can be read, checked without opening it (a named pipe is
// read once); the reason is reported if not.
bool check_readable(FileSystem &system, const char *name);
// With --follow, the last log: a regular file, or none yet; one not there
// yet is no output either.
bool check_followable(FileSystem &system, const char *name, const char *const *outputs, int output_count);

// Whether the file by the name is there and begins as a tickwatch log
// does (a banner or a report line among its first lines), in any encoding
// the logs are read in: an output never replaces one.
bool begins_as_log(FileSystem &system, const char *name);

// Opens a log to read it through, standard input as it is; nullptr, with
// the reason reported, if it cannot be.
std::unique_ptr<File> open_log(FileSystem &system, const char *name);
