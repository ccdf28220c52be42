// tickwatch's own formatter fed with values in tickwatch-analyze's terms:
// for the tests that check the two against each other, and for the log
// generator of the benchmark. (The analyzer itself knows nothing of
// tickwatch's platform types.)
#pragma once

#include <string>

#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"
#include "clock/report_line.h"

// The calendar record tickwatch formats its report lines from.
inline SystemTime system_time_from_ms(int64_t utc_ms) {
    const CivilTime c = civil_from_ms(utc_ms);
    SystemTime t = {};
    t.wYear = static_cast<uint16_t>(c.year);
    t.wMonth = static_cast<uint16_t>(c.month);
    t.wDay = static_cast<uint16_t>(c.day);
    t.wHour = static_cast<uint16_t>(c.hour);
    t.wMinute = static_cast<uint16_t>(c.minute);
    t.wSecond = static_cast<uint16_t>(c.second);
    t.wMilliseconds = static_cast<uint16_t>(c.millisecond);
    return t;
}

// The report line that tickwatch's own formatter writes for the values
// tickwatch-analyze read from a line: the same line again, if both agree.
inline std::string format_parsed_report_line(const ReportFields &fields) {
    const SystemTime utc = fields.utc_ms == UNKNOWN_TIME_MS ? SystemTime{} : system_time_from_ms(fields.utc_ms);
    const IntervalReport report = {fields.system_ms,  fields.counter_ms,        fields.difference_ms,
                                   fields.adjustment, fields.adjustment_offset, fields.marked ? STEP_MARKER : ""};
    char buffer[1024];
    format_report_line(buffer, sizeof buffer, utc, report);
    return buffer;
}
