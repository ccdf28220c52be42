#include "clock/timer_resolution.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "clock/log_format.h"
#include "output/output.h"

TimerCaps timer_caps;
uint32_t timer_period = 0;

// A console control event that ends the process without the output lock
// withdraws the period from its own thread while the main thread may still
// run: each says what it is about before it looks at what the other is about.
static std::atomic<bool> raising_period{false};
static std::atomic<bool> period_withdrawn_for_good{false};

void raise_timer_resolution() {
    if (platform::timeGetDevCaps(&timer_caps, sizeof timer_caps) != TIMER_NO_ERROR) {
        std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, LOG_TIMER_CAPS_FAILED);
    } else {
        uint32_t period = timer_caps.wPeriodMin > 1 ? timer_caps.wPeriodMin : 1;
        if (period >= timer_caps.wPeriodMax) {
            period = timer_caps.wPeriodMax;
        }
        // Under the output lock, which a console control event holds from
        // the exit actions to the end of the process: the period and its
        // exit action are in place before those run, or never.
        platform::lock_output();
        raising_period = true;
        if (!period_withdrawn_for_good) {
            timer_period = period;
            platform::timeBeginPeriod(timer_period);
            std::atexit(release_timer_period);
        }
        raising_period = false;
        std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, LOG_TIMER_RESOLUTION_FORMAT, timer_caps.wPeriodMin,
                      timer_caps.wPeriodMax, period);
        platform::unlock_output();
    }
    print_message(message_buffer);
}

void withdraw_timer_period_for_good() {
    period_withdrawn_for_good = true;
    while (raising_period) {
        platform::Sleep(1);  // timeBeginPeriod and registering the exit action: a moment
    }
    release_timer_period();
}

void release_timer_period() {
    if (timer_period != 0) {
        platform::timeEndPeriod(timer_period);
        timer_period = 0;
    }
}
