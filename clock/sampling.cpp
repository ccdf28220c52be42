#include "clock/sampling.h"

#include "app/run_settings.h"
#include "output/output.h"

SystemTimeFunction time_function = platform::GetSystemTimeAsFileTime;

void read_clock_sample(ClockSample &sample) {
    // Nothing may come between the two reads: their distance is noise in
    // every difference the loop reports.
    if (run_settings.sample_counter_first) {
        platform::QueryPerformanceCounter(&sample.counter);
        time_function(&sample.system_time);
    } else {
        time_function(&sample.system_time);
        platform::QueryPerformanceCounter(&sample.counter);
    }
}

Handle start_period_timer() {
    Handle timer = platform::CreateWaitableTimerA(false);  // auto-reset
    if (timer == nullptr) {
        return nullptr;
    }
    // Due time 0 is an absolute time long past.
    if (!platform::SetWaitableTimer(timer, 0, SAMPLE_PERIOD_MS, false)) {
        return nullptr;
    }
    platform::WaitForSingleObject(timer, INFINITE_WAIT);
    return timer;
}

void wait_for_next_pass(Handle timer) {
    // A timer that cannot be had or waited for would let the loop spin,
    // flooding the console and the log: sleep a period instead.
    if (timer == nullptr || platform::WaitForSingleObject(timer, INFINITE_WAIT) != WAIT_SIGNALLED) {
        platform::Sleep(SAMPLE_PERIOD_MS);
    }
}

void report_interval(const ClockSample &previous, const ClockSample &current, int64_t frequency) {
    // Zeroes, not stale or uninitialised values, if a call fails.
    uint32_t adjustment = 0;
    uint32_t increment = 0;
    bool adjustment_disabled = false;
    platform::GetSystemTimeAdjustment(&adjustment, &increment, &adjustment_disabled);
    SystemTime utc_time = {};
    platform::FileTimeToSystemTime(&current.system_time, &utc_time);

    IntervalReport report = compute_interval_report(previous, current, frequency, adjustment, increment);
    format_report_line(message_buffer, MESSAGE_BUFFER_SIZE, utc_time, report);
    print_message(message_buffer);
}

void run_sampling_loop(int64_t frequency) {
    ClockSample previous;
    ClockSample current;
    read_clock_sample(previous);

    Handle timer = run_settings.use_sleep ? nullptr : start_period_timer();
    for (;;) {
        wait_for_next_pass(timer);
        read_clock_sample(current);
        report_interval(previous, current, frequency);
        previous = current;
    }
}
