// What the time service did to the clock, as episodes: a step (a line
// marked "><") or a slew (a stretch of consecutive samples of one run whose
// adjustment differs from the increment on one side: a slew ends where the
// commanded rate changes sign). For each, what the adjustment
// commanded against what the difference measured over the same samples.
// Gathered one sample at a time; a run keeps its first episodes and counts
// the rest.
#pragma once

#include <cstdint>

#include "analyze/parse/log_line.h"

constexpr int MAX_KEPT_EPISODES = 100;

enum class EpisodeKind { step, slew };

struct Episode {
    EpisodeKind kind;
    int64_t start_utc_ms;  // its first and last sample's time, or UNKNOWN_TIME_MS
    int64_t end_utc_ms;
    uint64_t samples;
    double counter_ms;    // the counter's time across it: its samples' counter intervals, summed
    double slew_ppm_ms;   // Σ slew (ppm) × counter interval (ms): the weighted mean's numerator
    double commanded_ms;  // Σ (adjustment − increment) / increment × counter interval
    double measured_ms;   // Σ difference
    // Samples missing within it (lost lines, gap lines), whose commands
    // and differences it lacks; and the lost lines' time, which no counter
    // interval holds.
    uint64_t missing_samples;
    double lost_ms;
};

// The time it spans, by the counter: its samples' intervals and the lines
// lost within it.
inline double duration_s(const Episode &e) { return (e.counter_ms + e.lost_ms) / 1e3; }
// Weighted by the counter interval; 0 when the counter did not advance.
inline double slew_ppm(const Episode &e) { return e.counter_ms > 0 ? e.slew_ppm_ms / e.counter_ms : 0; }
inline double residual_ms(const Episode &e) { return e.measured_ms - e.commanded_ms; }

// What any number of episodes add up to: a run's, a file's, all of them.
struct EpisodeTotals {
    uint64_t steps;
    uint64_t slews;
    double commanded_abs_ms;  // Σ |commanded| over every episode
    // The slew whose clock followed its command least: measured −
    // commanded, signed. A step's residual is the step itself, which the
    // steps already tell.
    bool has_slew_residual;
    double largest_slew_residual_ms;
    // The largest step and the hardest slew, by size, signed: what a
    // verdict names. The step's size is its measured difference.
    double largest_step_ms;
    double largest_slew_ppm;
    double largest_slew_s;  // that slew's duration
};

inline uint64_t episode_count(const EpisodeTotals &t) { return t.steps + t.slews; }

struct RunEpisodes {
    EpisodeTotals totals;  // the ended episodes
    int kept_count;
    Episode kept[MAX_KEPT_EPISODES];
    bool slewing;     // open: the slew the last sample belongs to
    bool slewing_up;  // its commanded rate is positive
    Episode open;
};

void start_episodes(RunEpisodes &episodes);
// missing: the samples missing just before this one (phase.h's
// PhaseLine::missing_points); lost_ms, the time of those lost from the log.
void add_to_episodes(RunEpisodes &episodes, const ReportFields &sample, uint64_t missing = 0, double lost_ms = 0);
// Ends the open slew, if any: at the run's end.
void end_episodes(RunEpisodes &episodes);
void add_episode_totals(EpisodeTotals &into, const EpisodeTotals &from);
// The run's totals with its open slew counted in (a run still being read).
EpisodeTotals episode_totals_so_far(const RunEpisodes &episodes);
