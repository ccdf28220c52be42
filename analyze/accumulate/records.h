// What the writers are given: a run as it ended, with what it amounts to.
#pragma once

#include "analyze/accumulate/episodes.h"
#include "analyze/accumulate/figures.h"
#include "analyze/accumulate/statistics.h"

// The runs kept whole for the report's tables, the first ones; the rest
// are counted.
constexpr int REPORT_LISTED_RUNS = 20;

// A run: its statistics, figures_of them and its differences, and its
// correction episodes.
struct RunRecord {
    LogRun run;
    RunFigures figures;
    RunEpisodes episodes;  // its first MAX_KEPT_EPISODES
};
