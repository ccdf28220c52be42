#include "analyze/parse/log_line.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "analyze/parse/utc_time.h"
#include "clock/log_format.h"

namespace {

// The parser below reads exactly this format; it has to change with it.
constexpr bool same_text(const char *a, const char *b) { return *a == *b && (*a == '\0' || same_text(a + 1, b + 1)); }
static_assert(same_text(REPORT_LINE_FORMAT, "%04u-%02u-%02u %02u:%02u:%02u.%04u: %9.4f %9.4f %+9.4f  %i (%+i) %s"),
              "the report line changed: teach the parsers below the new one");

// Printed %9.4f fields are at least this wide, padded with spaces in front.
constexpr ptrdiff_t FIELD_WIDTH = 9;
// Whole digits that are read exactly as an integer; longer numbers (which
// only a clock gone badly wrong gives) go the slow way, up to this length.
constexpr ptrdiff_t MAX_EXACT_DIGITS = 11;
constexpr size_t MAX_NUMBER_LENGTH = 400;
// The largest advances tickwatch can print: 2^63 system-time ticks of
// 100 ns, and 2^63 counter ticks at a frequency of at least 1 Hz.
constexpr double MAX_SYSTEM_MS = 0x1p63 / 10000.0;
constexpr double MAX_COUNTER_MS = 0x1p63 * 1000.0;
// The three values are printed rounded to 0.0001 ms, the difference from
// the unrounded ones: their printed values may disagree by one last digit,
// beyond which a little is left for the doubles the text is read into.
constexpr double DIFFERENCE_SLACK_MS = 0.00015;

struct Cursor {
    const char *at;
    const char *end;
};

bool take(Cursor &c, char expected) {
    if (c.at == c.end || *c.at != expected) {
        return false;
    }
    ++c.at;
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "YYYY-MM-DD hh:mm:ss.0mmm: " as milliseconds since 1970.
bool take_time(Cursor &c, int64_t &utc_ms, bool &leap_second) {
    // Its length is checked once, then the fields are read in place.
    constexpr ptrdiff_t TIME_LENGTH = 25;  // up to the colon
    if (c.end - c.at < TIME_LENGTH) {
        return false;
    }
    const char *const t = c.at;
    // The lines of a minute share its date, hour and minute: its first
    // millisecond is kept, and whether it is 23:59, which may have a leap
    // second; only the seconds are read.
    struct Minute {
        bool known;
        bool may_leap;
        char date_time[16];
        int64_t first_ms;
    };
    static thread_local Minute minute = {};
    CivilTime time;
    if (minute.known && std::memcmp(t, minute.date_time, sizeof minute.date_time) == 0) {
        if (!(t[16] == ':' && read_digits(t + 17, 2, time.second) && t[19] == '.' &&
              read_digits(t + 20, 4, time.millisecond) && t[24] == ':')) {
            return false;
        }
        if ((time.second > 59 && !(time.second == 60 && minute.may_leap)) || time.millisecond > 999) {
            return false;
        }
        c.at += TIME_LENGTH;
        leap_second = time.second == 60;
        utc_ms = minute.first_ms + int64_t{time.second} * 1000 + time.millisecond;
        return true;
    }
    if (!(read_date_time(t, ' ', time) && t[19] == '.' && read_digits(t + 20, 4, time.millisecond) && t[24] == ':')) {
        return false;
    }
    c.at += TIME_LENGTH;
    // The zeroed date: tickwatch could not tell the time.
    if (time.year == 0 && (time.month | time.day | time.hour | time.minute | time.second | time.millisecond) == 0) {
        utc_ms = UNKNOWN_TIME_MS;
        return true;
    }
    // A leap second is UTC's 23:59:60, which Windows gives as such.
    leap_second = time.second == 60;
    if (!ms_from_civil(time, true, utc_ms)) {
        return false;
    }
    minute.known = true;
    minute.may_leap = time.hour == 23 && time.minute == 59;
    std::memcpy(minute.date_time, t, sizeof minute.date_time);
    minute.first_ms = utc_ms - (int64_t{time.second} * 1000 + time.millisecond);
    return true;
}

// The sign printf writes: '-' for a negative value, and with sign_required
// ("%+") '+' otherwise. False where a required sign is missing.
bool take_sign(Cursor &c, bool sign_required, bool &negative) {
    negative = false;
    if (c.at != c.end && (*c.at == '-' || (sign_required && *c.at == '+'))) {
        negative = *c.at == '-';
        ++c.at;
        return true;
    }
    return !sign_required;
}

// A fixed-point number too long to read exactly as an integer: only
// printf's own text of a double is tickwatch's, so read it back with the
// run-time and check that it prints the same. (Apart from take_fixed: its
// buffers would weigh on every field read.)
[[gnu::noinline]] bool read_printed_fixed(const char *number, size_t length, bool sign_required, double &value) {
    char text[MAX_NUMBER_LENGTH + 1];
    if (length > MAX_NUMBER_LENGTH) {
        return false;
    }
    std::memcpy(text, number, length);
    text[length] = '\0';
    value = std::strtod(text, nullptr);
    char printed[MAX_NUMBER_LENGTH + 2];
    const int printed_length = std::snprintf(printed, sizeof printed, sign_required ? "%+.4f" : "%.4f", value);
    return printed_length == static_cast<int>(length) && std::memcmp(printed, text, length) == 0;
}

// A separating space and a "%9.4f" (or, with sign_required, "%+9.4f")
// field: padding, the sign, digits, a point and four decimals, exactly as
// printf writes them. The value is the double nearest to the decimal, as
// strtod gives it.
bool take_fixed(Cursor &c, bool sign_required, double &value) {
    if (!take(c, ' ')) {
        return false;
    }
    const char *field = c.at;
    while (c.at != c.end && *c.at == ' ') {
        ++c.at;
    }
    const bool padded = c.at != field;
    const char *number = c.at;
    bool negative = false;
    if (!take_sign(c, sign_required, negative)) {
        return false;
    }
    // (The loops run on a local pointer, and the first reads only the
    // digits that fit in whole: a line is read some ten million times.)
    const char *at = c.at;
    const char *const digits = at;
    const char *const exact_end = c.end - at > MAX_EXACT_DIGITS ? at + MAX_EXACT_DIGITS : c.end;
    uint64_t whole = 0;
    while (at != exact_end && is_digit(*at)) {
        whole = whole * 10 + static_cast<unsigned>(*at - '0');
        ++at;
    }
    while (at != c.end && is_digit(*at)) {
        ++at;
    }
    const ptrdiff_t digit_count = at - digits;
    if (digit_count == 0 || (digit_count > 1 && *digits == '0') || c.end - at < 5 || *at != '.') {
        return false;
    }
    unsigned fraction = 0;
    for (const char *const fraction_end = at + 5; ++at != fraction_end;) {
        if (!is_digit(*at)) {
            return false;
        }
        fraction = fraction * 10 + static_cast<unsigned>(*at - '0');
    }
    c.at = at;
    // At least the width; wider only without padding.
    if (c.at - field < FIELD_WIDTH || (padded && c.at - field != FIELD_WIDTH)) {
        return false;
    }
    if (digit_count <= MAX_EXACT_DIGITS) {
        // Below 2^53 in ten-thousandths: one correctly rounded division.
        value = static_cast<double>(whole * 10000 + fraction) / 10000.0;
        value = negative ? -value : value;
        return true;
    }
    return read_printed_fixed(number, static_cast<size_t>(c.at - number), sign_required, value);
}

// "%i" (or, with sign_required, "%+i") of a 32-bit value.
bool take_integer(Cursor &c, bool sign_required, int32_t &value) {
    bool negative = false;
    if (!take_sign(c, sign_required, negative)) {
        return false;
    }
    const char *at = c.at;
    const char *const digits = at;
    // Ten digits at most: an eleventh is out of range.
    const char *const digits_end = c.end - at > 10 ? at + 10 : c.end;
    int64_t magnitude = 0;
    while (at != digits_end && is_digit(*at)) {
        magnitude = magnitude * 10 + (*at - '0');
        ++at;
    }
    if (at != c.end && is_digit(*at)) {
        return false;
    }
    c.at = at;
    const ptrdiff_t digit_count = c.at - digits;
    // printf writes neither leading zeros nor "-0".
    if (digit_count == 0 || (*digits == '0' && (digit_count > 1 || negative))) {
        return false;
    }
    const int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value < INT32_MIN || signed_value > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(signed_value);
    return true;
}

bool take_text(Cursor &c, const char *text) {
    const size_t length = std::strlen(text);
    if (static_cast<size_t>(c.end - c.at) < length || std::memcmp(c.at, text, length) != 0) {
        return false;
    }
    c.at += length;
    return true;
}

// Whether the values read are ones that tickwatch's arithmetic gives.
LineKind check_values(const ReportFields &r) {
    if (!(std::fabs(r.system_ms) <= MAX_SYSTEM_MS && std::fabs(r.counter_ms) <= MAX_COUNTER_MS)) {
        return LineKind::out_of_range;
    }
    // (Large values carry the rounding of their doubles too.)
    const double slack = DIFFERENCE_SLACK_MS + 4 * DBL_EPSILON * (std::fabs(r.system_ms) + std::fabs(r.counter_ms));
    if (!(std::fabs(r.difference_ms - (r.system_ms - r.counter_ms)) <= slack)) {
        return LineKind::wrong_difference;
    }
    // Printed as 20.0000, the difference may have been either side.
    const double magnitude = std::fabs(r.difference_ms);
    if (magnitude != MARKER_THRESHOLD_MS && r.marked != (magnitude > MARKER_THRESHOLD_MS)) {
        return LineKind::wrong_marker;
    }
    return LineKind::report;
}

// What follows the three values: "  %i (%+i)" and the marker or nothing.
LineKind take_report_tail(Cursor c, ReportFields &report) {
    if (!(take_text(c, "  ") && take_integer(c, false, report.adjustment) && take_text(c, " (") &&
          take_integer(c, true, report.adjustment_offset) && take(c, ')'))) {
        return LineKind::unknown;
    }
    // The marker or nothing behind a space; a line whose trailing space was
    // lost (an editor, a copy) is still read.
    report.marked = false;
    if (!(c.at == c.end || (take(c, ' ') && c.at == c.end))) {
        report.marked = take_text(c, STEP_MARKER) && c.at == c.end;
        if (!report.marked) {
            return LineKind::unknown;
        }
    }
    return check_values(report);
}

// A "%9.4f" (with sign_required, "%+9.4f") field of nine characters at f:
// padding, the sign, one to four whole digits, the point at f[4] and four
// decimals, as take_fixed reads it. False for any other (which take_fixed
// reads, or refuses).
bool take_usual_fixed(const char *f, bool sign_required, double &value) {
    constexpr int POINT = 4;
    int at = 0;
    while (at < POINT && f[at] == ' ') {
        ++at;
    }
    const bool negative = f[at] == '-';
    if (negative || (sign_required && f[at] == '+')) {
        ++at;
    } else if (sign_required) {
        return false;
    }
    // One digit at least, and no leading zero.
    if (at >= POINT || (f[at] == '0' && at + 1 < POINT) || f[POINT] != '.') {
        return false;
    }
    unsigned units = 0;
    for (; at < POINT; ++at) {
        if (!is_digit(f[at])) {
            return false;
        }
        units = units * 10 + static_cast<unsigned>(f[at] - '0');
    }
    // The four decimals at once, the first in the lowest byte: a byte
    // below '0' sets its top bit less 0x30, one above '9' plus 0x46 (or,
    // from 0xBA, less 0x30), before any borrow or carry reaches it.
    const auto byte = [f](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(f[i])); };
    const uint32_t decimals = byte(POINT + 1) | byte(POINT + 2) << 8 | byte(POINT + 3) << 16 | byte(POINT + 4) << 24;
    if ((((decimals - 0x30303030U) | (decimals + 0x46464646U)) & 0x80808080U) != 0) {
        return false;
    }
    // Pairs of digits in bytes 0 and 2, then the four.
    const uint32_t digits = decimals - 0x30303030U;
    const uint32_t pairs = digits * 10 + (digits >> 8);
    units = units * 10000 + (pairs & 0xFF) * 100 + ((pairs >> 16) & 0xFF);
    // As take_fixed: one correctly rounded division.
    value = static_cast<double>(units) / 10000.0;
    value = negative ? -value : value;
    return true;
}

}  // namespace

LineKind parse_usual_report_line(const char *text, size_t length, ReportFields &report) {
    // The time (25), and three fields of a space and nine characters each.
    constexpr size_t TIME_LENGTH = 25;
    constexpr size_t FIELD = 1 + FIELD_WIDTH;
    Cursor c{text, text + length};
    report.leap_second = false;
    if (length < TIME_LENGTH + 3 * FIELD || !take_time(c, report.utc_ms, report.leap_second)) {
        return LineKind::unknown;
    }
    const char *const f = text + TIME_LENGTH;
    if (!(f[0] == ' ' && take_usual_fixed(f + 1, false, report.system_ms) && f[FIELD] == ' ' &&
          take_usual_fixed(f + FIELD + 1, false, report.counter_ms) && f[2 * FIELD] == ' ' &&
          take_usual_fixed(f + 2 * FIELD + 1, true, report.difference_ms))) {
        return LineKind::unknown;
    }
    // The lines of a run mostly end alike ("  156250 (+0)"): the last
    // tail read is kept with its values, and one the same is not read again.
    struct Tail {
        size_t length;  // 0: none kept
        char text[32];
        int32_t adjustment;
        int32_t adjustment_offset;
        bool marked;
    };
    static thread_local Tail last = {};
    const char *const tail = f + 3 * FIELD;
    const auto tail_length = static_cast<size_t>(text + length - tail);
    if (tail_length == last.length && tail_length > 0 && std::memcmp(tail, last.text, tail_length) == 0) {
        report.adjustment = last.adjustment;
        report.adjustment_offset = last.adjustment_offset;
        report.marked = last.marked;
        return check_values(report);
    }
    c.at = tail;
    const LineKind kind = take_report_tail(c, report);
    if (kind != LineKind::unknown && tail_length > 0 && tail_length <= sizeof last.text) {
        last.length = tail_length;
        std::memcpy(last.text, tail, tail_length);
        last.adjustment = report.adjustment;
        last.adjustment_offset = report.adjustment_offset;
        last.marked = report.marked;
    }
    return kind;
}

LineKind parse_general_report_line(const char *text, size_t length, ReportFields &report) {
    Cursor c{text, text + length};
    report.leap_second = false;
    if (!(take_time(c, report.utc_ms, report.leap_second) && take_fixed(c, false, report.system_ms) &&
          take_fixed(c, false, report.counter_ms) && take_fixed(c, true, report.difference_ms))) {
        return LineKind::unknown;
    }
    return take_report_tail(c, report);
}

namespace {

bool starts_with(const char *text, size_t length, const char *prefix) {
    const size_t prefix_length = std::strlen(prefix);
    return length >= prefix_length && std::memcmp(text, prefix, prefix_length) == 0;
}

bool is_message(const char *text, size_t length) {
    const auto is_whole = [&](const char *message) {
        return length == std::strlen(message) && std::memcmp(text, message, length) == 0;
    };
    const auto is_start = [&](const char *prefix) { return starts_with(text, length, prefix); };
    return std::any_of(std::begin(LOG_WHOLE_MESSAGES), std::end(LOG_WHOLE_MESSAGES), is_whole) ||
           std::any_of(std::begin(LOG_MESSAGE_PREFIXES), std::end(LOG_MESSAGE_PREFIXES), is_start);
}

bool contains(const char *text, size_t length, const char *part) {
    const size_t part_length = std::strlen(part);
    for (size_t i = 0; i + part_length <= length; ++i) {
        if (text[i] == part[0] && std::memcmp(text + i, part, part_length) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

LineKind parse_log_line(const char *text, size_t length, ReportFields &report) {
    while (length > 0 && text[length - 1] == '\r') {
        --length;
    }
    if (length == 0) {
        return LineKind::empty;
    }
    if (is_digit(text[0])) {
        LineKind kind = parse_usual_report_line(text, length, report);
        if (kind == LineKind::unknown) {
            kind = parse_general_report_line(text, length, report);
        }
        if (kind != LineKind::unknown) {
            return kind;
        }
    }
    if (starts_with(text, length, LOG_BANNER_PREFIX)) {
        return LineKind::banner;
    }
    if (is_message(text, length)) {
        return LineKind::message;
    }
    // A run that ended in the middle of writing a line leaves it without
    // its line end, and the next run's banner follows on the same line.
    if (contains(text, length, LOG_BANNER_PREFIX)) {
        return LineKind::cut_then_banner;
    }
    return LineKind::unknown;
}
