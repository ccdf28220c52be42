#include "app/tickwatch.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/run_settings.h"
#include "app/version.h"
#include "clock/log_format.h"
#include "clock/sampling.h"
#include "clock/time_source.h"
#include "clock/timer_resolution.h"
#include "output/output.h"

// Set by the first handler that goes on to end the process.
static std::atomic<bool> ending{false};

[[noreturn]] static void end_for_console_event() {
    const bool line_finished = platform::lock_output_within(LINE_IN_PROGRESS_WAIT_MS);
    if (ending.exchange(true)) {
        // Another event's handler ends the process already.
        for (;;) {
            platform::Sleep(INFINITE_WAIT);
        }
    }
    if (line_finished) {
        std::exit(0);  // the lock stays taken, as in exit_between_lines
    }
    // The line in progress does not end: standard output takes no more (a
    // pipe nobody reads, a console with a selection in it). exit would flush
    // standard output and wait on the same write, so withdraw the timer
    // period here and end without it. The log-file name, which the main
    // thread may still be using, goes with the process.
    withdraw_timer_period_for_good();
    platform::TerminateProcess(0);
}

int PLATFORM_CALL console_control_handler(uint32_t control_type) {
    switch (control_type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        end_for_console_event();
    default:
        return 0;
    }
}

void run_tickwatch(int argc, char **argv) {
    char banner_buffer[80];
    std::snprintf(banner_buffer, sizeof banner_buffer, LOG_BANNER_FORMAT, get_version_string(message_buffer));
    std::printf("\n%s\n", banner_buffer);
    std::fflush(stdout);

    int64_t frequency = 0;
    // A zero frequency would make every counter delta meaningless.
    if (!platform::QueryPerformanceFrequency(&frequency) || frequency <= 0) {
        print_message(LOG_NO_COUNTER_FREQUENCY);
        exit_between_lines(1);
    }
    if (!platform::SetConsoleCtrlHandler(console_control_handler, true)) {
        print_message(LOG_NO_CONTROL_HANDLER);
        exit_between_lines(1);
    }

    parse_command_line(argc, argv);
    if (run_settings.show_usage) {
        std::printf("%s", USAGE_TEXT);
        exit_between_lines(1);
    }
    append_to_log(banner_buffer);

    choose_time_function();
    if (run_settings.use_mm_timer) {
        raise_timer_resolution();
    }
    print_message("");
    run_sampling_loop(frequency);
}
