// Does a 68 % interval hold the truth 68 % of the time? Simulated phase
// series go, as the report lines of a run, through what the analyzer does
// with a log's lines: the phase (analyze/accumulate/phase.h), its streaming
// stability sums, the noise identification, the EDF and the frequency fit.
// Each of the five power-law noises over 20 000 points, then white PM,
// white FM, flicker FM and a mix (white PM of 20 µs plus random-walk FM,
// the white PM 9x the Allan variance up to m = 256) over 200 000:
// - the intervals of OADEV, MDEV, TDEV and HDEV at the τ checked must hold
//   the true deviation (the root of the mean variance over all the series)
//   in 55 to 80 % of the series (the mix: 55 to 85 %);
// - the frequency offset's uncertainty must cover |estimate − true| in 50
//   to 90 % of them (white FM: 60 % at least), its median being at most 3x
//   the estimate's RMS error (flicker FM: 1.5x);
// - the offset as the text prints it (number_text.h) must cover the truth
//   as often as the unrounded fit, within 2.5 binomial standard errors.
// The seeds are the simulation's own: no other test uses them.
// Prints the tables, and exits 1 if a criterion fails.
//
//   coverage [SERIES [CASE]]   SERIES: default 300, half of it over 200 000
//                              points; CASE: only the CASE-th row (from 0)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "analyze/accumulate/edf.h"
#include "analyze/accumulate/phase.h"
#include "analyze/parse/utc_time.h"
#include "analyze/report/number_text.h"
#include "tests/support/power_law_noise.h"

namespace {

constexpr double UNIT_S = 1e-7;       // as the log's phase
constexpr double TRUE_OFFSET = 0.37;  // units per step: 0.037 ppm
constexpr int CHECKED = 3;
constexpr uint64_t SEED_BASE = 0x5EED'C0DE'0000;

// What is simulated, and what it must meet.
struct Case {
    const char *name;
    int alpha;               // the noise, or MIX
    size_t points;           // of phase
    int checked_k[CHECKED];  // the τ checked, m = 2^k
    double coverage_max;     // of the intervals (the least is 55 %)
    double frequency_coverage_min;
    double frequency_coverage_max;
    double frequency_width_max;  // the median uncertainty over the RMS error
};
constexpr int MIX = 99;
constexpr double COVERAGE_MIN = 0.55;
constexpr Case CASES[] = {
    {"white PM", 2, 20'000, {0, 6, 11}, 0.80, 0.50, 0.90, 3.0},
    {"flicker PM", 1, 20'000, {0, 6, 11}, 0.80, 0.50, 0.90, 3.0},
    {"white FM", 0, 20'000, {0, 6, 11}, 0.80, 0.60, 0.90, 3.0},
    {"flicker FM", -1, 20'000, {0, 6, 11}, 0.80, 0.50, 0.90, 1.5},
    {"random-walk FM", -2, 20'000, {0, 6, 11}, 0.80, 0.50, 0.90, 3.0},
    {"white PM", 2, 200'000, {0, 8, 14}, 0.80, 0.50, 0.90, 3.0},
    {"white FM", 0, 200'000, {0, 8, 14}, 0.80, 0.60, 0.90, 3.0},
    {"flicker FM", -1, 200'000, {0, 8, 14}, 0.80, 0.50, 0.90, 1.5},
    {"WPM + RWFM", MIX, 200'000, {4, 6, 8}, 0.85, 0.50, 0.90, 3.0},
};
constexpr int CASE_COUNT = static_cast<int>(sizeof CASES / sizeof CASES[0]);

// The mix, in phase units: white PM of 20 µs, and random-walk FM whose
// Allan variance c²·m/3 is white PM's 3·σ²/m² over 9 at m = 256.
std::vector<double> mixed_phase(size_t points, uint64_t seed) {
    const double white_pm = 200;
    const double random_walk = std::sqrt(3 * white_pm * white_pm * 3 / (9 * 256.0 * 256 * 256));
    std::vector<double> x = power_law_phase(2, points, seed);
    const std::vector<double> walk = power_law_phase(-2, points, seed + 0x8000'0000);
    for (size_t i = 0; i < points; ++i) {
        x[i] = white_pm * x[i] + random_walk * walk[i];
    }
    return x;
}

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
    double printed_error;  // of the offset as printed
};

SeriesResult simulate(const Case &c, uint64_t seed) {
    std::vector<double> x = c.alpha == MIX ? mixed_phase(c.points, seed) : power_law_phase(c.alpha, c.points, seed);
    const double scale = c.alpha == MIX ? 1 : 10;
    // Report lines of 1000 ms whose differences sum to the series, in
    // whole phase units as a log's are (rounded as a whole, not step by
    // step, so that no rounding walks).
    RunPhase phase;
    start_phase(phase);
    double previous = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double whole = std::nearbyint(x[i] * scale + TRUE_OFFSET * static_cast<double>(i));
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
    for (int k = 0; k < CHECKED && c.checked_k[k] < count; ++k) {
        const StabilityPoint &p = points[c.checked_k[k]];
        Estimate &e = result.at[k];
        e.value[OADEV] = p.oadev;
        e.value[MDEV] = p.mdev;
        e.value[TDEV] = p.tdev_ns;
        e.value[HDEV] = p.hdev;
        e.interval[OADEV] = {p.oadev_low, p.oadev_high};
        e.interval[MDEV] = {p.mdev_low, p.mdev_high};
        e.interval[TDEV] = {p.tdev_low_ns, p.tdev_high_ns};
        e.interval[HDEV] = {p.hdev_low, p.hdev_high};
        result.alpha[k] = p.alpha;
    }
    const FrequencyFigures figures = phase_frequency(phase, points, count);
    result.frequency_error = figures.offset_ppm * 1e-6 - TRUE_OFFSET * UNIT_S;
    result.frequency_uncertainty = figures.uncertainty_ppm * 1e-6;
    char printed[NUMBER_TEXT_SIZE];
    *put_fixed_to_uncertainty(printed, figures.offset_ppm, figures.uncertainty_ppm, 6) = '\0';
    result.printed_error = std::strtod(printed, nullptr) * 1e-6 - TRUE_OFFSET * UNIT_S;
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    const int series_short = argc > 1 ? std::atoi(argv[1]) : 300;
    const int only = argc > 2 ? std::atoi(argv[2]) : -1;
    bool failed = false;
    std::printf("68 %% intervals, coverage of the true deviation; %d series of 20 000 points, %d of 200 000\n",
                series_short, std::max(1, series_short / 2));
    std::printf("%-15s %7s %6s  %-8s %-8s %-8s %-8s  alpha identified\n", "noise", "points", "m", FIGURE_NAMES[0],
                FIGURE_NAMES[1], FIGURE_NAMES[2], FIGURE_NAMES[3]);
    struct FrequencyRow {
        double spread, coverage, width, printed_coverage;
        int series;
    } frequency_rows[CASE_COUNT];
    for (int which = 0; which < CASE_COUNT; ++which) {
        const Case &c = CASES[which];
        if (only >= 0 && which != only) {
            frequency_rows[which] = {};
            continue;
        }
        const int series = c.points > 20'000 ? std::max(1, series_short / 2) : series_short;
        std::vector<SeriesResult> results(static_cast<size_t>(series));
        for (int s = 0; s < series; ++s) {
            results[static_cast<size_t>(s)] =
                simulate(c, SEED_BASE + 10'000 * static_cast<uint64_t>(which) + static_cast<uint64_t>(s));
        }
        for (int k = 0; k < CHECKED; ++k) {
            std::printf("%-15s %7zu %6d ", c.name, c.points, 1 << c.checked_k[k]);
            for (int f = 0; f < FIGURES; ++f) {
                double mean_variance = 0;
                for (const SeriesResult &r : results) {
                    mean_variance += r.at[k].value[f] * r.at[k].value[f] / series;
                }
                const double truth = std::sqrt(mean_variance);
                int held = 0;
                for (const SeriesResult &r : results) {
                    held += r.at[k].interval[f].low <= truth && truth <= r.at[k].interval[f].high ? 1 : 0;
                }
                const double coverage = static_cast<double>(held) / series;
                const bool ok = coverage >= COVERAGE_MIN && coverage <= c.coverage_max;
                failed = failed || !ok;
                std::printf(" %5.1f%%%s ", 100 * coverage, ok ? "  " : " !");
            }
            int right = 0;
            for (const SeriesResult &r : results) {
                right += r.alpha[k] == c.alpha ? 1 : 0;
            }
            if (c.alpha == MIX) {
                std::printf("      -  (");
                for (int alpha = 2; alpha >= -2; --alpha) {
                    int count = 0;
                    for (const SeriesResult &r : results) {
                        count += r.alpha[k] == alpha ? 1 : 0;
                    }
                    std::printf("%s%+d: %d", alpha == 2 ? "" : ", ", alpha, count);
                }
                std::printf(")\n");
            } else {
                std::printf(" %5.1f%%\n", 100.0 * right / series);
            }
        }
        double squares = 0;
        int covered = 0;
        int printed_covered = 0;
        std::vector<double> uncertainties;
        for (const SeriesResult &r : results) {
            squares += r.frequency_error * r.frequency_error;
            covered += std::fabs(r.frequency_error) <= r.frequency_uncertainty ? 1 : 0;
            printed_covered += std::fabs(r.printed_error) <= r.frequency_uncertainty ? 1 : 0;
            uncertainties.push_back(r.frequency_uncertainty);
        }
        frequency_rows[which] = {std::sqrt(squares / series), static_cast<double>(covered) / series,
                                 median(uncertainties), static_cast<double>(printed_covered) / series, series};
    }
    std::printf("\nfrequency offset: |estimate - true| <= uncertainty, unrounded and as printed\n"
                "%-15s %7s %12s %12s %7s %9s %9s\n",
                "noise", "points", "rms error", "median unc.", "ratio", "covered", "printed");
    for (int which = 0; which < CASE_COUNT; ++which) {
        const Case &c = CASES[which];
        const FrequencyRow &row = frequency_rows[which];
        if (row.series == 0) {
            continue;
        }
        const bool ok = row.coverage >= c.frequency_coverage_min && row.coverage <= c.frequency_coverage_max &&
                        row.width <= c.frequency_width_max * row.spread;
        // Rounding at the uncertainty's second digit moves the estimate by a
        // twentieth of it at most: the two coverages differ by Monte-Carlo
        // noise only.
        const double noise = 2.5 * std::sqrt(row.coverage * (1 - row.coverage) / row.series) + 1.0 / row.series;
        const bool printed_ok = std::fabs(row.printed_coverage - row.coverage) <= noise;
        failed = failed || !ok || !printed_ok;
        std::printf("%-15s %7zu %12.4e %12.4e %7.2f %8.1f%%%s %8.1f%%%s\n", c.name, c.points, row.spread, row.width,
                    row.width / row.spread, 100 * row.coverage, ok ? "  " : " !", 100 * row.printed_coverage,
                    printed_ok ? "" : " !");
    }
    std::printf("%s\n", failed ? "FAILED: a figure marked ! is outside its bounds" : "all within bounds");
    return failed ? 1 : 0;
}
