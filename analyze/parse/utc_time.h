// UTC calendar times as milliseconds since 1970-01-01 00:00:00, and their
// text: the one reader of a date and time (the log's, the time window's)
// and the one writer of an ISO time (every output's).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int64_t MS_PER_SECOND = 1000;
// A sample whose time is not known: tickwatch writes the zeroed date
// 0000-00-00 00:00:00.0000 when it cannot convert the system time.
constexpr int64_t UNKNOWN_TIME_MS = INT64_MIN;
constexpr int64_t MS_PER_DAY = 86'400'000;

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);
bool is_valid_date(unsigned year, unsigned month, unsigned day);

// Exactly count decimal digits at text, which holds them, as a number: a
// field of a date or time. (Inline: the reading of every log line uses it.)
inline bool read_digits(const char *text, int count, unsigned &value) {
    value = 0;
    for (const char *const end = text + count; text != end; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(*text - '0');
    }
    return true;
}

struct CivilTime {
    int64_t year;
    unsigned month, day, hour, minute, second, millisecond;
};
CivilTime civil_from_ms(int64_t utc_ms);

// civil_from_ms for times that mostly come a second or so after the one
// before, as the rows of a log: the date is worked out once a day.
struct CivilDayCache {
    int64_t day;  // INT64_MIN: none yet
    CivilTime time;
};
constexpr CivilDayCache NO_CIVIL_DAY = {INT64_MIN, {}};
const CivilTime &civil_from_ms(int64_t utc_ms, CivilDayCache &cache);

// "YYYY-MM-DD hh:mm:ss" at text, which holds at least its 19 characters,
// with separator between the date and the time: false unless each field is
// its digits, between its separators. The values are left to
// ms_from_civil; millisecond is 0. (Inline: the reading of every log line
// uses it.)
inline bool read_date_time(const char *text, char separator, CivilTime &time) {
    unsigned year = 0;
    const bool read = read_digits(text, 4, year) && text[4] == '-' && read_digits(text + 5, 2, time.month) &&
                      text[7] == '-' && read_digits(text + 8, 2, time.day) && text[10] == separator &&
                      read_digits(text + 11, 2, time.hour) && text[13] == ':' &&
                      read_digits(text + 14, 2, time.minute) && text[16] == ':' &&
                      read_digits(text + 17, 2, time.second);
    time.year = year;
    time.millisecond = 0;
    return read;
}
// The instant that time names; false for a date or a time of day that does
// not exist. With leap_second, UTC's 23:59:60 is taken as the same
// millisecond count as the next day's first second.
bool ms_from_civil(const CivilTime &time, bool leap_second, int64_t &utc_ms);

// "2024-03-05T13:39:00.015Z": 24 characters for the years 0 to 9999, the
// year as %04lld otherwise. Returns the end (no terminating zero).
char *put_iso_time(char *out, const CivilTime &time);
// The same with a terminating zero, or "unknown time".
constexpr size_t ISO_TIME_SIZE = 32;
void format_iso_time(char *buffer, size_t size, int64_t utc_ms);

// A span as "3 d 4 h", "2 h 5 min", "7 min 12 s" or "1.250 s".
void format_duration(char *buffer, size_t size, int64_t ms);
