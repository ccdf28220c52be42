// The summary as text for a person, one run at a time and then the total.
#pragma once

#include <cstdio>

#include "analyze/accumulate/records.h"
#include "analyze/accumulate/statistics.h"

// "156001 (increment 156250, -1593.600 ppm)"
void write_setting(std::FILE *out, AdjustmentSetting setting);
// The run and its first TEXT_LISTED_EPISODES correction episodes.
constexpr int TEXT_LISTED_EPISODES = 20;
void write_run_text(std::FILE *out, const RunRecord &record);
// Pooled over every file; with several files, also side by side.
void write_total_text(std::FILE *out, const AnalysisSnapshot &snapshot);
