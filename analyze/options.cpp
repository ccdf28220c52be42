#include "analyze/options.h"
#include "analyze/files/terminal_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *const ANALYZE_USAGE = "usage: tickwatch-analyze [options] LOG...\n"
                                  "\n"
                                  "Summarises tickwatch log files: per run and in total, the samples and\n"
                                  "the missing ones, the steps, the difference between system time and\n"
                                  "performance counter with its percentiles, how the time service steers\n"
                                  "the system time against the counter (frequency offset, per segment\n"
                                  "too; Allan and Hadamard deviations with their 68 % intervals, MTIE),\n"
                                  "and the time adjustment.\n"
                                  "\n"
                                  "  LOG                 a log file written by tickwatch -o or -l; - reads\n"
                                  "                      standard input\n"
                                  "  --json              print the summary as JSON instead of text\n"
                                  "  --csv FILE          also write one row per sample to FILE; - writes them\n"
                                  "                      to standard output, and the summary to standard error\n"
                                  "  --svg FILE          also draw the chart of the log into FILE\n"
                                  "  --html FILE         also write the report, tables and charts, as one page\n"
                                  "  --metrics FILE      also write the figures as Prometheus metrics, for the\n"
                                  "                      textfile collector of node_exporter or windows_exporter\n"
                                  "  --from TIME         leave out the samples before TIME, UTC, written\n"
                                  "                      2024-03-05T13:39:00 or as the log has it, to the\n"
                                  "                      minute, the day or a fraction of the second\n"
                                  "  --to TIME           leave out the samples after TIME (its whole second,\n"
                                  "                      minute or day), likewise; a run\n"
                                  "                      is cut at either edge, and the lines left out are\n"
                                  "                      counted as outside the window\n"
                                  "  --follow            after reading the LOGs, keep reading the last one as it\n"
                                  "                      grows, also when it is renamed and a new one takes its\n"
                                  "                      name, until Ctrl+C; at each interval print a status line\n"
                                  "                      and rewrite the --svg, --html and --metrics files; --csv\n"
                                  "                      gets its rows as they come\n"
                                  "  --interval SECONDS  between the status lines of --follow (1 to 86400,\n"
                                  "                      default 10)\n"
                                  "  --                  every argument after this is a LOG\n"
                                  "  -h, --help          show this text\n"
                                  "  --version           show the version\n"
                                  "\n"
                                  "Outputs are written through a temporary file beside them, and replace an\n"
                                  "existing file only when the run succeeds; one that is a LOG is refused.\n"
                                  "\n"
                                  "Exit status: 0 when done, 2 on a usage error or a file that cannot be read\n"
                                  "or written, or a LOG without a single report line. With --follow,\n"
                                  "Ctrl+C ends it: it writes the outputs, prints the summary, and exits 0.\n"
                                  "Without it, Ctrl+C ends the run with status 2 and writes no output.\n";

namespace {

char last_usage_error[256];

bool usage_error(const char *what, const char *argument) {
    std::snprintf(last_usage_error, sizeof last_usage_error, "%s%s", what, argument);
    std::fprintf(stderr, "tickwatch-analyze: %s\nTry 'tickwatch-analyze --help'.\n",
                 terminal_text(last_usage_error).c_str());
    return false;
}

// --warn-NAME or --crit-NAME and its range: false, reported, if either is
// wrong.
bool parse_threshold(const char *option, const char *text, CheckThresholds &thresholds) {
    const bool warning = std::strncmp(option, "--warn-", 7) == 0;
    Finding finding = Finding::steps;
    if (!finding_of_name(option + 7, finding)) {
        return usage_error("unknown option ", option);
    }
    ThresholdRange &range = (warning ? thresholds.warning : thresholds.critical)[static_cast<int>(finding)];
    if (text == nullptr) {
        return usage_error("a range must follow ", option);
    }
    if (std::strcmp(text, "none") == 0) {
        range = ThresholdRange{};
        return true;
    }
    if (!parse_range(text, range)) {
        char what[96];
        std::snprintf(what, sizeof what, "%s takes a range as 10, 10:, ~:10, 5:10 or @5:10, not ", option);
        return usage_error(what, text);
    }
    return true;
}

// A whole number of seconds in range, or false.
bool parse_interval(const char *text, int &seconds) {
    if (*text < '0' || *text > '9') {
        return false;
    }
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > MAX_INTERVAL_SECONDS) {
        return false;
    }
    seconds = static_cast<int>(value);
    return true;
}

}  // namespace

bool csv_to_standard_output(const AnalyzeOptions &options) {
    return options.csv_file != nullptr && std::strcmp(options.csv_file, "-") == 0;
}

bool parse_options(int argc, char **argv, AnalyzeOptions &options) {
    options = AnalyzeOptions{};
    options.interval_seconds = DEFAULT_INTERVAL_SECONDS;
    bool interval_given = false;
    bool threshold_given = false;
    options.thresholds = default_thresholds();
    // The logs are moved to the front of argv, in their order.
    options.logs = argv + 1;
    bool only_logs = false;
    for (int i = 1; i < argc; ++i) {
        char *argument = argv[i];
        const bool is_option = !only_logs && argument[0] == '-' && argument[1] != '\0';
        if (!is_option) {
            options.logs[options.log_count++] = argument;
        } else if (std::strcmp(argument, "--") == 0) {
            only_logs = true;
        } else if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0) {
            options.show_help = true;
        } else if (std::strcmp(argument, "--version") == 0) {
            options.show_version = true;
        } else if (std::strcmp(argument, "--json") == 0) {
            options.json = true;
        } else if (std::strcmp(argument, "--csv") == 0 || std::strcmp(argument, "--svg") == 0 ||
                   std::strcmp(argument, "--html") == 0) {
            if (i + 1 == argc) {
                return usage_error("a file name must follow ", argument);
            }
            const char *&file = argument[2] == 'c'   ? options.csv_file
                                : argument[2] == 's' ? options.svg_file
                                                     : options.html_file;
            file = argv[++i];
        } else if (std::strcmp(argument, "--metrics") == 0) {
            if (i + 1 == argc) {
                return usage_error("a file name must follow ", argument);
            }
            options.metrics_file = argv[++i];
        } else if (std::strcmp(argument, "--from") == 0 || std::strcmp(argument, "--to") == 0) {
            if (i + 1 == argc) {
                return usage_error("a UTC time must follow ", argument);
            }
            const bool from = argument[2] == 'f';
            int64_t &edge = from ? options.window.from_ms : options.window.to_ms;
            if (!parse_window_time(argv[++i], from ? WindowEdge::first : WindowEdge::last, edge)) {
                char what[96];
                std::snprintf(what, sizeof what,
                              "%s takes a UTC time as 2024-03-05T13:39:00 (or to the minute, or a day), not ",
                              argument);
                return usage_error(what, argv[i]);
            }
            (from ? options.window.has_from : options.window.has_to) = true;
        } else if (std::strcmp(argument, "--check") == 0) {
            options.check = true;
        } else if (std::strncmp(argument, "--warn-", 7) == 0 || std::strncmp(argument, "--crit-", 7) == 0) {
            if (!parse_threshold(argument, i + 1 < argc ? argv[i + 1] : nullptr, options.thresholds)) {
                return false;
            }
            ++i;
            threshold_given = true;
        } else if (std::strcmp(argument, "--follow") == 0) {
            options.follow = true;
        } else if (std::strcmp(argument, "--interval") == 0) {
            if (i + 1 == argc) {
                return usage_error("a number of seconds must follow ", argument);
            }
            if (!parse_interval(argv[++i], options.interval_seconds)) {
                return usage_error("--interval takes whole seconds from 1 to 86400, not ", argv[i]);
            }
            interval_given = true;
        } else {
            return usage_error("unknown option ", argument);
        }
    }
    if (options.show_help || options.show_version) {
        return true;
    }
    if (options.log_count == 0) {
        return usage_error("no log file named", "");
    }
    if (options.window.has_from && options.window.has_to && options.window.from_ms > options.window.to_ms) {
        return usage_error("--from is later than --to: the window holds no time", "");
    }
    if (interval_given && !options.follow) {
        return usage_error("--interval is for --follow", "");
    }
    if (threshold_given && !options.check) {
        return usage_error("the --warn- and --crit- ranges are for --check", "");
    }
    if (options.check && (options.json || options.follow)) {
        return usage_error("--check prints one line of its own, not with ", options.json ? "--json" : "--follow");
    }
    if (options.check && csv_to_standard_output(options)) {
        return usage_error("--check prints one line of its own on standard output, not with --csv -", "");
    }
    if (options.json && csv_to_standard_output(options)) {
        return usage_error("--csv - and --json would both write to standard output", "");
    }
    if (options.follow && std::strcmp(options.logs[options.log_count - 1], "-") == 0) {
        return usage_error("--follow follows a file by its name, not standard input", "");
    }
    return true;
}

const char *usage_error_text() { return last_usage_error; }

bool asks_for_check(int argc, char **argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            return true;
        }
    }
    return false;
}
