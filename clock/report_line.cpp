#include "clock/report_line.h"

#include <cstdio>

static uint64_t file_time_ticks(const FileTime &time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

IntervalReport compute_interval_report(const ClockSample &previous, const ClockSample &current, int64_t frequency,
                                       uint32_t adjustment, uint32_t increment) {
    // Unsigned subtraction wraps, so a clock set backwards gives a negative
    // difference once converted to signed.
    auto system_ticks =
        static_cast<int64_t>(file_time_ticks(current.system_time) - file_time_ticks(previous.system_time));
    auto counter_ticks =
        static_cast<int64_t>(static_cast<uint64_t>(current.counter) - static_cast<uint64_t>(previous.counter));

    IntervalReport report;
    report.system_time_delta_ms = static_cast<double>(system_ticks) / 10000.0;
    report.counter_delta_ms = static_cast<double>(counter_ticks) * 1000.0 / static_cast<double>(frequency);
    report.difference_ms = report.system_time_delta_ms - report.counter_delta_ms;
    report.adjustment = static_cast<int32_t>(adjustment);
    report.adjustment_offset = static_cast<int32_t>(adjustment - increment);
    bool beyond_threshold = report.difference_ms > MARKER_THRESHOLD_MS || report.difference_ms < -MARKER_THRESHOLD_MS;
    report.marker = beyond_threshold ? STEP_MARKER : "";
    return report;
}

int format_report_line(char *buffer, size_t size, const SystemTime &utc_time, const IntervalReport &report) {
    return std::snprintf(buffer, size, REPORT_LINE_FORMAT, unsigned{utc_time.wYear}, unsigned{utc_time.wMonth},
                         unsigned{utc_time.wDay}, unsigned{utc_time.wHour}, unsigned{utc_time.wMinute},
                         unsigned{utc_time.wSecond}, unsigned{utc_time.wMilliseconds}, report.system_time_delta_ms,
                         report.counter_delta_ms, report.difference_ms, report.adjustment, report.adjustment_offset,
                         report.marker);
}
