// The summary as JSON for scripts, written run by run as the runs end:
// {"runs": [...], "total": {...}, "by_file": [...], "files": [...],
// "unrecognised_lines": n, "outside_window": n, "window": {...}}.
#pragma once

#include <cstdio>

#include "analyze/accumulate/records.h"

void begin_json(std::FILE *out);
void write_run_json(std::FILE *out, const RunRecord &record, bool first);
void end_json(std::FILE *out, const AnalysisSnapshot &snapshot);
