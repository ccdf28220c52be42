// Does a 68 % interval hold the truth 68 % of the time? For each of the
// five power-law noises, many simulated phase series of 20 000 points go,
// as the report lines of a run, through what the analyzer does with a log's
// lines: the phase (analyze/accumulate/phase.h), its streaming stability
// sums, the noise identification, the EDF and the frequency fit:
// - the intervals of OADEV, MDEV, TDEV and HDEV at a short, a middle and a
//   long τ must hold the true deviation (the root of the mean variance
//   over all the series) in 55 to 80 % of the series;
// - the frequency offset's uncertainty must cover |estimate − true| in 50
//   to 90 % of them, its median being at most 3x the estimate's RMS error.
// Prints a table, and exits 1 if a criterion fails.
//
//   coverage [SERIES]     (default 300)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "analyze/accumulate/edf.h"
#include "analyze/accumulate/phase.h"
#include "analyze/parse/utc_time.h"
#include "tests/support/power_law_noise.h"

namespace {

constexpr size_t POINTS = 20'000;
constexpr double UNIT_S = 1e-7;          // as the log's phase
constexpr double TRUE_OFFSET = 0.37;     // units per step: 0.037 ppm
constexpr int CHECKED_K[] = {0, 6, 11};  // m = 1, 64, 2048
constexpr int CHECKED = 3;
constexpr double COVERAGE_MIN = 0.55;
constexpr double COVERAGE_MAX = 0.80;
constexpr double FREQUENCY_COVERAGE_MIN = 0.50;
constexpr double FREQUENCY_COVERAGE_MAX = 0.90;
constexpr double FREQUENCY_WIDTH_MAX = 3.0;

enum Figure { OADEV, MDEV, TDEV, HDEV, FIGURES };
const char *const FIGURE_NAMES[FIGURES] = {"OADEV", "MDEV", "TDEV", "HDEV"};

PhaseSegment segment;  // about 5 MB: static storage

struct Estimate {
    double value[FIGURES];
    DeviationInterval interval[FIGURES];
};

struct SeriesResult {
    Estimate at[CHECKED];
    int alpha[CHECKED];
    double frequency_error;  // fractional
    double frequency_uncertainty;
};

SeriesResult simulate(int alpha, uint64_t seed) {
    std::vector<double> x = power_law_phase(alpha, POINTS, seed);
    // Report lines of 1000 ms whose differences sum to the series, in
    // whole phase units as a log's are (rounded as a whole, not step by
    // step, so that no rounding walks).
    RunPhase phase;
    start_phase(phase);
    double previous = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double whole = std::nearbyint(x[i] * 10 + TRUE_OFFSET * static_cast<double>(i));
        if (i > 0) {
            const double difference_ms = (whole - previous) * UNIT_S * 1e3;
            add_to_phase(phase, &segment,
                         ReportFields{UNKNOWN_TIME_MS, 1000 + difference_ms, 1000, difference_ms, 0, 0, false});
        }
        previous = whole;
    }
    StabilityPoint points[STABILITY_TAUS];
    const int count = list_phase_stability(phase, points);
    SeriesResult result = {};
    for (int c = 0; c < CHECKED && CHECKED_K[c] < count; ++c) {
        const StabilityPoint &p = points[CHECKED_K[c]];
        Estimate &e = result.at[c];
        e.value[OADEV] = p.oadev;
        e.value[MDEV] = p.mdev;
        e.value[TDEV] = p.tdev_ns;
        e.value[HDEV] = p.hdev;
        e.interval[OADEV] = {p.oadev_low, p.oadev_high};
        e.interval[MDEV] = {p.mdev_low, p.mdev_high};
        e.interval[TDEV] = {p.tdev_low_ns, p.tdev_high_ns};
        e.interval[HDEV] = {p.hdev_low, p.hdev_high};
        result.alpha[c] = p.alpha;
    }
    const FrequencyFigures figures = phase_frequency(phase, points, count);
    result.frequency_error = figures.offset_ppm * 1e-6 - TRUE_OFFSET * UNIT_S;
    result.frequency_uncertainty = figures.uncertainty_ppm * 1e-6;
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    const int series = argc > 1 ? std::atoi(argv[1]) : 300;
    const int noises[] = {2, 1, 0, -1, -2};
    const char *const noise_names[] = {"white PM", "flicker PM", "white FM", "flicker FM", "random-walk FM"};
    bool failed = false;
    std::printf("%d series of %zu points per noise; 68 %% intervals, coverage of the true deviation\n", series, POINTS);
    std::printf("%-15s %6s %5s  %-8s %-8s %-8s %-8s  alpha identified\n", "noise", "m", "", FIGURE_NAMES[0],
                FIGURE_NAMES[1], FIGURE_NAMES[2], FIGURE_NAMES[3]);
    std::vector<double> frequency_rows[5][3];
    for (int which = 0; which < 5; ++which) {
        std::vector<SeriesResult> results(static_cast<size_t>(series));
        for (int s = 0; s < series; ++s) {
            results[static_cast<size_t>(s)] =
                simulate(noises[which], 1000 * static_cast<uint64_t>(which) + 17 + static_cast<uint64_t>(s));
        }
        for (int c = 0; c < CHECKED; ++c) {
            std::printf("%-15s %6d %5s ", noise_names[which], 1 << CHECKED_K[c], "");
            for (int f = 0; f < FIGURES; ++f) {
                double mean_variance = 0;
                for (const SeriesResult &r : results) {
                    mean_variance += r.at[c].value[f] * r.at[c].value[f] / series;
                }
                const double truth = std::sqrt(mean_variance);
                int held = 0;
                for (const SeriesResult &r : results) {
                    held += r.at[c].interval[f].low <= truth && truth <= r.at[c].interval[f].high ? 1 : 0;
                }
                const double coverage = static_cast<double>(held) / series;
                const bool ok = coverage >= COVERAGE_MIN && coverage <= COVERAGE_MAX;
                failed = failed || !ok;
                std::printf(" %5.1f%%%s ", 100 * coverage, ok ? "  " : " !");
            }
            int right = 0;
            for (const SeriesResult &r : results) {
                right += r.alpha[c] == noises[which] ? 1 : 0;
            }
            std::printf(" %5.1f%%\n", 100.0 * right / series);
        }
        double squares = 0;
        int covered = 0;
        std::vector<double> uncertainties;
        for (const SeriesResult &r : results) {
            squares += r.frequency_error * r.frequency_error;
            covered += std::fabs(r.frequency_error) <= r.frequency_uncertainty ? 1 : 0;
            uncertainties.push_back(r.frequency_uncertainty);
        }
        frequency_rows[which][0].push_back(std::sqrt(squares / series));
        frequency_rows[which][1].push_back(static_cast<double>(covered) / series);
        frequency_rows[which][2].push_back(median(uncertainties));
    }
    std::printf("\nfrequency offset: |estimate - true| <= uncertainty\n%-15s %12s %12s %9s %9s\n", "noise", "rms error",
                "median unc.", "ratio", "covered");
    for (int which = 0; which < 5; ++which) {
        const double spread = frequency_rows[which][0][0];
        const double coverage = frequency_rows[which][1][0];
        const double width = frequency_rows[which][2][0];
        const bool ok = coverage >= FREQUENCY_COVERAGE_MIN && coverage <= FREQUENCY_COVERAGE_MAX &&
                        width <= FREQUENCY_WIDTH_MAX * spread;
        failed = failed || !ok;
        std::printf("%-15s %12.4e %12.4e %9.2f %8.1f%%%s\n", noise_names[which], spread, width, width / spread,
                    100 * coverage, ok ? "" : " !");
    }
    std::printf("%s\n", failed ? "FAILED: a figure marked ! is outside its bounds" : "all within bounds");
    return failed ? 1 : 0;
}
