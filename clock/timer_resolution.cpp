#include "clock/timer_resolution.h"

#include <cstdio>
#include <cstdlib>

#include "output/output.h"

TimerCaps timer_caps;
uint32_t timer_period = 0;

void raise_timer_resolution() {
    if (platform::timeGetDevCaps(&timer_caps, sizeof timer_caps) != TIMER_NO_ERROR) {
        std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, "Failed to get MM timer caps.");
    } else {
        uint32_t period = timer_caps.wPeriodMin > 1 ? timer_caps.wPeriodMin : 1;
        if (period >= timer_caps.wPeriodMax) {
            period = timer_caps.wPeriodMax;
        }
        timer_period = period;
        // Ctrl+C ends the process through exit_between_lines, which takes
        // the output lock: holding it here keeps the process from ending
        // with the period raised but its release not yet registered.
        platform::lock_output();
        platform::timeBeginPeriod(timer_period);
        std::atexit(release_timer_period);
        platform::unlock_output();
        std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, "MM timer resolution: %u..%u ms, set to %u ms",
                      timer_caps.wPeriodMin, timer_caps.wPeriodMax, timer_period);
    }
    print_message(message_buffer);
}

void release_timer_period() {
    if (timer_period != 0) {
        platform::timeEndPeriod(timer_period);
        timer_period = 0;
    }
}
