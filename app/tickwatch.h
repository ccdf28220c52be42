// Start-up and the end of the process.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Prints the banner, checks the performance counter, installs the console
// control handler, takes the command line, and runs the sampling loop.
// Never returns: the process ends through exit.
[[noreturn]] void run_tickwatch(int argc, char **argv);

// Ends the process with status 0 on Ctrl+C, Ctrl+Break, console close and
// shutdown; leaves any other event to the next handler (returns FALSE).
int PLATFORM_CALL console_control_handler(uint32_t control_type);
