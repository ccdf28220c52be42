// The multimedia-timer resolution, raised with -m for as long as tickwatch
// runs.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The timer device's shortest and longest period, as last queried.
extern TimerCaps timer_caps;

// The period set with timeBeginPeriod, in ms; 0 while none is in force.
extern uint32_t timer_period;

// Sets the finest period the timer device offers, registers
// release_timer_period as an exit action, and says what it set (or that
// the device could not be queried).
void raise_timer_resolution();

// Exit action: withdraws the period that raise_timer_resolution set.
void release_timer_period();

// Withdraws the period from a thread that ends the process without the
// output lock, while the main thread may go on: waits for a period being
// raised, and keeps raise_timer_resolution from raising one afterwards.
void withdraw_timer_period_for_good();
