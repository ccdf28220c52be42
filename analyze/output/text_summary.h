// The summary as text for a person, one run at a time and then the total.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/statistics.h"

// "156001 (increment 156250, -1593.600 ppm)"
void write_setting(std::FILE *out, AdjustmentSetting setting);
// figures: figures_of the run's statistics, or the total's.
void write_run_text(std::FILE *out, const LogRun &run, const RunFigures &figures);
void write_total_text(std::FILE *out, const RunStatistics &total, const RunFigures &figures, int32_t runs,
                      int file_count, uint64_t unrecognised_lines);
