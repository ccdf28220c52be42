// Start-up and the end of the process.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Prints the banner, checks the performance counter, installs the console
// control handler, takes the command line, and runs the sampling loop.
// Never returns: the process ends through exit.
[[noreturn]] void run_tickwatch(int argc, char **argv);

// How long a console control event waits for the line in progress.
constexpr uint32_t LINE_IN_PROGRESS_WAIT_MS = 2000;

// Ends the process with status 0 on Ctrl+C, Ctrl+Break, console close and
// shutdown: through exit, between two lines, once the line in progress is
// done; if it is not done within LINE_IN_PROGRESS_WAIT_MS, with the timer
// period withdrawn but without exit, which would wait for the same output.
// Leaves any other event to the next handler (returns FALSE).
int PLATFORM_CALL console_control_handler(uint32_t control_type);
