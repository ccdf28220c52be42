#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "app/run_settings.h"
#include "clock/log_format.h"
#include "output/output.h"

const char *const USAGE_TEXT = "\nusage:\n\ntickwatch [options]\n\nwith the optional parameters:\n\n"
                               "  -l        Log output to a file nnnnnnnn.txt, where\n"
                               "            nnnnnnnn is a hexadecimal representation of\n"
                               "            the current time in seconds since 1970\n\n"
                               "  -o fname  Log output to file named fname\n\n"
                               "  -m        Set Windows multimedia timers to highest resolution\n"
                               "            while running\n"
                               "  -q        Sample QueryPerformanceCounter before time\n"
                               "  -s        Use Sleep() instead of CreateWaitableTimer()\n"
                               "  -p        Use GetSystemTimePreciseAsFileTime() if supported\n\n";

static void report_unknown_parameter(const char *argument) {
    // Show as much of the argument as the buffer holds, and the line break.
    static const char prefix[] = LOG_UNKNOWN_PARAMETER_PREFIX;
    const int room = static_cast<int>(MESSAGE_BUFFER_SIZE - (sizeof prefix - 1) - sizeof "\n");
    std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, LOG_UNKNOWN_PARAMETER_PREFIX "%.*s\n", room, argument);
    print_message(message_buffer);
}

void parse_command_line(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "-?") == 0 || std::strcmp(argument, "-h") == 0) {
            run_settings.show_usage = true;
        } else if (std::strcmp(argument, "-o") == 0) {
            if (i + 1 < argc) {
                name_log_file(argv[++i]);  // whatever it looks like
            } else {
                run_settings.show_usage = true;
            }
        } else if (std::strcmp(argument, "-l") == 0) {
            generate_log_file_name();
        } else if (std::strcmp(argument, "-m") == 0) {
            run_settings.use_mm_timer = true;
        } else if (std::strcmp(argument, "-p") == 0) {
            run_settings.use_precise_time = true;
        } else if (std::strcmp(argument, "-q") == 0) {
            run_settings.sample_counter_first = true;
        } else if (std::strcmp(argument, "-s") == 0) {
            run_settings.use_sleep = true;
        } else {
            report_unknown_parameter(argument);
            run_settings.show_usage = true;
        }
    }
}
