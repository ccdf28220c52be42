// Which function reads the system time: the precise one where the system
// has it and the user asked for it with -p, otherwise the default.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// GetSystemTimePreciseAsFileTime, where the system has it; none otherwise.
extern SystemTimeFunction precise_time_function;

// Looks GetSystemTimePreciseAsFileTime up in kernel32.dll at run time (not
// every system has it, so it is never imported). Returns 0 and stores its
// address in *out (when out is given) if found; otherwise stores none and
// returns the system's error code.
uint32_t find_precise_time_function(SystemTimeFunction *out);

// Sets time_function for the sampling loop and says what it chose.
void choose_time_function();
