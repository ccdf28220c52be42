// The verdict on the logs read: is the time service steering the clock
// well? Six findings, each measured from the snapshot and held against a
// warning and a critical range; the worst decides. --check prints it as
// the one line of a monitoring plugin, and the summaries begin with its
// words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/records.h"

// A threshold range in the monitoring plugins' syntax: "10" alerts outside
// 0..10, "10:" below 10, "~:10" above 10, "10:20" outside 10..20, and a
// leading @ alerts inside instead.
struct ThresholdRange {
    bool set;
    bool inside;  // @: alert inside the range
    double low;   // -infinity for ~
    double high;  // +infinity when left out
};

// False when the text is not a range (or its low end lies above its high).
bool parse_range(const char *text, ThresholdRange &range);
bool range_alerts(const ThresholdRange &range, double value);
// As parsed back, each end multiplied by scale (into the perfdata's unit).
size_t format_range(char *text, size_t size, const ThresholdRange &range, double scale);

enum class CheckState { ok = 0, warning = 1, critical = 2, unknown = 3 };

const char *state_name(CheckState state);

// What is judged: sizes, so that a range like "100" reads "above 100".
enum class Finding {
    steps,         // how many, count
    largest_step,  // the largest step's size, ms
    largest_slew,  // the hardest slew's rate, ppm
    time_error,    // p99 of |difference| over the regular lines, ms
    missing,       // the samples missing, % of those expected
    age,           // since the last sample, s; judged only when a range is set
};
constexpr int FINDINGS = 6;

struct CheckThresholds {
    ThresholdRange warning[FINDINGS];
    ThresholdRange critical[FINDINGS];
};

// The documented defaults: a step warns, one over 100 ms or more than 10
// of them are critical; a slew beyond 500 ppm warns; a p99 difference over 1 ms
// warns, over 10 ms is critical; over 1 % missing warns, over 10 % is
// critical; the age is judged only when asked.
CheckThresholds default_thresholds();

// The option that sets a finding's range ("steps", "step", "slew",
// "error", "missing", "age"), or false.
bool finding_of_name(const char *name, Finding &finding);

struct Verdict {
    CheckState state;             // the worst of the findings; unknown without a sample
    bool known[FINDINGS];         // measured (the age with a range only)
    double value[FINDINGS];       // in the finding's unit, a size
    CheckState judged[FINDINGS];  // each against its ranges
    double step_ms;               // the largest step, signed
    double slew_ppm;              // the hardest slew, signed
    double slew_s;                // its duration
    bool error_beyond_counts;     // the p99 lies beyond ±20 ms
};

// now_ms: the time to measure the age against (UTC ms).
Verdict judge(const AnalysisSnapshot &snapshot, const CheckThresholds &thresholds, int64_t now_ms);

// The worst finding first, then the others, each with its figure:
// "largest step -1000 ms (critical above 100 ms), 2 steps (warning above
// 0), ...". Returns the length it would have uncut.
size_t verdict_words(char *text, size_t size, const Verdict &verdict, const CheckThresholds &thresholds);
// "TICKWATCH OK - words | perfdata" and its line end.
void write_check_line(std::FILE *out, const Verdict &verdict, const CheckThresholds &thresholds);
// The summary's first lines: "Verdict: OK - words", and what it measures;
// nothing without a sample.
void write_verdict_text(std::FILE *out, const Verdict &verdict, const CheckThresholds &thresholds);
// What every verdict measures, in one sentence.
extern const char *const VERDICT_MEANING;
// "TICKWATCH UNKNOWN - reason": a check that could not be made.
void write_check_unknown(std::FILE *out, const char *reason);
