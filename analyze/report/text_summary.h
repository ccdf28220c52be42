// The summary as text for a person, one run at a time and then the total.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/statistics.h"

// "156001 (increment 156250, -1593.600 ppm)"
void write_setting(std::FILE *out, AdjustmentSetting setting);
// The run and its first TEXT_LISTED_EPISODES correction episodes;
// figures: figures_of the run's statistics.
constexpr int TEXT_LISTED_EPISODES = 20;
void write_run_text(std::FILE *out, const LogRun &run, const RunFigures &figures, const RunEpisodes &episodes);
// Pooled over every file, figures_of the total; with several files, also
// side by side.
void write_total_text(std::FILE *out, const RunStatistics &total, const RunFigures &figures,
                      const PooledSummary &pooled);
