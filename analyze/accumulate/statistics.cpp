#include "analyze/accumulate/statistics.h"

#include <cmath>

void start_statistics(RunStatistics &run, PhaseSegment *phase_segment, DifferenceCounts *difference_counts) {
    run = RunStatistics{};
    run.first_utc_ms = UNKNOWN_TIME_MS;
    run.last_utc_ms = UNKNOWN_TIME_MS;
    start_phase(run.phase);
    run.phase_segment = phase_segment;
    run.difference_counts = difference_counts;
    if (difference_counts != nullptr) {
        start_counts(*difference_counts);
    }
}

bool sample_rate_ppm(const ReportFields &sample, double &ppm) {
    if (!(sample.counter_ms > 0)) {
        return false;
    }
    ppm = sample.difference_ms / sample.counter_ms * 1e6;
    return true;
}

bool slew_rate_ppm(AdjustmentSetting setting, double &ppm) {
    if (setting.increment == 0) {
        return false;
    }
    const auto offset = static_cast<int32_t>(static_cast<uint32_t>(setting.adjustment) - setting.increment);
    ppm = offset / static_cast<double>(setting.increment) * 1e6;
    return true;
}

AdjustmentSetting setting_of(const ReportFields &sample) { return {sample.adjustment, increment_of(sample)}; }

namespace {

// Held at the largest count rather than wrapped to a small one.
uint64_t add_counts(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

bool same_setting(AdjustmentSetting a, AdjustmentSetting b) {
    return a.adjustment == b.adjustment && a.increment == b.increment;
}

void count_value(RunStatistics &run, AdjustmentSetting setting, uint64_t samples) {
    for (int i = 0; i < run.value_count; ++i) {
        if (same_setting(run.values[i].setting, setting)) {
            run.values[i].samples += samples;
            return;
        }
    }
    if (run.value_count < MAX_ADJUSTMENT_VALUES) {
        run.values[run.value_count++] = AdjustmentValue{setting, samples};
    } else {
        run.other_value_samples += samples;
    }
}

bool paced_alike(const RunPhase &total, const RunPhase &run) {
    if (total.regular_lines == 0 || run.regular_lines == 0) {
        return true;  // (a τ0 not measured: the nominal one)
    }
    return std::fabs(phase_spacing_s(run) / phase_spacing_s(total) - 1) <= TAU0_POOLING_TOLERANCE;
}

}  // namespace

void add_sample(RunStatistics &run, const ReportFields &sample) {
    const AdjustmentSetting setting = setting_of(sample);
    const bool timed = sample.utc_ms != UNKNOWN_TIME_MS;
    if (run.samples == 0) {
        run.difference_min = sample.difference_ms;
        run.difference_max = sample.difference_ms;
    } else {
        if (!same_setting(setting, run.previous_setting)) {
            if (run.listed_change_count < MAX_LISTED_EVENTS) {
                run.listed_changes[run.listed_change_count++] =
                    AdjustmentChange{sample.utc_ms, run.previous_setting, setting};
            }
            ++run.changes;
        }
    }
    ++run.samples;
    if (timed) {
        const bool first = run.first_utc_ms == UNKNOWN_TIME_MS;
        run.first_utc_ms = first || sample.utc_ms < run.first_utc_ms ? sample.utc_ms : run.first_utc_ms;
        run.last_utc_ms = first || sample.utc_ms > run.last_utc_ms ? sample.utc_ms : run.last_utc_ms;
    }
    run.covered_ms += counter_advance_ms(sample);
    run.previous_setting = setting;

    // Where the line leaves the phase: missing samples, and whether its
    // difference is one of the regular ones.
    const PhaseLine &line = add_to_phase(run.phase, run.phase_segment, sample);
    if (line.missing_points > 0) {
        ++run.gaps;
        run.missing_samples = add_counts(run.missing_samples, line.missing_points);
    }
    if (line.lost_points > 0) {
        ++run.lost_line_places;
        run.lost_samples = add_counts(run.lost_samples, line.lost_points);
    }
    if (line.missing_points > line.lost_points) {
        ++run.gap_lines;
        run.gap_samples = add_counts(run.gap_samples, line.missing_points - line.lost_points);
    }
    run.difference_sum += sample.difference_ms;
    if (line.kind == PhaseLineKind::regular) {
        ++run.regular_lines;
        run.regular_difference_sum += sample.difference_ms;
        run.regular_difference_sum_squares += sample.difference_ms * sample.difference_ms;
        if (run.difference_counts != nullptr) {
            count_difference(*run.difference_counts, sample.difference_ms);
        }
    }
    // (Plain comparisons: no value read from a line is a NaN.)
    run.difference_min = sample.difference_ms < run.difference_min ? sample.difference_ms : run.difference_min;
    run.difference_max = sample.difference_ms > run.difference_max ? sample.difference_ms : run.difference_max;

    if (sample.marked) {
        if (run.listed_step_count < MAX_LISTED_EVENTS) {
            run.listed_steps[run.listed_step_count++] = Step{sample.utc_ms, sample.difference_ms};
        }
        ++run.steps;
        run.step_sum_ms += sample.difference_ms;
    } else {
        double ppm = 0;
        if (sample_rate_ppm(sample, ppm)) {
            run.rate_min_ppm = run.rate_samples == 0 || ppm < run.rate_min_ppm ? ppm : run.rate_min_ppm;
            run.rate_max_ppm = run.rate_samples == 0 || ppm > run.rate_max_ppm ? ppm : run.rate_max_ppm;
            ++run.rate_samples;
            run.rate_difference_sum += sample.difference_ms;
            run.rate_counter_sum += sample.counter_ms;
        }
    }
    count_value(run, setting, 1);
}

void add_run_to_total(RunStatistics &total, const RunStatistics &run) {
    if (run.samples == 0) {
        return;
    }
    if (total.samples == 0) {
        total.difference_min = run.difference_min;
        total.difference_max = run.difference_max;
    }
    if (run.first_utc_ms != UNKNOWN_TIME_MS) {
        const bool first = total.first_utc_ms == UNKNOWN_TIME_MS;
        total.first_utc_ms = first || run.first_utc_ms < total.first_utc_ms ? run.first_utc_ms : total.first_utc_ms;
        total.last_utc_ms = first || run.last_utc_ms > total.last_utc_ms ? run.last_utc_ms : total.last_utc_ms;
    }
    total.covered_ms += run.covered_ms;
    total.samples += run.samples;
    total.gaps += run.gaps;
    total.missing_samples = add_counts(total.missing_samples, run.missing_samples);
    total.lost_line_places += run.lost_line_places;
    total.lost_samples = add_counts(total.lost_samples, run.lost_samples);
    total.gap_lines += run.gap_lines;
    total.gap_samples = add_counts(total.gap_samples, run.gap_samples);
    total.runs_paced_apart += run.runs_paced_apart;
    total.samples_paced_apart += run.samples_paced_apart;
    total.difference_sum += run.difference_sum;
    total.regular_lines += run.regular_lines;
    total.regular_difference_sum += run.regular_difference_sum;
    total.regular_difference_sum_squares += run.regular_difference_sum_squares;
    total.difference_min = std::fmin(total.difference_min, run.difference_min);
    total.difference_max = std::fmax(total.difference_max, run.difference_max);
    total.steps += run.steps;
    total.step_sum_ms += run.step_sum_ms;
    if (run.rate_samples > 0) {
        total.rate_min_ppm =
            total.rate_samples == 0 ? run.rate_min_ppm : std::fmin(total.rate_min_ppm, run.rate_min_ppm);
        total.rate_max_ppm =
            total.rate_samples == 0 ? run.rate_max_ppm : std::fmax(total.rate_max_ppm, run.rate_max_ppm);
        total.rate_samples += run.rate_samples;
        total.rate_difference_sum += run.rate_difference_sum;
        total.rate_counter_sum += run.rate_counter_sum;
    }
    for (int i = 0; i < run.value_count; ++i) {
        count_value(total, run.values[i].setting, run.values[i].samples);
    }
    total.other_value_samples += run.other_value_samples;
    total.changes += run.changes;
    if (paced_alike(total.phase, run.phase)) {
        add_phase_to_total(total.phase, run.phase);
    } else {
        ++total.runs_paced_apart;
        total.samples_paced_apart += run.samples;
    }
    if (total.difference_counts != nullptr && run.difference_counts != nullptr) {
        add_counts(*total.difference_counts, *run.difference_counts);
    }
}

double difference_mean(const RunStatistics &run) {
    return run.regular_lines > 0 ? run.regular_difference_sum / static_cast<double>(run.regular_lines) : NAN;
}

double difference_rms(const RunStatistics &run) {
    return run.regular_lines > 0
               ? std::sqrt(run.regular_difference_sum_squares / static_cast<double>(run.regular_lines))
               : NAN;
}

bool run_rate_ppm(const RunStatistics &run, double &ppm) {
    if (run.rate_samples == 0 || !(run.rate_counter_sum > 0)) {
        return false;
    }
    ppm = run.rate_difference_sum / run.rate_counter_sum * 1e6;
    return true;
}
