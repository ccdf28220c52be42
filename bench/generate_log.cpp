// Writes a long tickwatch log for the benchmark: report lines formatted by
// tickwatch's own formatter from simulated samples (a clock drifting and
// being slewed, now and then stepped), in runs that start with the banner
// and messages, with CR LF line ends.
//
//   generate_log LINES [LINES_PER_RUN] > file     (default: runs of 1 000 000)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "clock/log_format.h"
#include "clock/report_line.h"
#include "tests/support/report_text.h"

namespace {

constexpr int64_t FREQUENCY = 10'000'000;
constexpr long long DEFAULT_SAMPLES_PER_RUN = 1'000'000;

SystemTime utc_of(uint64_t file_time) {
    constexpr int64_t MS_FROM_1601_TO_1970 = 11'644'473'600'000;
    return system_time_from_ms(static_cast<int64_t>(file_time / 10'000) - MS_FROM_1601_TO_1970);
}

}  // namespace

int main(int argc, char **argv) {
    const long long lines = argc > 1 ? std::atoll(argv[1]) : 1'000'000;
    const long long samples_per_run = argc > 2 ? std::atoll(argv[2]) : DEFAULT_SAMPLES_PER_RUN;
    if (lines < 0 || samples_per_run < 1) {
        std::fputs("usage: generate_log LINES [LINES_PER_RUN]\n", stderr);
        return 2;
    }
    std::mt19937_64 random(6);
    std::normal_distribution<double> jitter(0.0, 2000.0);  // 100-ns units
    ClockSample previous = {{0, 0}, 0};
    uint64_t system_time = 133'540'715'390'000'000ULL;  // 2024-03-05 13:39 UTC
    int64_t counter = 5'000'000'000;
    uint32_t adjustment = 156'250;
    const uint32_t increment = 156'250;
    static char out[1 << 16];
    std::setvbuf(stdout, out, _IOFBF, sizeof out);
    char line[256];
    for (long long i = 0; i < lines; ++i) {
        if (i % samples_per_run == 0) {
            std::printf(LOG_BANNER_FORMAT "\r\n" LOG_PRECISE_TIME_USED "\r\n\r\n" LOG_TIMER_RESOLUTION_FORMAT
                                          "\r\n\r\n",
                        "1.6", 1U, 1000000U, 1U);
            previous = {{static_cast<uint32_t>(system_time), static_cast<uint32_t>(system_time >> 32)}, counter};
        }
        // A second by the counter; the system clock a few ppm off, slewed
        // by the adjustment, with jitter; a step now and then.
        counter += FREQUENCY;
        const double slew = (static_cast<double>(adjustment) - increment) / increment;
        auto advance = static_cast<int64_t>(10'000'000 * (1 + 12e-6 + slew) + jitter(random));
        if (i % 86'400 == 43'200) {
            advance += (i / 86'400 % 2 == 0 ? 1 : -1) * 312'500;  // stepped by 31.25 ms
        }
        system_time += static_cast<uint64_t>(advance);
        if (i % 3600 == 0) {
            adjustment = increment - static_cast<uint32_t>(random() % 400);
        }
        const ClockSample current = {{static_cast<uint32_t>(system_time), static_cast<uint32_t>(system_time >> 32)},
                                     counter};
        const IntervalReport report = compute_interval_report(previous, current, FREQUENCY, adjustment, increment);
        const int length = format_report_line(line, sizeof line, utc_of(system_time), report);
        line[length] = '\r';
        line[length + 1] = '\n';
        std::fwrite(line, 1, static_cast<size_t>(length) + 2, stdout);
        previous = current;
    }
    return 0;
}
