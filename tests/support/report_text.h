// The report line that tickwatch's own formatter writes for the values
// tickwatch-analyze read from a line: the same line again, if both agree.
#pragma once

#include <string>

#include "analyze/log_line.h"
#include "analyze/utc_time.h"
#include "clock/report_line.h"

inline std::string format_parsed_report_line(const ReportFields &fields) {
    const CivilTime t = civil_from_ms(fields.utc_ms);
    SystemTime utc = {};
    utc.wYear = static_cast<uint16_t>(t.year);
    utc.wMonth = static_cast<uint16_t>(t.month);
    utc.wDay = static_cast<uint16_t>(t.day);
    utc.wHour = static_cast<uint16_t>(t.hour);
    utc.wMinute = static_cast<uint16_t>(t.minute);
    utc.wSecond = static_cast<uint16_t>(t.second);
    utc.wMilliseconds = static_cast<uint16_t>(t.millisecond);
    const IntervalReport report = {fields.system_ms,  fields.counter_ms,        fields.difference_ms,
                                   fields.adjustment, fields.adjustment_offset, fields.marked ? STEP_MARKER : ""};
    char buffer[1024];
    format_report_line(buffer, sizeof buffer, utc, report);
    return buffer;
}
