// The summary as JSON for scripts, written run by run as the runs end:
// {"runs": [...], "total": {...}, "files": [...], "unrecognised_lines": n}.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/statistics.h"

void begin_json(std::FILE *out);
// figures: figures_of the run's statistics, or the total's.
void write_run_json(std::FILE *out, const LogRun &run, const RunFigures &figures, bool first);
void end_json(std::FILE *out, const RunStatistics &total, const RunFigures &figures, int32_t runs,
              const char *const *files, int file_count, uint64_t unrecognised_lines);
