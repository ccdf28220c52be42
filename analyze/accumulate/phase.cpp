#include "analyze/accumulate/phase.h"

#include <cmath>

#include "analyze/accumulate/edf.h"
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

namespace {

// As nearbyint, without the call: adding 1.5 * 2^52 leaves no fraction.
double nearest_whole(double value) {
    constexpr double SHIFT = 6755399441055744.0;
    return std::fabs(value) < 0x1p51 ? (value + SHIFT) - SHIFT : value;
}

// The open segment's terms waiting in its block go to the sums, where
// they are this phase's (another's left in a shared storage are its own).
void settle_stability(const RunPhase &phase) {
    PhaseSegment *const segment = phase.segment_storage;
    if (segment != nullptr && segment->block_sums == &phase.stability) {
        flush_phase_points(*segment);
    }
}

bool has_term(const StabilitySums &now, const StabilitySums &before, int k) {
    return now.tau[k].oadev_terms > before.tau[k].oadev_terms;
}

// The open segment's points to the shares, and its figures kept while
// there is room.
void close_segment(RunPhase &phase) {
    if (!phase.segment_open) {
        return;
    }
    const uint64_t points = phase.segment.points;
    phase.closed_points += points;
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        if (has_term(phase.stability, phase.segment_start, k)) {
            phase.contributing_points[k] += points;
        }
    }
    phase.last_closed = open_segment_as_kept(phase);
    if (phase.kept_segment_count < MAX_KEPT_SEGMENTS) {
        phase.kept_segments[phase.kept_segment_count++] = phase.last_closed;
    }
    ++phase.segments_closed;
}

void open_segment(RunPhase &phase, PhaseSegment *segment, SegmentBoundary boundary, int64_t utc_ms) {
    settle_stability(phase);
    close_segment(phase);
    phase.segment = SegmentFigures{};
    phase.segment.boundary = boundary;
    phase.segment.start_utc_ms = utc_ms;
    phase.segment.end_utc_ms = utc_ms;
    phase.segment.points = 1;
    phase.segment_start = phase.stability;
    phase.segment_open = true;
    phase.x = 0;
    phase.t = 0;
    phase.point_index = 0;
    phase.segment_storage = segment;
    if (segment != nullptr) {
        start_segment(*segment);
    }
    start_noise_segment(phase.noise);
    add_noise_point(phase.noise, 0, 0);
    start_frequency_segment(phase.frequency);
    add_frequency_point(phase.frequency, 0, 0);
}

void add_point(RunPhase &phase, PhaseSegment *segment, uint64_t missing) {
    for (uint64_t i = 0; i < missing; ++i) {
        // The every-m-th points of each m that this one is among lose
        // their neighbour: their lag-1 sums start afresh after it.
        const uint64_t index = ++phase.point_index;
        for (int k = 0; k < STABILITY_TAUS && (index & ((uint64_t{1} << k) - 1)) == 0; ++k) {
            start_lag1_segment(phase.noise.tau[k]);
        }
        if (segment != nullptr) {
            add_phase_point(*segment, phase.stability, NAN);
        }
    }
    add_noise_point(phase.noise, ++phase.point_index, phase.x);
    ++phase.segment.points;
    if (segment != nullptr) {
        add_phase_point(*segment, phase.stability, phase.x);
    }
    add_frequency_point(phase.frequency, phase.t, phase.x);
}

// Grid steps in interval_ms (bounded, so that a nonsensical interval
// cannot overflow).
uint64_t grid_steps(double interval_ms, double spacing_ms) {
    const double steps = std::nearbyint(interval_ms / spacing_ms);
    return steps > 0 ? static_cast<uint64_t>(std::fmin(steps, 1e15)) : 0;
}

// (Written in place: a line built aside and copied whole costs a stalled
// load per line, its fields stored one by one and read back together.)
void place_line(RunPhase &phase, PhaseSegment *segment, const ReportFields &sample) {
    PhaseLine &line = phase.last_line;
    line = PhaseLine{};
    const bool regular = sample.counter_ms >= REGULAR_INTERVAL_MIN_MS && sample.counter_ms <= REGULAR_INTERVAL_MAX_MS;
    line.kind = sample.marked ? PhaseLineKind::marked : regular ? PhaseLineKind::regular : PhaseLineKind::gap;
    // (τ0 only where a line is not one of the regular, next to each other.)
    double spacing_ms = 0;
    // The time the sample times span beyond the line's own interval (they
    // hold the clock's step, the difference, as well).
    if (sample.utc_ms != UNKNOWN_TIME_MS && phase.previous_utc_ms != UNKNOWN_TIME_MS) {
        const double lost_ms = static_cast<double>(sample.utc_ms - phase.previous_utc_ms) - sample.difference_ms -
                               counter_advance_ms(sample);
        if (lost_ms > REGULAR_INTERVAL_MIN_MS / 2) {
            spacing_ms = phase_spacing_s(phase) * 1000;
            line.missing_points = grid_steps(lost_ms, spacing_ms);
            line.lost_points = line.missing_points;
            line.lost_lines = line.missing_points > 0;
        }
    }
    phase.previous_utc_ms = sample.utc_ms;
    uint64_t steps = 1;
    if (!regular) {
        spacing_ms = spacing_ms > 0 ? spacing_ms : phase_spacing_s(phase) * 1000;
        steps = grid_steps(sample.counter_ms, spacing_ms);
    }
    if (steps > 1) {
        line.missing_points += steps - 1;
    }
    if (line.kind == PhaseLineKind::marked || steps > static_cast<uint64_t>(LONGEST_M)) {
        open_segment(phase, segment, line.kind == PhaseLineKind::marked ? SegmentBoundary::step : SegmentBoundary::gap,
                     sample.utc_ms);
        line.starts_segment = true;
        line.ends_on_point = true;
        return;
    }
    if (!phase.segment_open || line.lost_lines) {
        open_segment(phase, segment, phase.segment_open ? SegmentBoundary::lost_lines : SegmentBoundary::run_start,
                     sample.utc_ms);
        line.starts_segment = true;
    }
    if (sample.utc_ms != UNKNOWN_TIME_MS) {
        phase.segment.end_utc_ms = sample.utc_ms;
        if (phase.segment.start_utc_ms == UNKNOWN_TIME_MS) {
            phase.segment.start_utc_ms = sample.utc_ms;
        }
    }
    if (sample.adjustment_offset != 0) {
        ++phase.segment.slewed_lines;
        ++phase.slewed_lines;
    }
    if (regular) {
        phase.regular_interval_sum_ms += sample.counter_ms;
        ++phase.regular_lines;
    }
    phase.x += nearest_whole(sample.difference_ms * (1e-3 / PHASE_UNIT_S));
    phase.t += nearest_whole(counter_advance_ms(sample) * (1e-3 / PHASE_UNIT_S));
    if (steps > 0) {
        add_point(phase, segment, steps - 1);
        line.ends_on_point = true;
    }
}

}  // namespace

const PhaseLine &add_to_phase(RunPhase &phase, PhaseSegment *segment, const ReportFields &sample) {
    place_line(phase, segment, sample);
    return phase.last_line;
}

namespace {

// The points of the closed segments and the open one; of those, the
// points of segments with a term at m = 2^k.
uint64_t points_so_far(const RunPhase &phase) {
    return phase.closed_points + (phase.segment_open ? phase.segment.points : 0);
}

uint64_t contributing_so_far(const RunPhase &phase, int k) {
    const bool open_contributes = phase.segment_open && has_term(phase.stability, phase.segment_start, k);
    return phase.contributing_points[k] + (open_contributes ? phase.segment.points : 0);
}

}  // namespace

void add_phase_to_total(RunPhase &total, const RunPhase &run) {
    settle_stability(run);
    total.closed_points += points_so_far(run);
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        total.contributing_points[k] += contributing_so_far(run, k);
    }
    total.slewed_lines += run.slewed_lines;
    total.segments_closed += run.segments_closed + (run.segment_open ? 1 : 0);
    total.regular_interval_sum_ms += run.regular_interval_sum_ms;
    total.regular_lines += run.regular_lines;
    add_stability(total.stability, run.stability);
    add_noise(total.noise, run.noise);
    add_frequency(total.frequency, run.frequency);
}

namespace {

// The EDF of a variance for the noise, or, unknown, the least of all.
double edf_for(Variance variance, int alpha, int m, uint64_t terms, uint64_t stretches) {
    if (terms == 0 || stretches == 0) {
        return 0;
    }
    const auto n = static_cast<double>(terms);
    const auto pieces = static_cast<double>(stretches);
    if (alpha != NOISE_UNKNOWN) {
        return pooled_edf(variance, alpha, m, n, pieces);
    }
    double least = INFINITY;
    for (int a = -2; a <= EDF_ALPHA_MAX; ++a) {
        least = std::fmin(least, pooled_edf(variance, a, m, n, pieces));
    }
    return least;
}

void set_interval(double value, double edf, double &low, double &high) {
    if (edf > 0) {
        const DeviationInterval interval = deviation_interval(value, edf);
        low = interval.low;
        high = interval.high;
    }
}

}  // namespace

namespace {

// The noise at each τ: the lag-1 sums, and MDEV²/OADEV² from the stability
// sums.
void identify_alpha(const NoiseSums &noise, const StabilitySums &stability, int alpha[STABILITY_TAUS]) {
    double ratio[STABILITY_TAUS];
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        const TauSums &sums = stability.tau[k];
        const double md = 1 << k;
        ratio[k] = sums.mdev_terms >= 2 && sums.oadev_sum > 0
                       ? (sums.mdev_sum / (md * md * static_cast<double>(sums.mdev_terms))) /
                             (sums.oadev_sum / static_cast<double>(sums.oadev_terms))
                       : NAN;
    }
    identify_noise_per_tau(noise, ratio, STABILITY_TAUS, alpha);
}

// The τ listed from stability sums, for the noise given at each τ.
int list_stability(const StabilitySums &stability, const int alpha[STABILITY_TAUS], double tau0_s,
                   StabilityPoint out[STABILITY_TAUS], StabilityIntervals intervals) {
    int count = 0;
    for (; count < STABILITY_TAUS; ++count) {
        const TauSums &sums = stability.tau[count];
        const int m = 1 << count;
        const double edf =
            edf_for(Variance::overlapping_allan, alpha[count], m, sums.oadev_terms, sums.oadev_stretches);
        if (!(edf >= 1)) {
            break;
        }
        StabilityPoint &point = out[count];
        point = stability_point(sums, m, PHASE_UNIT_S, tau0_s);
        point.alpha = alpha[count];
        point.oadev_edf = edf;
        point.share = 1;
        set_interval(point.oadev, edf, point.oadev_low, point.oadev_high);
        if (intervals == StabilityIntervals::oadev) {
            continue;
        }
        if (point.has_mdev) {
            const double mdev_edf =
                edf_for(Variance::modified_allan, alpha[count], m, sums.mdev_terms, sums.mdev_stretches);
            set_interval(point.mdev, mdev_edf, point.mdev_low, point.mdev_high);
            // TDEV = τ·MDEV/√3: the same interval, scaled.
            const double to_tdev = point.tdev_ns / point.mdev;
            point.tdev_low_ns = point.mdev_low * to_tdev;
            point.tdev_high_ns = point.mdev_high * to_tdev;
        }
        if (point.has_hdev) {
            const double hdev_edf =
                edf_for(Variance::overlapping_hadamard, alpha[count], m, sums.hdev_terms, sums.hdev_stretches);
            set_interval(point.hdev, hdev_edf, point.hdev_low, point.hdev_high);
        }
    }
    return count;
}

FrequencyFigures with_uncertainty(FrequencyFigures f, const StabilityPoint *points, int count, double tau0_s) {
    if (!f.has_stderr) {
        return f;
    }
    StabilityWithNoise with_noise[STABILITY_TAUS];
    int known = 0;
    for (int i = 0; i < count; ++i) {
        if (points[i].alpha != NOISE_UNKNOWN) {
            with_noise[known++] = {points[i].tau_s, points[i].oadev, points[i].oadev_edf, points[i].alpha};
        }
    }
    const FrequencyUncertaintyInputs inputs = {f.fit_stderr, f.time_squares_s2, tau0_s, with_noise, known};
    f.has_uncertainty = true;
    f.uncertainty_ppm = frequency_uncertainty(inputs) * 1e6;
    return f;
}

}  // namespace

int list_phase_stability(const RunPhase &phase, StabilityPoint out[STABILITY_TAUS], StabilityIntervals intervals) {
    settle_stability(phase);
    int alpha[STABILITY_TAUS];
    identify_alpha(phase.noise, phase.stability, alpha);
    const int count = list_stability(phase.stability, alpha, phase_spacing_s(phase), out, intervals);
    for (int k = 0; k < count; ++k) {
        out[k].share = stability_share(phase, k);
    }
    return count;
}

FrequencyFigures phase_frequency(const RunPhase &phase, const StabilityPoint *points, int count) {
    return with_uncertainty(frequency_figures(phase.frequency, PHASE_UNIT_S), points, count, phase_spacing_s(phase));
}

double stability_share(const RunPhase &phase, int k) {
    settle_stability(phase);
    const uint64_t points = points_so_far(phase);
    return points == 0 ? 0 : static_cast<double>(contributing_so_far(phase, k)) / static_cast<double>(points);
}

SegmentFigures segment_fit(const RunPhase &phase) {
    SegmentFigures f = phase.segment;
    for (double &oadev : f.oadev) {
        oadev = NAN;
    }
    if (!phase.segment_open) {
        f.points = 0;
        return f;
    }
    f.frequency = open_segment_frequency(phase.frequency, PHASE_UNIT_S);
    return f;
}

SegmentFigures open_segment_figures(const RunPhase &phase) {
    settle_stability(phase);
    SegmentFigures f = segment_fit(phase);
    if (f.points == 0) {
        return f;
    }
    // The segment's own sums: the run's less what it had before it.
    StabilitySums own = phase.stability;
    for (int k = 0; k < STABILITY_TAUS; ++k) {
        TauSums &sums = own.tau[k];
        const TauSums &before = phase.segment_start.tau[k];
        sums.oadev_terms -= before.oadev_terms;
        sums.oadev_sum = std::fmax(sums.oadev_sum - before.oadev_sum, 0.0);
        sums.oadev_stretches -= before.oadev_stretches;
        sums.mdev_terms -= before.mdev_terms;
        sums.mdev_sum = std::fmax(sums.mdev_sum - before.mdev_sum, 0.0);
        sums.mdev_stretches -= before.mdev_stretches;
        sums.hdev_terms -= before.hdev_terms;
        sums.hdev_sum = std::fmax(sums.hdev_sum - before.hdev_sum, 0.0);
        sums.hdev_stretches -= before.hdev_stretches;
    }
    const double tau0_s = phase_spacing_s(phase);
    for (int i = 0; i < SEGMENT_OADEV_TAUS; ++i) {
        const int k = SEGMENT_OADEV_K[i];
        if (own.tau[k].oadev_terms > 0) {
            f.oadev[i] = stability_point(own.tau[k], 1 << k, PHASE_UNIT_S, tau0_s).oadev;
        }
    }
    // The uncertainty for the run's noise, from the segment's own stability.
    int alpha[STABILITY_TAUS];
    identify_alpha(phase.noise, phase.stability, alpha);
    StabilityPoint points[STABILITY_TAUS];
    const int count = list_stability(own, alpha, tau0_s, points, StabilityIntervals::oadev);
    f.frequency = with_uncertainty(open_segment_frequency(phase.frequency, PHASE_UNIT_S), points, count, tau0_s);
    return f;
}

SegmentFigures open_segment_as_kept(const RunPhase &phase) {
    return phase.kept_segment_count < MAX_KEPT_SEGMENTS ? open_segment_figures(phase) : segment_fit(phase);
}

const char *segment_boundary_name(SegmentBoundary boundary) {
    switch (boundary) {
    case SegmentBoundary::run_start:
        return "run start";
    case SegmentBoundary::step:
        return "step";
    case SegmentBoundary::lost_lines:
        return "lost lines";
    case SegmentBoundary::gap:
        return "gap";
    }
    return "";
}
