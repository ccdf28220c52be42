#include "analyze/parse/time_window.h"

#include <cstring>

bool parse_window_time(const char *text, int64_t &utc_ms) {
    // YYYY-MM-DDThh:mm:ss, then nothing or Z.
    const size_t length = std::strlen(text);
    if (length != 19 && !(length == 20 && text[19] == 'Z')) {
        return false;
    }
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return false;
    }
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    if (!read_digits(text, 4, year) || !read_digits(text + 5, 2, month) || !read_digits(text + 8, 2, day) ||
        !read_digits(text + 11, 2, hour) || !read_digits(text + 14, 2, minute) || !read_digits(text + 17, 2, second)) {
        return false;
    }
    if (!is_valid_date(year, month, day) || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    utc_ms = days_from_civil(year, month, day) * MS_PER_DAY +
             ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * MS_PER_SECOND;
    return true;
}
