// tickwatch-bench: how tight the two reads of a sample are, what a pass of
// the sampling loop costs apart from its wait, and how steady the loop's
// cadence is, measured with tickwatch's own code on the system it runs on.
//
// Usage: tickwatch-bench [log file]   (default: tickwatch-bench.log, removed
// at the end). The figures go to standard error; standard output receives
// the report lines of the passes measured, as tickwatch's console would, so
// send it to a pipe or to NUL.
#include <x86intrin.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/run_settings.h"
#include "clock/sampling.h"
#include "clock/time_source.h"
#include "output/output.h"
#include "platform/platform.h"

namespace {

constexpr int READS = 100000;          // samples per read-window figure
constexpr int ROUNDS = 20;             // the variants take turns in rounds
constexpr int PASSES = 2000;           // passes per pass-cost figure
constexpr int CADENCE_INTERVALS = 30;  // intervals per cadence figure

int64_t counter_frequency = 0;
double tsc_ticks_per_ns = 0.0;

// The time-stamp counter, read in program order (lfence keeps the read from
// moving across the code measured; the 32-bit build targets CPUs before
// SSE2 in general, so it is written out).
uint64_t tsc() {
    asm volatile("lfence" ::: "memory");
    uint64_t now = __rdtsc();
    asm volatile("lfence" ::: "memory");
    return now;
}

int64_t counter_now() {
    int64_t now = 0;
    platform::QueryPerformanceCounter(&now);
    return now;
}

// The time-stamp counter's rate against the performance counter.
void calibrate_tsc() {
    const int64_t start = counter_now();
    const uint64_t tsc_start = tsc();
    platform::Sleep(200);
    const int64_t end = counter_now();
    const uint64_t tsc_end = tsc();
    const double ns = static_cast<double>(end - start) * 1e9 / static_cast<double>(counter_frequency);
    tsc_ticks_per_ns = static_cast<double>(tsc_end - tsc_start) / ns;
}

struct Percentiles {
    double median;
    double p99;
};

int compare_doubles(const void *a, const void *b) {
    const double x = *static_cast<const double *>(a);
    const double y = *static_cast<const double *>(b);
    return (x > y) - (x < y);
}

// Sorts the values.
Percentiles percentiles(double *values, int count) {
    std::qsort(values, static_cast<size_t>(count), sizeof *values, compare_doubles);
    return {values[(count - 1) / 2], values[(count - 1) * 99 / 100]};
}

// ---- The read window --------------------------------------------------------

enum ReadVariant { SAMPLE_TIME_FIRST, SAMPLE_COUNTER_FIRST, INLINE_TIME_FIRST, INLINE_COUNTER_FIRST, READ_VARIANTS };

const char *const READ_VARIANT_NAMES[READ_VARIANTS] = {"read_clock_sample, time first",
                                                       "read_clock_sample, counter first (-q)",
                                                       "inline calls, time first", "inline calls, counter first"};

// How long one read of both clocks takes, in ns, the way a variant reads.
double time_read(ReadVariant variant, SystemTimeFunction system_time) {
    ClockSample sample;
    uint64_t start = 0;
    uint64_t end = 0;
    switch (variant) {
    case SAMPLE_TIME_FIRST:
    case SAMPLE_COUNTER_FIRST:
        run_settings.sample_counter_first = variant == SAMPLE_COUNTER_FIRST;
        time_function = system_time;
        start = tsc();
        read_clock_sample(sample);
        end = tsc();
        break;
    case INLINE_TIME_FIRST:
        start = tsc();
        system_time(&sample.system_time);
        platform::QueryPerformanceCounter(&sample.counter);
        end = tsc();
        break;
    case INLINE_COUNTER_FIRST:
    case READ_VARIANTS:
        start = tsc();
        platform::QueryPerformanceCounter(&sample.counter);
        system_time(&sample.system_time);
        end = tsc();
        break;
    }
    return static_cast<double>(end - start) / tsc_ticks_per_ns;
}

double read_durations[READ_VARIANTS][READS];

void bench_read_window(const char *function_name, SystemTimeFunction system_time) {
    int taken = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        for (int v = 0; v < READ_VARIANTS; ++v) {
            for (int i = 0; i < READS / ROUNDS; ++i) {
                read_durations[v][taken + i] = time_read(static_cast<ReadVariant>(v), system_time);
            }
        }
        taken += READS / ROUNDS;
    }
    Percentiles figures[READ_VARIANTS];
    for (int v = 0; v < READ_VARIANTS; ++v) {
        figures[v] = percentiles(read_durations[v], READS);
    }
    std::fprintf(stderr, "\nRead window with %s, ns over %d samples:\n", function_name, READS);
    std::fprintf(stderr, "  %-40s %8s %8s %13s\n", "", "median", "p99", "median/floor");
    for (int v = 0; v < READ_VARIANTS; ++v) {
        const int floor = v < INLINE_TIME_FIRST ? v + INLINE_TIME_FIRST : v;
        std::fprintf(stderr, "  %-40s %8.1f %8.1f %13.3f\n", READ_VARIANT_NAMES[v], figures[v].median, figures[v].p99,
                     figures[v].median / figures[floor].median);
    }
    run_settings.sample_counter_first = false;
}

// ---- One pass apart from the wait -------------------------------------------

void bench_pass(const char *log_file_name) {
    time_function = platform::GetSystemTimeAsFileTime;
    std::fprintf(stderr,
                 "\nOne pass apart from the wait (reads, adjustment, calendar, formatting, console write),"
                 " us over %d passes:\n",
                 PASSES);
    std::fprintf(stderr, "  %-40s %8s %8s\n", "", "median", "p99");
    const char *const logs[] = {nullptr, log_file_name};
    for (const char *log : logs) {
        run_settings.log_file_name = log;
        static double durations[PASSES];
        ClockSample previous;
        ClockSample current;
        read_clock_sample(previous);
        for (int i = 0; i < PASSES; ++i) {
            const uint64_t start = tsc();
            read_clock_sample(current);
            report_interval(previous, current, counter_frequency);
            durations[i] = static_cast<double>(tsc() - start) / tsc_ticks_per_ns / 1000.0;
            previous = current;
        }
        Percentiles figures = percentiles(durations, PASSES);
        std::fprintf(stderr, "  %-40s %8.1f %8.1f\n", log == nullptr ? "without a log file" : "with a log file",
                     figures.median, figures.p99);
    }
    run_settings.log_file_name = nullptr;
}

// ---- Cadence ----------------------------------------------------------------

// Runs passes the way the loop does and reports how far the intervals
// between the samples' counter readings stray from a second.
void bench_cadence(const char *name, bool use_sleep) {
    Handle timer = use_sleep ? nullptr : start_period_timer();
    ClockSample samples[CADENCE_INTERVALS + 1];
    read_clock_sample(samples[0]);
    for (int i = 1; i <= CADENCE_INTERVALS; ++i) {
        wait_for_next_pass(timer);
        read_clock_sample(samples[i]);
        report_interval(samples[i - 1], samples[i], counter_frequency);
    }
    auto ms_between = [](const ClockSample &a, const ClockSample &b) {
        return static_cast<double>(b.counter - a.counter) * 1000.0 / static_cast<double>(counter_frequency);
    };
    double largest_deviation = 0.0;
    for (int i = 1; i <= CADENCE_INTERVALS; ++i) {
        largest_deviation = std::fmax(largest_deviation, std::fabs(ms_between(samples[i - 1], samples[i]) - 1000.0));
    }
    const double drift = ms_between(samples[0], samples[CADENCE_INTERVALS]) - CADENCE_INTERVALS * 1000.0;
    std::fprintf(stderr, "  %-40s %12.3f %12.3f\n", name, largest_deviation, drift);
}

}  // namespace

int main(int argc, char **argv) {
    const char *log_file_name = argc > 1 ? argv[1] : "tickwatch-bench.log";
    if (!platform::QueryPerformanceFrequency(&counter_frequency) || counter_frequency <= 0) {
        std::fprintf(stderr, "no performance counter\n");
        return 1;
    }
    calibrate_tsc();
    std::fprintf(stderr, "tickwatch-bench: performance counter %lld Hz, time-stamp counter %.3f GHz\n",
                 static_cast<long long>(counter_frequency), tsc_ticks_per_ns);

    bench_read_window("GetSystemTimeAsFileTime", platform::GetSystemTimeAsFileTime);
    SystemTimeFunction precise = nullptr;
    if (find_precise_time_function(&precise) == 0) {
        bench_read_window("GetSystemTimePreciseAsFileTime", precise);
    } else {
        std::fprintf(stderr, "\nGetSystemTimePreciseAsFileTime: not on this system\n");
    }

    bench_pass(log_file_name);
    std::remove(log_file_name);

    std::fprintf(stderr, "\nCadence over %d intervals, ms:\n", CADENCE_INTERVALS);
    std::fprintf(stderr, "  %-40s %12s %12s\n", "", "largest dev.", "drift");
    bench_cadence("waitable timer (default)", false);
    bench_cadence("Sleep (-s)", true);
    return 0;
}
