#include "analyze/report/metrics.h"

#include <algorithm>
#include <cmath>

#include "analyze/files/system.h"
#include "analyze/report/escape.h"
#include "analyze/report/number_text.h"

namespace {

void write_family(std::FILE *out, const char *name, const char *type, const char *help) {
    std::fprintf(out, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

void write_sample_start(std::FILE *out, const char *name, const char *log_name) {
    std::fprintf(out, "%s{log=\"", name);
    write_label_value(out, log_name);
    std::fputc('"', out);
}

// 15 digits: a double without its binary noise; the format knows no other spelling
// of infinity than +Inf and -Inf.
void write_value(std::FILE *out, double value) {
    if (std::isnan(value)) {
        std::fputs(" NaN\n", out);
    } else if (std::isinf(value)) {
        std::fputs(value > 0 ? " +Inf\n" : " -Inf\n", out);
    } else {
        std::fprintf(out, " %.15g\n", value);
    }
}

void write_counter(std::FILE *out, const char *log_name, const char *name, const char *help, uint64_t value) {
    write_family(out, name, "counter", help);
    write_sample_start(out, name, log_name);
    std::fprintf(out, "} %llu\n", static_cast<unsigned long long>(value));
}

void write_gauge(std::FILE *out, const char *log_name, const char *name, const char *help, double value) {
    write_family(out, name, "gauge", help);
    write_sample_start(out, name, log_name);
    std::fputc('}', out);
    write_value(out, value);
}

void write_difference_sizes(std::FILE *out, const char *log_name, const DifferenceSizeBuckets &h) {
    const char *name = "tickwatch_difference_abs_seconds";
    write_family(out, name, "histogram",
                 "Size of the difference, |system time's advance - performance counter's|, of every sample.");
    for (int i = 0; i < DIFFERENCE_BUCKETS; ++i) {
        write_sample_start(out, "tickwatch_difference_abs_seconds_bucket", log_name);
        std::fprintf(out, ",le=\"%g\"} %llu\n", DIFFERENCE_BUCKET_BOUNDS_MS[i] / 1000.0,
                     static_cast<unsigned long long>(h.at_most[i]));
    }
    write_sample_start(out, "tickwatch_difference_abs_seconds_bucket", log_name);
    std::fprintf(out, ",le=\"+Inf\"} %llu\n", static_cast<unsigned long long>(h.samples));
    write_sample_start(out, "tickwatch_difference_abs_seconds_sum", log_name);
    std::fputc('}', out);
    write_value(out, h.abs_sum_ms / 1000.0);
    write_sample_start(out, "tickwatch_difference_abs_seconds_count", log_name);
    std::fprintf(out, "} %llu\n", static_cast<unsigned long long>(h.samples));

    name = "tickwatch_difference_squares_seconds_squared_total";
    write_family(
        out, name, "counter",
        "Sum of the squared differences of every sample: with the histogram's count, the RMS over any window.");
    write_sample_start(out, name, log_name);
    std::fputc('}', out);
    write_value(out, h.square_sum_ms2 / 1e6);
}

}  // namespace

void write_metrics(std::FILE *out, const AnalysisSnapshot &s) {
    const char *log = s.log_count > 0 ? file_name_of(s.log_names[s.log_count - 1]) : "";
    const RunStatistics &total = *s.total;
    const RunFigures &figures = *s.figures;
    write_counter(out, log, "tickwatch_samples_total", "Report lines read: one sample of the clocks each.",
                  total.samples);
    write_counter(out, log, "tickwatch_missing_samples_total",
                  "Samples missing between those read, by the intervals between them.", total.missing_samples);
    write_counter(out, log, "tickwatch_steps_total",
                  "Samples marked as stepped: the system time and the counter disagreed beyond the threshold.",
                  total.steps);
    write_counter(out, log, "tickwatch_unrecognised_lines_total",
                  "Lines of the log that are neither report lines nor tickwatch's messages.", s.unrecognised_lines);
    write_difference_sizes(out, log, *s.difference_sizes);
    if (s.last_sample != nullptr) {
        const ReportFields &last = *s.last_sample;
        if (last.utc_ms != UNKNOWN_TIME_MS) {
            write_gauge(out, log, "tickwatch_last_sample_timestamp_seconds",
                        "UTC time of the last sample, in seconds since 1970-01-01.",
                        static_cast<double>(last.utc_ms) / 1000.0);
        }
        write_gauge(out, log, "tickwatch_difference_seconds",
                    "System time's advance minus the performance counter's over the last sample's interval.",
                    last.difference_ms / 1000.0);
    }
    if (figures.has_regular_lines) {
        write_gauge(out, log, "tickwatch_difference_rms_seconds",
                    "Root mean square of the difference of the regular samples: no step, gap or short interval.",
                    figures.difference_rms_ms / 1000.0);
    }
    if (figures.frequency.has_offset) {
        write_gauge(
            out, log, "tickwatch_frequency_offset_ratio",
            "The system time's frequency offset against the counter (positive: it runs fast): the least-squares "
            "slope of its phase.",
            round_to_uncertainty(figures.frequency.offset_ppm, known_uncertainty_ppm(figures.frequency)) / 1e6);
    }
    if (s.last_sample != nullptr) {
        const AdjustmentSetting setting = setting_of(*s.last_sample);
        // Windows counts both in 100 ns units.
        write_gauge(out, log, "tickwatch_time_adjustment_seconds",
                    "The last time adjustment: seconds added to the clock at each clock interrupt.",
                    setting.adjustment / 1e7);
        write_gauge(out, log, "tickwatch_time_increment_seconds",
                    "The last time increment: seconds between clock interrupts.", setting.increment / 1e7);
        double ppm = 0;
        if (slew_rate_ppm(setting, ppm)) {
            write_gauge(out, log, "tickwatch_adjustment_slew_ratio",
                        "How hard the last time adjustment slews the clock: (adjustment - increment) / increment.",
                        ppm / 1e6);
        }
    }
    // The first τ, m = 1 to 1024.
    const int oadev_count = std::min(figures.stability_count, MAX_OADEV_POINTS);
    if (oadev_count > 0) {
        write_family(
            out, "tickwatch_oadev", "gauge",
            "Overlapping Allan deviation of the system time against the counter at averaging time m times tau0, "
            "tau0 the mean sample interval.");
        for (int i = 0; i < oadev_count; ++i) {
            if (figures.stability[i].share < STABILITY_MIN_SHARE) {
                continue;  // of a few segments, not of the log: a cliff that is no steadier clock
            }
            write_sample_start(out, "tickwatch_oadev", log);
            // By the multiple of τ0, m = 2^i, not by τ in seconds: a label
            // that stays put while the mean interval settles, so that a
            // series neither breaks nor moves during a run.
            std::fprintf(out, ",m=\"%d\"}", 1 << i);
            const StabilityPoint &p = figures.stability[i];
            write_value(out, round_to_uncertainty(p.oadev, interval_uncertainty(p.oadev, p.oadev_low, p.oadev_high)));
        }
    }
}
