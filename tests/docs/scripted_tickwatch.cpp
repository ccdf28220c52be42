// tickwatch itself, its start-up, messages and report lines, run on the fake
// platform over clock readings given on the command line: the examples of
// its output in README.md and docs/ come from here (tools/docs-examples),
// never typed by hand.
//
//   tickwatch-scripted START STEP... -- [tickwatch's options]
//
// START, the first reading's UTC time: YYYY-MM-DDThh:mm:ss.ffff (0.1 ms).
// STEP, one report line: SYSTEM_MS/COUNTER_MS/ADJUSTMENT, how far the
// system time and the counter (10 MHz) advance from the reading before, and
// the time adjustment read for the line (the increment is 156250). The
// system has GetSystemTimePreciseAsFileTime and a timer device of 1 to
// 1000000 ms. Once every reading is taken, Ctrl+C ends the run, with the
// exit status tickwatch gives it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/tickwatch.h"
#include "tests/support/fake_platform.h"

namespace {

std::vector<uint32_t> adjustments;
size_t adjustments_read = 0;

// Each report line reads the adjustment once: the next one given.
void give_adjustment(const char *call) {
    if (std::strcmp(call, "GetSystemTimeAdjustment") == 0 && adjustments_read < adjustments.size()) {
        fake.adjustment = adjustments[adjustments_read++];
    }
}

bool parse_start(const char *text, uint64_t &file_time) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ten_thousandths = 0;
    int end = 0;
    if (std::sscanf(text, "%4u-%2u-%2uT%2u:%2u:%2u.%4u%n", &year, &month, &day, &hour, &minute, &second,
                    &ten_thousandths, &end) != 7 ||
        text[end] != '\0' || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    // Days since 1970-01-01 in the proleptic Gregorian calendar.
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = y / 400;
    const int64_t year_of_era = y - era * 400;
    const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t days = era * 146097 + year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year - 719468;
    const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    file_time = FILE_TIME_1970 + static_cast<uint64_t>(seconds) * 10'000'000 + ten_thousandths * 1000ULL;
    return true;
}

// ms to 100-ns units, or counter ticks at 10 MHz: whole, for 4 decimals.
bool parse_ms(const char *text, const char *end, int64_t &ticks) {
    char *parsed = nullptr;
    const double ms = std::strtod(text, &parsed);
    if (parsed != end || !(ms >= 0 && ms < 1e12)) {
        return false;
    }
    ticks = std::llround(ms * 10'000);
    return true;
}

bool parse_step(const char *text, FakeClockReading &reading, uint32_t &adjustment) {
    const char *first = std::strchr(text, '/');
    const char *second = first == nullptr ? nullptr : std::strchr(first + 1, '/');
    int64_t system = 0;
    int64_t counter = 0;
    char *end = nullptr;
    if (second == nullptr || !parse_ms(text, first, system) || !parse_ms(first + 1, second, counter)) {
        return false;
    }
    const unsigned long value = std::strtoul(second + 1, &end, 10);
    if (*end != '\0' || end == second + 1 || value > UINT32_MAX) {
        return false;
    }
    reading.system_time += static_cast<uint64_t>(system);
    reading.counter += counter;
    adjustment = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    int separator = 1;
    while (separator < argc && std::strcmp(argv[separator], "--") != 0) {
        ++separator;
    }
    FakeClockReading reading = {0, 1'000'000'000};
    if (separator == argc || separator < 3 || !parse_start(argv[1], reading.system_time)) {
        std::fputs("usage: tickwatch-scripted YYYY-MM-DDThh:mm:ss.ffff SYSTEM_MS/COUNTER_MS/ADJUSTMENT... -- "
                   "[tickwatch's options]\n",
                   stderr);
        return 2;
    }
    fake.record_calls = false;
    fake.readings.push_back(reading);
    for (int i = 2; i < separator; ++i) {
        uint32_t adjustment = 0;
        if (!parse_step(argv[i], reading, adjustment)) {
            std::fprintf(stderr, "tickwatch-scripted: not SYSTEM_MS/COUNTER_MS/ADJUSTMENT: %s\n", argv[i]);
            return 2;
        }
        fake.readings.push_back(reading);
        adjustments.push_back(adjustment);
    }
    fake.at_call = give_adjustment;
    // tickwatch sees its own name and the options after "--".
    argv[separator] = argv[0];
    run_tickwatch(argc - separator, argv + separator);
}
