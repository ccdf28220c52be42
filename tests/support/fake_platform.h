// A scriptable stand-in for the platform layer: the unit tests set what the
// system answers and read back what the program asked of it.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/version.h"
#include "platform/platform.h"

struct FakeClockReading {
    uint64_t system_time;  // 100-ns units since 1601
    int64_t counter;
};

enum class FakeVersionResource { absent, unreadable, without_root_block, present };

struct FakePlatform {
    // Start-up.
    int64_t frequency = 10'000'000;
    bool frequency_fails = false;
    bool handler_registration_fails = false;
    ConsoleControlHandler handler = nullptr;  // as registered by the program

    // The program's own file and its version resource.
    std::string module_path = "C:\\Program Files\\tickwatch\\tickwatch.exe";
    bool module_path_fails = false;
    FakeVersionResource version_resource = FakeVersionResource::present;
    uint32_t product_version_ms = TICKWATCH_VERSION_MAJOR << 16 | TICKWATCH_VERSION_MINOR;  // the built-in one
    uint32_t product_version_ls = 0;

    // Run-time services.
    int64_t now = 1337780340;  // seconds since 1970
    bool allocation_fails = false;
    int live_allocations = 0;

    // Clock readings, taken in turn by the system-time and the counter reads;
    // once every reading has been taken, the next wait of the sampling loop
    // delivers Ctrl+C to the registered handler.
    std::vector<FakeClockReading> readings;
    // Or, for runs too long to script, generated_readings readings made as
    // they are taken: the n-th (from 0) is first_reading + n * reading_step.
    size_t generated_readings = 0;
    FakeClockReading first_reading = {};
    FakeClockReading reading_step = {};
    size_t system_time_reads = 0;
    size_t counter_reads = 0;

    uint32_t adjustment = 156250;
    uint32_t increment = 156250;
    bool adjustment_fails = false;
    bool calendar_fails = false;

    // GetSystemTimePreciseAsFileTime: whether kernel32.dll loads, whether it
    // has the function, and the error code the lookup leaves behind.
    bool library_load_fails = false;
    bool has_precise_time = true;
    uint32_t last_error = 127;  // ERROR_PROC_NOT_FOUND

    // The multimedia timer device.
    TimerCaps timer_caps = {1, 1000000};
    uint32_t timer_caps_result = TIMER_NO_ERROR;

    bool timer_creation_fails = false;
    bool timer_setting_fails = false;
    uint32_t wait_result = WAIT_SIGNALLED;

    // Every call, in order, as "Name(arguments)"; also written, line by line,
    // to trace_fd when that is open (for runs in a child process). Nothing is
    // recorded, not even to trace_fd, while record_calls is false.
    std::vector<std::string> calls;
    int trace_fd = -1;
    bool record_calls = true;

    // Called at the start of every call with its bare name, and with
    // "lock_output" and "unlock_output" while the program holds the lock.
    void (*at_call)(const char *name) = nullptr;

    // The user pressing a key or closing the console while the program runs:
    // at the interrupt_occurrence-th call named interrupt_call ("*" for any,
    // counted from the handler's registration), interrupt_threads threads of
    // their own call the registered handler with interrupt_event. The call
    // goes on once each handler has reached the output lock (holding it, or
    // waiting for the line the program is in the middle of), has returned, or
    // after a tenth of a second, so the handler and the program then run side
    // by side. Recorded as "interrupt" in the calls.
    const char *interrupt_call = nullptr;
    size_t interrupt_occurrence = 1;
    uint32_t interrupt_event = CTRL_C_EVENT;
    int interrupt_threads = 1;
    size_t interrupt_calls_seen = 0;

    // When set, a handler's wait for the line in progress
    // (lock_output_within) lasts this long at most, whatever it asks for,
    // and is recorded with what it asked for: "lock_output_within(ms)". A
    // test of a line that never ends need not spend the program's whole wait.
    uint32_t longest_output_wait_ms = 0;
};

// Never destroyed: a handler that ends the process from another thread runs
// the exit-time destructors while the program's thread still calls the fake.
extern FakePlatform &fake;

// The system delivering a console control event: calls the registered
// handler with it on a thread of its own, and returns that thread once the
// handler has come to the output lock (waiting for it or holding it) or has
// returned.
std::thread deliver_console_event(uint32_t event);

// Reads the next scripted system time, as GetSystemTimePreciseAsFileTime.
void PLATFORM_CALL fake_precise_time(FileTime *time);

// A fresh fake and fresh program state (settings, time function, output).
void reset_fake();

// Readings one interval apart: system_ms and counter_ms of advance each, at
// 10 MHz, starting at 2024-03-05 13:38:59.000 UTC.
std::vector<FakeClockReading> steady_readings(size_t count, double system_ms = 1000.0, double counter_ms = 1000.0);
