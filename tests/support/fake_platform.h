// A scriptable stand-in for the platform layer: the unit tests set what the
// system answers and read back what the program asked of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
    uint32_t product_version_ms = 0x00010006;  // 1.6
    uint32_t product_version_ls = 0;

    // Run-time services.
    int64_t now = 1337780340;  // seconds since 1970
    bool allocation_fails = false;
    int live_allocations = 0;

    // Clock readings, taken in turn by the system-time and the counter reads;
    // once every reading has been taken, the next wait of the sampling loop
    // delivers Ctrl+C to the registered handler.
    std::vector<FakeClockReading> readings;
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

    // The multimedia timer device; timeBeginPeriod runs the hook, if any.
    TimerCaps timer_caps = {1, 1000000};
    uint32_t timer_caps_result = TIMER_NO_ERROR;
    std::function<void()> while_raising_timer_period;

    bool timer_creation_fails = false;
    bool timer_setting_fails = false;
    uint32_t wait_result = WAIT_SIGNALLED;

    // Every call, in order, as "Name(arguments)"; also written, line by line,
    // to trace_fd when that is open (for runs in a child process).
    std::vector<std::string> calls;
    int trace_fd = -1;
};

extern FakePlatform fake;

// Reads the next scripted system time, as GetSystemTimePreciseAsFileTime.
void PLATFORM_CALL fake_precise_time(FileTime *time);

// A fresh fake and fresh program state (settings, time function, output).
void reset_fake();

// Readings one interval apart: system_ms and counter_ms of advance each, at
// 10 MHz, starting at 2024-03-05 13:38:59.000 UTC.
std::vector<FakeClockReading> steady_readings(size_t count, double system_ms = 1000.0, double counter_ms = 1000.0);

constexpr uint64_t FILE_TIME_1970 = 116444736000000000ULL;  // 1970-01-01 in 100-ns units since 1601
