// One report line: the values of an interval between two clock samples and
// the text they are shown in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clock/log_format.h"
#include "platform/platform.h"

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
