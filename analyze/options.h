// The command line of tickwatch-analyze.
#pragma once

#include "analyze/parse/time_window.h"
#include "analyze/report/check.h"

constexpr int EXIT_TROUBLE = 2;  // a usage error, a file that cannot be read or written
// --check exits with its state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN,
// which is also every error's.
constexpr int EXIT_CHECK_UNKNOWN = 3;

constexpr int DEFAULT_INTERVAL_SECONDS = 10;
constexpr int MAX_INTERVAL_SECONDS = 86400;

extern const char *const ANALYZE_USAGE;

struct AnalyzeOptions {
    bool show_help;
    bool show_version;
    bool json;
    const char *csv_file;      // or nullptr
    const char *svg_file;      // or nullptr
    const char *html_file;     // or nullptr
    const char *metrics_file;  // or nullptr
    bool follow;
    int interval_seconds;  // between the status lines of --follow
    TimeWindow window;     // --from and --to
    bool check;            // a monitoring plugin's one line and exit status
    CheckThresholds thresholds;
    char **logs;  // the log files named, "-" for standard input
    int log_count;
};

// False on a usage error, which has been reported on standard error.
bool parse_options(int argc, char **argv, AnalyzeOptions &options);
// "-" for the CSV: standard output, which then is the CSV's alone.
bool csv_to_standard_output(const AnalyzeOptions &options);
// The last usage error parse_options reported, without its hint.
const char *usage_error_text();
// Whether --check is among the options: its usage errors are UNKNOWN.
bool asks_for_check(int argc, char **argv);
