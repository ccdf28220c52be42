#include "analyze/accumulate/phase.h"

#include <cmath>

bool is_segment_boundary(const ReportFields &sample) {
    return sample.marked ||
           !(sample.counter_ms >= SEGMENT_INTERVAL_MIN_MS && sample.counter_ms <= SEGMENT_INTERVAL_MAX_MS);
}

void start_phase(RunPhase &phase) { phase = RunPhase{}; }

// As nearbyint, without the call: adding 1.5 * 2^52 leaves no fraction.
static double nearest_whole(double value) {
    constexpr double SHIFT = 6755399441055744.0;
    return std::fabs(value) < 0x1p51 ? (value + SHIFT) - SHIFT : value;
}

static void open_segment(RunPhase &phase, PhaseSegment &segment) {
    phase.segment_open = true;
    start_segment(segment);
    start_frequency_segment(phase.frequency);
    add_frequency_point(phase.frequency, 0);
}

void add_to_phase(RunPhase &phase, PhaseSegment &segment, const ReportFields &sample) {
    if (is_segment_boundary(sample)) {
        open_segment(phase, segment);
        return;
    }
    if (!phase.segment_open) {
        open_segment(phase, segment);
    }
    const double step = nearest_whole(sample.difference_ms * (1e-3 / PHASE_UNIT_S));
    add_phase_step(segment, phase.stability, step);
    add_frequency_point(phase.frequency, segment.ring[segment.head]);
}

void add_phase_to_total(RunPhase &total, const RunPhase &run) {
    add_stability(total.stability, run.stability);
    add_frequency(total.frequency, run.frequency);
}
