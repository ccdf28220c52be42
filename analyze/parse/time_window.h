// The stretch of UTC time that --from and --to limit the analysis to.
#pragma once

#include <cstdint>

#include "analyze/parse/utc_time.h"

struct TimeWindow {
    bool has_from;
    bool has_to;
    int64_t from_ms;  // the first and the last instant within it
    int64_t to_ms;
};

enum class WindowEdge { first, last };

// A UTC time as "2024-03-05T13:39:00", with 'T', 't' or a space (as the log
// has it) between date and time, a 'Z' or 'z' after it or not; to the
// minute ("2024-03-05T13:39"), the day ("2024-03-05"), or a fraction of
// the second (".5", ".015", or the log's ".0015", its milliseconds after a
// zero); 23:59:60 is a leap second. The first edge is the first instant of
// what it names, the last edge its last: "--to 2024-03-05" keeps the whole
// day. False on anything else, such as a date that does not exist.
bool parse_window_time(const char *text, WindowEdge edge, int64_t &utc_ms);

inline bool is_limited(const TimeWindow &window) { return window.has_from || window.has_to; }

// A sample at an unknown time cannot be placed in a limited window.
inline bool is_within(const TimeWindow &window, int64_t utc_ms) {
    if (!is_limited(window)) {
        return true;
    }
    return utc_ms != UNKNOWN_TIME_MS && (!window.has_from || utc_ms >= window.from_ms) &&
           (!window.has_to || utc_ms <= window.to_ms);
}
