// The sampling loop: one clock sample and one report line a second.
#pragma once

#include <cstdint>

#include "clock/report_line.h"
#include "platform/platform.h"

constexpr uint32_t SAMPLE_PERIOD_MS = 1000;

// The function that reads the system time; chosen before the loop starts.
extern SystemTimeFunction time_function;

// Reads the system time and the performance counter back to back, the
// counter first when run_settings.sample_counter_first is set.
void read_clock_sample(ClockSample &sample);

// Creates a periodic timer that is signalled at once and then every
// SAMPLE_PERIOD_MS, and takes that first signal, so that the next wait lasts
// a full period. Returns nullptr when the system gives no such timer.
Handle start_period_timer();

// Waits for the next pass: for the timer, or a period's sleep without one.
void wait_for_next_pass(Handle timer);

// Reads the time adjustment and prints the report line for the interval
// between two samples.
void report_interval(const ClockSample &previous, const ClockSample &current, int64_t frequency);

// Prints a report line every SAMPLE_PERIOD_MS until the process ends.
[[noreturn]] void run_sampling_loop(int64_t frequency);
