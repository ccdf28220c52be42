// One report line: the values of an interval between two clock samples and
// the text they are shown in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// How far one clock may run ahead of the other, either way, before the
// line is marked.
constexpr double MARKER_THRESHOLD_MS = 20.0;
constexpr const char *STEP_MARKER = "><";

// UTC date and time with milliseconds; the two clocks' advance, their
// difference; the time adjustment and its distance from the increment;
// the marker.
// (A macro, so that the compiler checks the arguments against it.)
#define REPORT_LINE_FORMAT "%04u-%02u-%02u %02u:%02u:%02u.%04u: %9.4f %9.4f %+9.4f  %i (%+i) %s"

// A system time and a performance-counter value, read back to back.
struct ClockSample {
    FileTime system_time;
    int64_t counter;
};

struct IntervalReport {
    double system_time_delta_ms;
    double counter_delta_ms;
    double difference_ms;
    int32_t adjustment;
    int32_t adjustment_offset;  // adjustment minus increment
    const char *marker;
};

// Compares two samples. Only the 64-bit differences of the clock readings
// are converted to double, never the readings themselves.
IntervalReport compute_interval_report(const ClockSample &previous, const ClockSample &current, int64_t frequency,
                                       uint32_t adjustment, uint32_t increment);

// Formats a report line for a sample taken at utc_time into buffer; returns
// what snprintf returns.
int format_report_line(char *buffer, size_t size, const SystemTime &utc_time, const IntervalReport &report);
