#include "analyze/parse/utc_time.h"

#include <cstdio>

// The civil-date conversions count in eras of 400 years, which repeat
// exactly in the Gregorian calendar; years start in March so that the leap
// day comes last.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146'097 + static_cast<int64_t>(day_of_era) - 719'468;
}

namespace {

constexpr unsigned DAYS_IN_MONTH[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

char *put_two_digits(char *out, unsigned value) {
    *out++ = static_cast<char>('0' + value / 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

}  // namespace

bool is_valid_date(unsigned year, unsigned month, unsigned day) {
    if (month < 1 || month > 12 || day < 1) {
        return false;
    }
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return day <= DAYS_IN_MONTH[month - 1] + (month == 2 && leap ? 1 : 0);
}

CivilTime civil_from_ms(int64_t utc_ms) {
    int64_t days = utc_ms / MS_PER_DAY;
    int64_t in_day = utc_ms % MS_PER_DAY;
    if (in_day < 0) {
        in_day += MS_PER_DAY;
        --days;
    }
    days += 719'468;
    const int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146'097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned month_from_march = (5 * day_of_year + 2) / 153;

    CivilTime time;
    time.day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
    time.month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
    time.year = static_cast<int64_t>(year_of_era) + era * 400 + (time.month <= 2 ? 1 : 0);
    const auto ms = static_cast<unsigned>(in_day);
    time.hour = ms / 3'600'000;
    time.minute = ms / 60'000 % 60;
    time.second = ms / 1000 % 60;
    time.millisecond = ms % 1000;
    return time;
}

const CivilTime &civil_from_ms(int64_t utc_ms, CivilDayCache &cache) {
    const int64_t day = utc_ms >= 0 ? utc_ms / MS_PER_DAY : (utc_ms + 1) / MS_PER_DAY - 1;
    if (day != cache.day) {
        cache.time = civil_from_ms(utc_ms);
        cache.day = day;
        return cache.time;
    }
    const auto ms = static_cast<unsigned>(utc_ms - day * MS_PER_DAY);
    cache.time.hour = ms / 3'600'000;
    cache.time.minute = ms / 60'000 % 60;
    cache.time.second = ms / 1000 % 60;
    cache.time.millisecond = ms % 1000;
    return cache.time;
}

bool ms_from_civil(const CivilTime &time, bool leap_second, int64_t &utc_ms) {
    const bool leap = leap_second && time.hour == 23 && time.minute == 59 && time.second == 60;
    if (time.year < 0 || time.year > UINT32_MAX ||
        !is_valid_date(static_cast<unsigned>(time.year), time.month, time.day) || time.hour > 23 || time.minute > 59 ||
        (time.second > 59 && !leap) || time.millisecond > 999) {
        return false;
    }
    utc_ms = days_from_civil(time.year, time.month, time.day) * MS_PER_DAY +
             static_cast<int64_t>(((time.hour * 60 + time.minute) * 60 + time.second) * 1000 + time.millisecond);
    return true;
}

char *put_iso_time(char *out, const CivilTime &time) {
    if (time.year >= 0 && time.year <= 9999) {
        const auto year = static_cast<unsigned>(time.year);
        out = put_two_digits(out, year / 100);
        out = put_two_digits(out, year % 100);
    } else {
        const int length = std::snprintf(out, ISO_TIME_SIZE, "%04lld", static_cast<long long>(time.year));
        out += length > 0 ? length : 0;
    }
    *out++ = '-';
    out = put_two_digits(out, time.month);
    *out++ = '-';
    out = put_two_digits(out, time.day);
    *out++ = 'T';
    out = put_two_digits(out, time.hour);
    *out++ = ':';
    out = put_two_digits(out, time.minute);
    *out++ = ':';
    out = put_two_digits(out, time.second);
    *out++ = '.';
    *out++ = static_cast<char>('0' + time.millisecond / 100);
    out = put_two_digits(out, time.millisecond % 100);
    *out++ = 'Z';
    return out;
}

void format_iso_time(char *buffer, size_t size, int64_t utc_ms) {
    if (utc_ms == UNKNOWN_TIME_MS) {
        std::snprintf(buffer, size, "unknown time");
        return;
    }
    char text[ISO_TIME_SIZE];
    *put_iso_time(text, civil_from_ms(utc_ms)) = '\0';
    std::snprintf(buffer, size, "%s", text);
}

void format_duration(char *buffer, size_t size, int64_t ms) {
    const char *sign = ms < 0 ? "-" : "";
    const auto magnitude = static_cast<unsigned long long>(ms < 0 ? -ms : ms);
    const unsigned long long seconds = magnitude / 1000;
    if (seconds >= 86'400) {
        std::snprintf(buffer, size, "%s%llu d %llu h", sign, seconds / 86'400, seconds / 3600 % 24);
    } else if (seconds >= 3600) {
        std::snprintf(buffer, size, "%s%llu h %llu min", sign, seconds / 3600, seconds / 60 % 60);
    } else if (seconds >= 60) {
        std::snprintf(buffer, size, "%s%llu min %llu s", sign, seconds / 60, seconds % 60);
    } else {
        std::snprintf(buffer, size, "%s%llu.%03llu s", sign, seconds, magnitude % 1000);
    }
}
