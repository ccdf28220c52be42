// The one line that tickwatch-analyze --follow prints at each interval.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/statistics.h"

// now_ms: UTC, ms since 1970; last_difference: the last sample's, if any.
// figures: figures_of the total.
void write_status_line(std::FILE *out, int64_t now_ms, const RunStatistics &total, const RunFigures &figures,
                       const double *last_difference_ms);
