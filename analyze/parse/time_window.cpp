#include "analyze/parse/time_window.h"

#include <cstring>

bool parse_window_time(const char *text, int64_t &utc_ms) {
    // YYYY-MM-DDThh:mm:ss, then nothing or Z.
    const size_t length = std::strlen(text);
    if (length != 19 && !(length == 20 && text[19] == 'Z')) {
        return false;
    }
    CivilTime time;
    return read_date_time(text, 'T', time) && ms_from_civil(time, false, utc_ms);
}
