// The report line that tickwatch's own formatter writes for the values
// tickwatch-analyze read from a line: the same line again, if both agree.
#pragma once

#include <string>

#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"
#include "clock/report_line.h"

inline std::string format_parsed_report_line(const ReportFields &fields) {
    const SystemTime utc = fields.utc_ms == UNKNOWN_TIME_MS ? SystemTime{} : system_time_from_ms(fields.utc_ms);
    const IntervalReport report = {fields.system_ms,  fields.counter_ms,        fields.difference_ms,
                                   fields.adjustment, fields.adjustment_offset, fields.marked ? STEP_MARKER : ""};
    char buffer[1024];
    format_report_line(buffer, sizeof buffer, utc, report);
    return buffer;
}
