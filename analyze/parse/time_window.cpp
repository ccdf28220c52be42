#include "analyze/parse/time_window.h"

#include <cstring>

bool parse_window_time(const char *text, WindowEdge edge, int64_t &utc_ms) {
    size_t length = std::strlen(text);
    // UTC, as every time here is: a Z only after a time of day.
    if (length > 11 && (text[length - 1] == 'Z' || text[length - 1] == 'z')) {
        --length;
    }
    // A date, to the minute or to the second, read as the whole with what
    // it leaves out at its start; the last edge takes the whole of it.
    if (!(length == 10 || length == 16 || length >= 19)) {
        return false;
    }
    int64_t unit_ms = length == 10 ? MS_PER_DAY : length == 16 ? 60'000 : 1000;
    char full[] = "0000-01-01T00:00:00";
    std::memcpy(full, text, length < 19 ? length : 19);
    const char separator = full[10];
    CivilTime time = {};
    if (!(separator == 'T' || separator == 't' || separator == ' ') || !read_date_time(full, separator, time)) {
        return false;
    }
    if (length > 19) {
        // A decimal fraction to the millisecond, or the log's own
        // "0mmm": a zero, then the milliseconds.
        const size_t digits = length - 20;
        const bool logs_form = digits == 4 && text[20] == '0';
        if (text[19] != '.' || digits == 0 || (digits > 3 && !logs_form) ||
            !read_digits(text + (logs_form ? 21 : 20), logs_form ? 3 : static_cast<int>(digits), time.millisecond)) {
            return false;
        }
        unit_ms = 1;
        for (size_t i = logs_form ? 3 : digits; i < 3; ++i) {
            time.millisecond *= 10;
            unit_ms *= 10;
        }
    }
    if (!ms_from_civil(time, true, utc_ms)) {
        return false;
    }
    if (edge == WindowEdge::last) {
        utc_ms += unit_ms - 1;
    }
    return true;
}
