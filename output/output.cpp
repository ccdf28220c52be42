#include "output/output.h"

#include <cstdio>
#include <cstdlib>

#include "app/run_settings.h"
#include "platform/platform.h"

char message_buffer[MESSAGE_BUFFER_SIZE];

// Callers hold the output lock.
static void append_line_to_log(const char *text) {
    if (run_settings.log_file_name == nullptr) {
        return;
    }
    // A line that cannot be written is left out; the next one tries again.
    platform::AppendLineToFileA(run_settings.log_file_name, text);
}

void print_message(const char *text) {
    platform::lock_output();
    std::printf("%s\n", text);
    // A pipe or a file gets full buffers from the run-time; flush so that
    // each line is there as soon as it is written.
    std::fflush(stdout);
    append_line_to_log(text);
    platform::unlock_output();
}

void append_to_log(const char *text) {
    platform::lock_output();
    append_line_to_log(text);
    platform::unlock_output();
}

void exit_between_lines(int status) {
    // The lock stays taken: the exit actions run with it held (one of them
    // releases the log file name), and no line starts after them.
    platform::lock_output();
    std::exit(status);
}
