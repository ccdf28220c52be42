// Fuzzes the text the program makes of numbers: the report line of two
// arbitrary samples, frequency, adjustment and calendar date, and the version
// text of an arbitrary product version. The input is those values, packed
// little-endian in the order of Input below (missing bytes are zero).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/version.h"
#include "clock/report_line.h"
#include "output/output.h"
#include "tests/support/fake_platform.h"

namespace {

struct Input {
    uint64_t previous_time, current_time;
    int64_t previous_counter, current_counter, frequency;
    uint32_t adjustment, increment;
    SystemTime utc;
    uint32_t product_version_ms, product_version_ls;
    uint8_t resource;  // which FakeVersionResource, and whether memory runs out
};

unsigned long long inputs_tried = 0;

void print_figures() { std::fprintf(stderr, "figures: messages fuzzer: %llu inputs tried, 0 faults\n", inputs_tried); }

[[noreturn]] void fault(const char *what, const char *text) {
    std::fprintf(stderr, "%s: \"%s\"\n", what, text);
    std::abort();
}

// The parts of the text, read from p on; each says whether it is there.
bool literal(const char *&p, const char *text) {
    const size_t length = std::strlen(text);
    return std::strncmp(p, text, length) == 0 ? (p += length, true) : false;
}

bool number(const char *&p, size_t at_least, unsigned long &value) {
    const char *start = p;
    while (std::isdigit(static_cast<unsigned char>(*p)) != 0) {
        ++p;
    }
    value = std::strtoul(start, nullptr, 10);
    return static_cast<size_t>(p - start) >= at_least;
}

// A minus, or with sign (the "+" flag) a plus or minus.
bool sign_part(const char *&p, bool sign) {
    if (*p == '-' || (sign && *p == '+')) {
        ++p;
        return true;
    }
    return !sign;
}

// "%i", or with sign "%+i".
bool integer(const char *&p, bool sign, long &value) {
    const char *start = p;
    unsigned long digits = 0;
    value = std::strtol(start, nullptr, 10);
    return sign_part(p, sign) && number(p, 1, digits);
}

// "%9.4f", or with sign "%+9.4f": right-aligned in at least 9 characters.
bool fixed(const char *&p, bool sign, double &value) {
    const char *start = p;
    while (*p == ' ') {
        ++p;
    }
    const char *text = p;
    unsigned long digits = 0;
    if (!sign_part(p, sign) || !number(p, 1, digits) || !literal(p, ".")) {
        return false;
    }
    const char *decimals = p;
    if (!number(p, 4, digits) || p - decimals != 4) {
        return false;
    }
    value = std::strtod(text, nullptr);
    return p - start == 9 || (p - start > 9 && text == start);
}

// Whether a value printed with four decimals is the exact one: within half
// the last decimal, and the rounding of doubles (about 1e-16 of each
// magnitude that went into it).
bool shows(double printed, long double exact, long double magnitudes) {
    return std::fabs(static_cast<long double>(printed) - exact) <= 0.00005L + magnitudes * 1e-15L;
}

void check_report_line(const Input &in) {
    ClockSample previous = {{static_cast<uint32_t>(in.previous_time), static_cast<uint32_t>(in.previous_time >> 32)},
                            in.previous_counter};
    ClockSample current = {{static_cast<uint32_t>(in.current_time), static_cast<uint32_t>(in.current_time >> 32)},
                           in.current_counter};
    // The program runs only with a counter that has a frequency.
    const int64_t frequency = in.frequency > 0 ? in.frequency : 10'000'000;
    IntervalReport report = compute_interval_report(previous, current, frequency, in.adjustment, in.increment);

    char line[MESSAGE_BUFFER_SIZE];
    std::memset(line, 'x', sizeof line);
    const int length = format_report_line(line, sizeof line, in.utc, report);
    if (length <= 0 || length >= static_cast<int>(sizeof line) || std::strlen(line) != static_cast<size_t>(length)) {
        fault("not a whole line in the message buffer", line);
    }
    if (!std::isfinite(report.system_time_delta_ms) || !std::isfinite(report.counter_delta_ms) ||
        !std::isfinite(report.difference_ms)) {
        fault("not a finite number", line);
    }

    const char *p = line;
    unsigned long date[7] = {};
    double deltas[3] = {};
    long adjustment[2] = {};
    bool shape = number(p, 4, date[0]) && literal(p, "-") && number(p, 2, date[1]) && literal(p, "-") &&
                 number(p, 2, date[2]) && literal(p, " ") && number(p, 2, date[3]) && literal(p, ":") &&
                 number(p, 2, date[4]) && literal(p, ":") && number(p, 2, date[5]) && literal(p, ".") &&
                 number(p, 4, date[6]) && literal(p, ": ") && fixed(p, false, deltas[0]) && literal(p, " ") &&
                 fixed(p, false, deltas[1]) && literal(p, " ") && fixed(p, true, deltas[2]) && literal(p, "  ") &&
                 integer(p, false, adjustment[0]) && literal(p, " (") && integer(p, true, adjustment[1]) &&
                 literal(p, ") ");
    const bool marked = literal(p, STEP_MARKER);
    if (!shape || *p != '\0') {
        fault("not the shape of a report line", line);
    }
    const unsigned long utc[7] = {in.utc.wYear,   in.utc.wMonth,  in.utc.wDay,         in.utc.wHour,
                                  in.utc.wMinute, in.utc.wSecond, in.utc.wMilliseconds};
    // The deltas worked out exactly (a long double holds any 64-bit integer),
    // from the readings' differences as signed 64-bit values.
    const long double system_ms =
        static_cast<long double>(static_cast<int64_t>(in.current_time - in.previous_time)) / 10000.0L;
    const long double counter_ms =
        static_cast<long double>(static_cast<int64_t>(static_cast<uint64_t>(in.current_counter) -
                                                      static_cast<uint64_t>(in.previous_counter))) *
        1000.0L / static_cast<long double>(frequency);
    if (std::memcmp(date, utc, sizeof date) != 0 || !shows(deltas[0], system_ms, std::fabs(system_ms)) ||
        !shows(deltas[1], counter_ms, std::fabs(counter_ms)) ||
        !shows(deltas[2], system_ms - counter_ms, std::fabs(system_ms) + std::fabs(counter_ms)) ||
        adjustment[0] != static_cast<int32_t>(in.adjustment) ||
        adjustment[1] != static_cast<int32_t>(in.adjustment - in.increment)) {
        fault("a value that is not the one given", line);
    }
    if (marked != (std::fabs(report.difference_ms) > MARKER_THRESHOLD_MS)) {
        fault("marked wrongly", line);
    }
}

void check_version_text(const Input &in) {
    reset_fake();
    fake.record_calls = false;
    fake.product_version_ms = in.product_version_ms;
    fake.product_version_ls = in.product_version_ls;
    fake.version_resource = static_cast<FakeVersionResource>(in.resource % 4);
    fake.allocation_fails = (in.resource & 4) != 0;

    char text[MESSAGE_BUFFER_SIZE];
    std::memset(text, 'x', sizeof text);
    if (get_version_string(text) != text || std::memchr(text, '\0', sizeof text) == nullptr) {
        fault("no version text", "");
    }
    if (fake.live_allocations != 0) {
        fault("the resource block is not released", text);
    }
    if (fake.version_resource == FakeVersionResource::absent) {
        if (std::strcmp(text, BUILT_IN_VERSION) != 0) {
            fault("not the built-in version", text);
        }
        return;
    }
    if (fake.version_resource != FakeVersionResource::present || fake.allocation_fails) {
        if (text[0] != '\0') {
            fault("a version from an unreadable resource", text);
        }
        return;
    }
    // "major.minor", ".patch.build" where the low word is not 0, and " (!)"
    // where that is not the built-in version.
    const char *p = text;
    unsigned long parts[4] = {};
    bool shape = number(p, 1, parts[0]) && literal(p, ".") && number(p, 1, parts[1]);
    const bool four = shape && literal(p, ".") && number(p, 1, parts[2]) && literal(p, ".") && number(p, 1, parts[3]);
    const std::string version(text, static_cast<size_t>(p - text));
    const bool mark = literal(p, " (!)");
    if (!shape || *p != '\0' || four != (in.product_version_ls != 0) || mark != (version != BUILT_IN_VERSION)) {
        fault("not the shape of a version", text);
    }
    const unsigned long given[4] = {in.product_version_ms >> 16, in.product_version_ms & 0xFFFFU,
                                    in.product_version_ls >> 16, in.product_version_ls & 0xFFFFU};
    if (std::memcmp(parts, given, sizeof parts) != 0) {
        fault("not the version given", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::atexit(print_figures);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ++inputs_tried;
    Input in = {};
    size_t at = 0;
    auto take = [&](auto &field) {
        if (at < size) {
            std::memcpy(&field, data + at, std::min(sizeof field, size - at));
        }
        at += sizeof field;
    };
    take(in.previous_time);
    take(in.current_time);
    take(in.previous_counter);
    take(in.current_counter);
    take(in.frequency);
    take(in.adjustment);
    take(in.increment);
    take(in.utc);
    take(in.product_version_ms);
    take(in.product_version_ls);
    take(in.resource);
    check_report_line(in);
    check_version_text(in);
    return 0;
}
