// UTC calendar times as milliseconds since 1970-01-01 00:00:00, and their
// text.
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

// "2024-03-05T13:39:00.015Z" (24 characters and a terminating zero), or
// "unknown time".
constexpr size_t ISO_TIME_SIZE = 32;
void format_iso_time(char *buffer, size_t size, int64_t utc_ms);

// A span as "3 d 4 h", "2 h 5 min", "7 min 12 s" or "1.250 s".
void format_duration(char *buffer, size_t size, int64_t ms);
