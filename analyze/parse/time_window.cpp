#include "analyze/parse/time_window.h"

#include <cstring>

namespace {

// Digits of a date's or time's field at text, between its separators.
bool read_field(const char *text, size_t length, size_t at, int count, unsigned &value) {
    return at + static_cast<size_t>(count) <= length && read_digits(text + at, count, value);
}

}  // namespace

bool parse_window_time(const char *text, WindowEdge edge, int64_t &utc_ms) {
    size_t length = std::strlen(text);
    if (length > 0 && (text[length - 1] == 'Z' || text[length - 1] == 'z')) {
        --length;  // UTC, as every time here is; only after a time of day
        if (length <= 10) {
            return false;
        }
    }
    CivilTime time = {};
    unsigned year = 0;
    if (!(read_field(text, length, 0, 4, year) && length >= 10 && text[4] == '-' &&
          read_field(text, length, 5, 2, time.month) && text[7] == '-' && read_field(text, length, 8, 2, time.day))) {
        return false;
    }
    time.year = year;
    // What the text leaves out: the last edge takes the whole of it.
    int64_t unit_ms = MS_PER_DAY;
    if (length > 10) {
        const char separator = text[10];
        if (!(separator == 'T' || separator == 't' || separator == ' ') || length < 16 ||
            !read_field(text, length, 11, 2, time.hour) || text[13] != ':' ||
            !read_field(text, length, 14, 2, time.minute)) {
            return false;
        }
        unit_ms = 60'000;
    }
    if (length > 16) {
        if (text[16] != ':' || length < 19 || !read_field(text, length, 17, 2, time.second)) {
            return false;
        }
        unit_ms = 1000;
    }
    if (length > 19) {
        // A decimal fraction to the millisecond, or the log's own
        // "0mmm": a zero, then the milliseconds.
        const size_t digits = length - 20;
        const bool logs_form = digits == 4 && text[20] == '0';
        if (text[19] != '.' || digits == 0 || (digits > 3 && !logs_form) ||
            !read_field(text, length, logs_form ? 21 : 20, logs_form ? 3 : static_cast<int>(digits),
                        time.millisecond)) {
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
