// The summary as JSON for scripts, written run by run as the runs end:
// {"runs": [...], "total": {...}, "by_file": [...], "files": [...],
// "unrecognised_lines": n, "outside_window": n, "window": {...}}.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/statistics.h"

void begin_json(std::FILE *out);
// figures: figures_of the run's statistics, or the total's.
void write_run_json(std::FILE *out, const LogRun &run, const RunFigures &figures, const RunEpisodes &episodes,
                    bool first);
void end_json(std::FILE *out, const RunStatistics &total, const RunFigures &figures, const PooledSummary &pooled);
