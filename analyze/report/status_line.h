// The one line that tickwatch-analyze --follow prints at each interval.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/records.h"

// now_ms: UTC, ms since 1970.
void write_status_line(std::FILE *out, int64_t now_ms, const AnalysisSnapshot &snapshot);
