#include "analyze/options.h"

#include <cstdio>
#include <cstring>

const char *const ANALYZE_USAGE = "usage: tickwatch-analyze [options] LOG...\n"
                                  "\n"
                                  "Summarises tickwatch log files: per run and in total, the samples and\n"
                                  "the missing ones, the steps, the difference between system time and\n"
                                  "performance counter, the clock's rate and the time adjustment.\n"
                                  "\n"
                                  "  LOG         a log file written by tickwatch -o or -l; - reads standard input\n"
                                  "  --csv FILE  also write one row per sample to FILE\n"
                                  "  --svg FILE  also draw the chart of the log into FILE\n"
                                  "  --html FILE also write the report, tables and charts, as one page to FILE\n"
                                  "  --json      print the summary as JSON instead of text\n"
                                  "  --          every argument after this is a LOG\n"
                                  "  -h, --help  show this text\n"
                                  "  --version   show the version\n"
                                  "\n"
                                  "Exit status: 0 when done, 2 on a usage error or a file that cannot be read\n"
                                  "or written, or a LOG without a single report line.\n";

static bool usage_error(const char *what, const char *argument) {
    std::fprintf(stderr, "tickwatch-analyze: %s%s\nTry 'tickwatch-analyze --help'.\n", what, argument);
    return false;
}

bool parse_options(int argc, char **argv, AnalyzeOptions &options) {
    options = AnalyzeOptions{};
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
        } else {
            return usage_error("unknown option ", argument);
        }
    }
    if (!options.show_help && !options.show_version && options.log_count == 0) {
        return usage_error("no log file named", "");
    }
    return true;
}
