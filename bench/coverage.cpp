// Does a 68 % interval hold the truth 68 % of the time? For each of the
// five power-law noises, many simulated phase series of 20 000 points go
// through the streaming stability sums, the noise identification and the
// EDF of analyze/accumulate/confidence.h:
// - the intervals of OADEV, MDEV, TDEV and HDEV (HDEV computed here from
//   the phase, overlapping, SP 1065's formula) at a short, a middle and a
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

#include "analyze/accumulate/confidence.h"
#include "analyze/accumulate/frequency.h"
#include "analyze/accumulate/stability.h"
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

// The EDF for one α, m and terms: the same in every series but for α.
double cached_edf(Variance variance, int alpha, int k, double terms) {
    static double cache[3][5][STABILITY_TAUS][2];  // [variance][α][k]{terms, edf}
    double *entry = cache[static_cast<int>(variance)][alpha + 2][k];
    if (entry[0] != terms) {
        entry[0] = terms;
        entry[1] = segment_edf(variance, alpha, 1 << k, terms);
    }
    return entry[1];
}

double hadamard_variance(const std::vector<double> &x, int m) {
    double sum = 0;
    const size_t mu = static_cast<size_t>(m);
    const size_t terms = x.size() - 3 * mu;
    for (size_t i = 0; i < terms; ++i) {
        const double z = x[i + 3 * mu] - 3 * x[i + 2 * mu] + 3 * x[i + mu] - x[i];
        sum += z * z;
    }
    const double tau = m;  // s, τ0 = 1 s; the phase converted from UNIT_S
    return sum * UNIT_S * UNIT_S / (6 * tau * tau * static_cast<double>(terms));
}

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
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = x[i] * 10 + TRUE_OFFSET * static_cast<double>(i);
    }
    StabilitySums sums = {};
    FrequencySums frequency = {};
    NoiseSums noise = {};
    start_segment(segment);
    start_frequency_segment(frequency);
    start_noise_segment(noise);
    for (size_t i = 0; i < x.size(); ++i) {
        const double relative = x[i] - x[0];  // the segment's x_0 = 0
        if (i > 0) {
            add_phase_step(segment, sums, x[i] - x[i - 1]);
        }
        add_frequency_point(frequency, relative);
        add_noise_point(noise, i, relative);
    }
    start_frequency_segment(frequency);
    StabilityPoint points[STABILITY_TAUS];
    const int count = list_stability(sums, UNIT_S, points);
    int alphas[STABILITY_TAUS];
    identify_noise_per_tau(noise, count, alphas);

    SeriesResult result = {};
    for (int c = 0; c < CHECKED; ++c) {
        const int k = CHECKED_K[c];
        const int m = 1 << k;
        const int a = alphas[k];
        const StabilityPoint &p = points[k];
        const double points_in_series = static_cast<double>(x.size());
        const double hdev = std::sqrt(hadamard_variance(x, m));
        const double oadev_edf = cached_edf(Variance::overlapping_allan, a, k, static_cast<double>(p.n));
        const double mdev_edf = cached_edf(Variance::modified_allan, a, k, static_cast<double>(sums.tau[k].mdev_terms));
        const double hdev_edf = cached_edf(Variance::overlapping_hadamard, a, k, points_in_series - 3 * m);
        Estimate &e = result.at[c];
        e.value[OADEV] = p.oadev;
        e.value[MDEV] = p.mdev;
        e.value[TDEV] = p.tdev_ns;
        e.value[HDEV] = hdev;
        e.interval[OADEV] = deviation_interval(p.oadev, oadev_edf);
        e.interval[MDEV] = deviation_interval(p.mdev, mdev_edf);
        e.interval[TDEV] = deviation_interval(p.tdev_ns, mdev_edf);
        e.interval[HDEV] = deviation_interval(hdev, hdev_edf);
        result.alpha[c] = a;
    }

    StabilityWithNoise with_noise[STABILITY_TAUS];
    for (int k = 0; k < count; ++k) {
        with_noise[k] = {points[k].tau_s, points[k].oadev,
                         cached_edf(Variance::overlapping_allan, alphas[k], k, static_cast<double>(points[k].n)),
                         alphas[k]};
    }
    const FrequencyFigures figures = frequency_figures(frequency, UNIT_S);
    const auto n = static_cast<double>(x.size());
    const FrequencyUncertaintyInputs inputs = {figures.stderr_ppm * 1e-6, n * (n * n - 1) / 12, 1.0, with_noise, count};
    result.frequency_error = figures.offset_ppm * 1e-6 - TRUE_OFFSET * UNIT_S;
    result.frequency_uncertainty = frequency_uncertainty(inputs);
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
