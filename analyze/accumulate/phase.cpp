#include "analyze/accumulate/phase.h"

#include <cmath>

#include "analyze/parse/utc_time.h"

void start_phase(RunPhase &phase) {
    phase = RunPhase{};
    phase.previous_utc_ms = UNKNOWN_TIME_MS;
}

double phase_spacing_s(const RunPhase &phase) {
    const double ms = phase.regular_lines > 0 ? phase.regular_interval_sum_ms / static_cast<double>(phase.regular_lines)
                                              : NOMINAL_SPACING_MS;
    return ms / 1000;
}

// As nearbyint, without the call: adding 1.5 * 2^52 leaves no fraction.
static double nearest_whole(double value) {
    constexpr double SHIFT = 6755399441055744.0;
    return std::fabs(value) < 0x1p51 ? (value + SHIFT) - SHIFT : value;
}

static void open_segment(RunPhase &phase, PhaseSegment *segment) {
    phase.segment_open = true;
    phase.x = 0;
    phase.t = 0;
    if (segment != nullptr) {
        start_segment(*segment);
    }
    start_frequency_segment(phase.frequency);
    add_frequency_point(phase.frequency, 0, 0);
}

static void add_point(RunPhase &phase, PhaseSegment *segment, uint64_t missing) {
    if (segment != nullptr) {
        for (uint64_t i = 0; i < missing; ++i) {
            add_phase_point(*segment, phase.stability, NAN);
        }
        add_phase_point(*segment, phase.stability, phase.x);
    }
    add_frequency_point(phase.frequency, phase.t, phase.x);
}

// Grid steps in interval_ms (bounded, so that a nonsensical interval
// cannot overflow).
static uint64_t grid_steps(double interval_ms, double spacing_ms) {
    const double steps = std::nearbyint(interval_ms / spacing_ms);
    return steps > 0 ? static_cast<uint64_t>(std::fmin(steps, 1e15)) : 0;
}

static PhaseLine place_line(RunPhase &phase, PhaseSegment *segment, const ReportFields &sample) {
    const double spacing_ms = phase_spacing_s(phase) * 1000;
    PhaseLine line = {};
    const bool regular = sample.counter_ms >= REGULAR_INTERVAL_MIN_MS && sample.counter_ms <= REGULAR_INTERVAL_MAX_MS;
    line.kind = sample.marked ? PhaseLineKind::marked : regular ? PhaseLineKind::regular : PhaseLineKind::gap;
    // The time the sample times span beyond the line's own interval (they
    // hold the clock's step, the difference, as well).
    if (sample.utc_ms != UNKNOWN_TIME_MS && phase.previous_utc_ms != UNKNOWN_TIME_MS) {
        const double lost_ms = static_cast<double>(sample.utc_ms - phase.previous_utc_ms) - sample.difference_ms -
                               std::fmax(sample.counter_ms, 0.0);
        line.missing_points = grid_steps(lost_ms, spacing_ms);
        line.lost_lines = line.missing_points > 0;
    }
    phase.previous_utc_ms = sample.utc_ms;
    const uint64_t steps = regular ? 1 : grid_steps(sample.counter_ms, spacing_ms);
    if (steps > 1) {
        line.missing_points += steps - 1;
    }
    if (line.kind == PhaseLineKind::marked || steps > static_cast<uint64_t>(LONGEST_M)) {
        open_segment(phase, segment);
        line.starts_segment = true;
        line.ends_on_point = true;
        return line;
    }
    if (!phase.segment_open || line.lost_lines) {
        open_segment(phase, segment);
        line.starts_segment = true;
    }
    if (regular) {
        phase.regular_interval_sum_ms += sample.counter_ms;
        ++phase.regular_lines;
    }
    phase.x += nearest_whole(sample.difference_ms * (1e-3 / PHASE_UNIT_S));
    phase.t += nearest_whole(std::fmax(sample.counter_ms, 0.0) * (1e-3 / PHASE_UNIT_S));
    if (steps > 0) {
        add_point(phase, segment, steps - 1);
        line.ends_on_point = true;
    }
    return line;
}

PhaseLine add_to_phase(RunPhase &phase, PhaseSegment *segment, const ReportFields &sample) {
    phase.last_line = place_line(phase, segment, sample);
    return phase.last_line;
}

void add_phase_to_total(RunPhase &total, const RunPhase &run) {
    total.regular_interval_sum_ms += run.regular_interval_sum_ms;
    total.regular_lines += run.regular_lines;
    add_stability(total.stability, run.stability);
    add_frequency(total.frequency, run.frequency);
}
