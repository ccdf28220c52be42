#include "analyze/accumulate/episodes.h"

#include <cmath>

#include "analyze/parse/utc_time.h"

namespace {

// The adjustment's slew of one sample, in ppm; false where it does not
// slew (or where there is no increment to be relative to).
bool sample_slew_ppm(const ReportFields &sample, double &ppm) {
    const uint32_t increment = increment_of(sample);
    if (sample.adjustment_offset == 0 || increment == 0) {
        return false;
    }
    ppm = sample.adjustment_offset / static_cast<double>(increment) * 1e6;
    return true;
}

void add_to_totals(EpisodeTotals &totals, const Episode &e) {
    totals.commanded_abs_ms += std::fabs(e.commanded_ms);
    if (e.kind == EpisodeKind::step) {
        if (totals.steps == 0 || std::fabs(e.measured_ms) > std::fabs(totals.largest_step_ms)) {
            totals.largest_step_ms = e.measured_ms;
        }
        ++totals.steps;
        return;
    }
    if (totals.slews == 0 || std::fabs(slew_ppm(e)) > std::fabs(totals.largest_slew_ppm)) {
        totals.largest_slew_ppm = slew_ppm(e);
        totals.largest_slew_s = duration_s(e);
    }
    ++totals.slews;
    const double residual = residual_ms(e);
    if (!totals.has_slew_residual || std::fabs(residual) > std::fabs(totals.largest_slew_residual_ms)) {
        totals.largest_slew_residual_ms = residual;
        totals.has_slew_residual = true;
    }
}

void end_episode(RunEpisodes &episodes, const Episode &e) {
    add_to_totals(episodes.totals, e);
    if (episodes.kept_count < MAX_KEPT_EPISODES) {
        episodes.kept[episodes.kept_count++] = e;
    }
}

void add_to_episode(Episode &e, const ReportFields &sample, double ppm) {
    if (e.samples == 0 || e.start_utc_ms == UNKNOWN_TIME_MS) {
        e.start_utc_ms = sample.utc_ms;
    }
    if (sample.utc_ms != UNKNOWN_TIME_MS) {
        e.end_utc_ms = sample.utc_ms;
    }
    ++e.samples;
    const double counter_ms = counter_advance_ms(sample);
    e.counter_ms += counter_ms;
    e.slew_ppm_ms += ppm * counter_ms;
    e.commanded_ms += ppm * 1e-6 * counter_ms;
    e.measured_ms += sample.difference_ms;
}

Episode new_episode(EpisodeKind kind) {
    Episode e = {};
    e.kind = kind;
    e.start_utc_ms = UNKNOWN_TIME_MS;
    e.end_utc_ms = UNKNOWN_TIME_MS;
    return e;
}

}  // namespace

void start_episodes(RunEpisodes &episodes) {
    episodes.totals = EpisodeTotals{};
    episodes.kept_count = 0;
    episodes.slewing = false;
}

void add_to_episodes(RunEpisodes &episodes, const ReportFields &sample, uint64_t missing, double lost_ms) {
    double ppm = 0;
    const bool slews = sample_slew_ppm(sample, ppm);
    if (!slews && !sample.marked) {
        end_episodes(episodes);
        return;
    }
    if (sample.marked) {
        // A step ends a slew; the slew it may itself carry is its own.
        end_episodes(episodes);
        Episode step = new_episode(EpisodeKind::step);
        add_to_episode(step, sample, ppm);
        end_episode(episodes, step);
        return;
    }
    if (episodes.slewing && (ppm > 0) != episodes.slewing_up) {
        end_episodes(episodes);  // the other way: a slew of its own
    }
    if (!episodes.slewing) {
        episodes.slewing = true;
        episodes.slewing_up = ppm > 0;
        episodes.open = new_episode(EpisodeKind::slew);
    } else {
        episodes.open.missing_samples += missing;
        episodes.open.lost_ms += lost_ms;
    }
    add_to_episode(episodes.open, sample, ppm);
}

void end_episodes(RunEpisodes &episodes) {
    if (episodes.slewing) {
        episodes.slewing = false;
        end_episode(episodes, episodes.open);
    }
}

void add_episode_totals(EpisodeTotals &into, const EpisodeTotals &from) {
    if (from.steps > 0 && (into.steps == 0 || std::fabs(from.largest_step_ms) > std::fabs(into.largest_step_ms))) {
        into.largest_step_ms = from.largest_step_ms;
    }
    if (from.slews > 0 && (into.slews == 0 || std::fabs(from.largest_slew_ppm) > std::fabs(into.largest_slew_ppm))) {
        into.largest_slew_ppm = from.largest_slew_ppm;
        into.largest_slew_s = from.largest_slew_s;
    }
    into.steps += from.steps;
    into.slews += from.slews;
    into.commanded_abs_ms += from.commanded_abs_ms;
    if (from.has_slew_residual && (!into.has_slew_residual || std::fabs(from.largest_slew_residual_ms) >
                                                                  std::fabs(into.largest_slew_residual_ms))) {
        into.largest_slew_residual_ms = from.largest_slew_residual_ms;
        into.has_slew_residual = true;
    }
}

EpisodeTotals episode_totals_so_far(const RunEpisodes &episodes) {
    EpisodeTotals totals = episodes.totals;
    if (episodes.slewing) {
        add_to_totals(totals, episodes.open);
    }
    return totals;
}
