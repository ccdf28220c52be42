// The summary as JSON for scripts, written run by run as the runs end:
// {"runs": [...], "total": {...}, "files": [...], "unrecognised_lines": n}.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/statistics.h"

void begin_json(std::FILE *out);
void write_run_json(std::FILE *out, const LogRun &run, bool first);
void end_json(std::FILE *out, const RunStatistics &total, int32_t runs, char *const *files, int file_count,
              uint64_t unrecognised_lines);
