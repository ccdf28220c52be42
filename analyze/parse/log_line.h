// One line of a tickwatch log: a report line with its values, or one of the
// other lines a log holds.
#pragma once

#include <cstddef>
#include <cstdint>

enum class LineKind {
    report,
    banner,           // "Kestivar TICKWATCH v...": a run starts
    cut_then_banner,  // a line cut short (the run was ended mid-write) and a banner behind it
    message,          // what tickwatch says about its options, which the log also gets
    empty,
    unknown,
    // Report lines that tickwatch cannot have written:
    wrong_difference,  // not the system time's advance minus the counter's
    wrong_marker,      // the marker, or its absence, disagrees with the difference
    out_of_range,      // a value beyond any that tickwatch's clocks give
};

struct ReportFields {
    int64_t utc_ms;  // the sample's UTC time, ms since 1970-01-01 00:00:00, or UNKNOWN_TIME_MS
    double system_ms;
    double counter_ms;
    double difference_ms;
    int32_t adjustment;
    int32_t adjustment_offset;  // the adjustment minus the increment
    bool marked;                // "><": beyond the threshold either way
    // At 23:59:60: utc_ms is then the next day's first second's, as POSIX
    // time counts it, and the sample after it a second later than its own.
    bool leap_second = false;
};

// Sorts one line (without its LF; CRs before the LF are allowed, as a log
// converted to CR LF twice has them) and, for a report line, fills report.
// The text need not end in a zero.
LineKind parse_log_line(const char *text, size_t length, ReportFields &report);
// The two ways parse_log_line reads a report line (text without CRs at its
// end): the first for the layout of nearly every line, each value nine
// characters wide, and LineKind::unknown for any other; the second for any
// line, the first's ones included, and both read them alike.
LineKind parse_usual_report_line(const char *text, size_t length, ReportFields &report);
LineKind parse_general_report_line(const char *text, size_t length, ReportFields &report);

// The time increment that the line implies, in the 32-bit arithmetic that
// the offset was computed in.
inline uint32_t increment_of(const ReportFields &report) {
    return static_cast<uint32_t>(report.adjustment) - static_cast<uint32_t>(report.adjustment_offset);
}

// The time the counter advanced by, a negative advance (a counter never runs
// back) as none: fmax(counter_ms, 0.0) without the call (a NaN and a -0
// come out as 0 in both).
inline double counter_advance_ms(const ReportFields &report) { return report.counter_ms > 0 ? report.counter_ms : 0.0; }
