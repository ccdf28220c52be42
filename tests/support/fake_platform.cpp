#include "tests/support/fake_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/run_settings.h"
#include "clock/sampling.h"
#include "clock/time_source.h"
#include "clock/timer_resolution.h"
#include "tests/support/child_process.h"

FakePlatform &fake = *new FakePlatform;

#ifndef O_BINARY
#define O_BINARY 0  // POSIX writes every file's bytes as they are
#endif

// The program's thread and the threads that call its console control
// handler both record calls.
static std::mutex record_lock;

static void record(const std::string &call) {
    if (!fake.record_calls) {
        return;
    }
    std::lock_guard<std::mutex> hold(record_lock);
    fake.calls.push_back(call);
    if (fake.trace_fd >= 0) {
        std::string line = call + "\n";
        // (A call's line is short: its size fits the unsigned count Windows takes.)
        if (write(fake.trace_fd, line.data(), static_cast<unsigned>(line.size())) < 0) {
            std::abort();
        }
    }
}

// What the threads that deliver a console control event have come to.
static thread_local bool on_control_thread = false;
static std::atomic<int> handlers_at_output_lock{0};
static std::atomic<bool> handler_holds_output_lock{false};
static std::atomic<int> handlers_returned{0};
static std::atomic<int> handlers_come_to_output_lock{0};  // never counts down
static bool program_holds_output_lock = false;

static void interrupt_if_due(const char *name) {
    if (fake.interrupt_call == nullptr || fake.handler == nullptr || on_control_thread ||
        (std::strcmp(fake.interrupt_call, "*") != 0 && std::strcmp(fake.interrupt_call, name) != 0) ||
        ++fake.interrupt_calls_seen != fake.interrupt_occurrence) {
        return;
    }
    record("interrupt");
    const int threads = fake.interrupt_threads;
    for (int i = 0; i < threads; ++i) {
        std::thread([] {
            on_control_thread = true;
            fake.handler(fake.interrupt_event);
            ++handlers_returned;
        }).detach();
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < give_up) {
        const int returned = handlers_returned;
        if (returned == threads || (handlers_at_output_lock + returned == threads &&
                                    (program_holds_output_lock || handler_holds_output_lock))) {
            break;
        }
        std::this_thread::yield();
    }
}

// Every call starts here: a moment for a test to act at. Says whether to
// record the call, so that its text is only made when it is.
static bool reached(const char *name) {
    if (fake.at_call != nullptr) {
        fake.at_call(name);
    }
    interrupt_if_due(name);
    return fake.record_calls;
}

static std::string number(uint64_t value) { return std::to_string(value); }

void reset_fake() {
    fake = FakePlatform{};
    handlers_come_to_output_lock = 0;
    handlers_at_output_lock = 0;
    handler_holds_output_lock = false;
    handlers_returned = 0;
    program_holds_output_lock = false;
    run_settings = RunSettings{};
    time_function = platform::GetSystemTimeAsFileTime;
    precise_time_function = nullptr;
    timer_period = 0;
}

std::thread deliver_console_event(uint32_t event) {
    const int before = handlers_come_to_output_lock + handlers_returned;
    std::thread control_thread([event] {
        on_control_thread = true;
        fake.handler(event);
        ++handlers_returned;
    });
    while (handlers_come_to_output_lock + handlers_returned == before) {
        std::this_thread::yield();
    }
    return control_thread;
}

std::vector<FakeClockReading> steady_readings(size_t count, double system_ms, double counter_ms) {
    // 2024-03-05 13:38:59 UTC
    const uint64_t start = FILE_TIME_1970 + 1709645939ULL * 10'000'000ULL;
    std::vector<FakeClockReading> readings;
    for (size_t i = 0; i < count; ++i) {
        auto n = static_cast<double>(i);
        readings.push_back({start + static_cast<uint64_t>(std::llround(n * system_ms * 10'000.0)),
                            1'000'000'000LL + std::llround(n * counter_ms * 10'000.0)});
    }
    return readings;
}

static size_t readings_count() { return fake.generated_readings > 0 ? fake.generated_readings : fake.readings.size(); }

static FakeClockReading next_reading(size_t &reads) {
    if (fake.generated_readings > 0) {
        const size_t n = reads < fake.generated_readings ? reads : fake.generated_readings - 1;
        ++reads;
        return {fake.first_reading.system_time + n * fake.reading_step.system_time,
                fake.first_reading.counter + static_cast<int64_t>(n) * fake.reading_step.counter};
    }
    if (fake.readings.empty()) {
        static const FakeClockReading none = {};
        ++reads;
        return none;
    }
    size_t index = reads < fake.readings.size() ? reads : fake.readings.size() - 1;
    ++reads;
    return fake.readings[index];
}

// A wait of the sampling loop. It returns at once, but lasts, as a real one
// of a second would, until a handler that waits for the output lock has it.
// Once every reading is taken, the user presses Ctrl+C.
static void end_of_script_check() {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (handlers_at_output_lock > 0 && !handler_holds_output_lock && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::yield();
    }
    if (fake.system_time_reads < readings_count()) {
        return;
    }
    if (fake.handler == nullptr) {
        record("no console control handler to deliver Ctrl+C to");
        _exit(97);
    }
    record("Ctrl+C");
    fake.handler(CTRL_C_EVENT);
}

static void read_system_time(FileTime *time) {
    uint64_t ticks = next_reading(fake.system_time_reads).system_time;
    time->dwLowDateTime = static_cast<uint32_t>(ticks);
    time->dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
}

void PLATFORM_CALL fake_precise_time(FileTime *time) {
    if (reached("GetSystemTimePreciseAsFileTime")) {
        record("GetSystemTimePreciseAsFileTime");
    }
    read_system_time(time);
}

static char fake_kernel32;

namespace platform {

uint32_t GetModuleFileNameA(char *path, uint32_t size) {
    if (reached("GetModuleFileNameA")) {
        record("GetModuleFileNameA(" + number(size) + ")");
    }
    if (fake.module_path_fails) {
        return 0;
    }
    // As on Windows: cut short to the buffer, and the full size returned.
    std::snprintf(path, size, "%s", fake.module_path.c_str());
    return fake.module_path.size() < size ? static_cast<uint32_t>(fake.module_path.size()) : size;
}

constexpr uint32_t FAKE_RESOURCE_SIZE = 0x2A0;

uint32_t GetFileVersionInfoSizeA(const char *path) {
    if (reached("GetFileVersionInfoSizeA")) {
        record(std::string("GetFileVersionInfoSizeA(") + path + ")");
    }
    return fake.version_resource == FakeVersionResource::absent ? 0 : FAKE_RESOURCE_SIZE;
}

bool GetFileVersionInfoA(const char *path, uint32_t size, void *block) {
    if (reached("GetFileVersionInfoA")) {
        record(std::string("GetFileVersionInfoA(") + path + ", " + number(size) + ")");
    }
    if (fake.version_resource == FakeVersionResource::unreadable || size < FAKE_RESOURCE_SIZE) {
        return false;
    }
    // The fixed record sits somewhere inside the block, as on Windows.
    std::memset(block, 0xCD, size);
    FixedFileInfo info = {};
    info.dwSignature = 0xFEEF04BD;
    info.dwFileVersionMS = 0x00090009;  // never shown: only the product version is
    info.dwProductVersionMS = fake.product_version_ms;
    info.dwProductVersionLS = fake.product_version_ls;
    std::memcpy(static_cast<char *>(block) + 40, &info, sizeof info);
    return true;
}

bool VerQueryValueA(const void *block, const char *sub_block, void **value, uint32_t *length) {
    if (reached("VerQueryValueA")) {
        record(std::string("VerQueryValueA(") + sub_block + ")");
    }
    if (fake.version_resource != FakeVersionResource::present || std::strcmp(sub_block, "\\") != 0) {
        return false;
    }
    *value = static_cast<char *>(const_cast<void *>(block)) + 40;
    *length = sizeof(FixedFileInfo);
    return true;
}

bool QueryPerformanceFrequency(int64_t *frequency) {
    if (reached("QueryPerformanceFrequency")) {
        record("QueryPerformanceFrequency");
    }
    if (fake.frequency_fails) {
        return false;
    }
    *frequency = fake.frequency;
    return true;
}

bool SetConsoleCtrlHandler(ConsoleControlHandler handler, bool add) {
    if (reached("SetConsoleCtrlHandler")) {
        record(std::string("SetConsoleCtrlHandler(") + (add ? "add" : "remove") + ")");
    }
    if (fake.handler_registration_fails) {
        return false;
    }
    fake.handler = handler;
    return true;
}

void PLATFORM_CALL GetSystemTimeAsFileTime(FileTime *time) {
    if (reached("GetSystemTimeAsFileTime")) {
        record("GetSystemTimeAsFileTime");
    }
    read_system_time(time);
}

bool QueryPerformanceCounter(int64_t *count) {
    if (reached("QueryPerformanceCounter")) {
        record("QueryPerformanceCounter");
    }
    *count = next_reading(fake.counter_reads).counter;
    return true;
}

static char fake_timer;

Handle CreateWaitableTimerA(bool manual_reset) {
    if (reached("CreateWaitableTimerA")) {
        record(std::string("CreateWaitableTimerA(") + (manual_reset ? "manual reset" : "auto reset") + ")");
    }
    return fake.timer_creation_fails ? nullptr : &fake_timer;
}

bool SetWaitableTimer(Handle timer, int64_t due_time, int32_t period_ms, bool resume) {
    if (reached("SetWaitableTimer")) {
        record("SetWaitableTimer(" + std::string(timer == &fake_timer ? "timer" : "?") + ", " +
               std::to_string(due_time) + ", " + std::to_string(period_ms) + ", " + (resume ? "resume" : "no resume") +
               ")");
    }
    return !fake.timer_setting_fails;
}

uint32_t WaitForSingleObject(Handle object, uint32_t timeout_ms) {
    if (reached("WaitForSingleObject")) {
        record("WaitForSingleObject(" + std::string(object == &fake_timer ? "timer" : "?") + ", " +
               (timeout_ms == INFINITE_WAIT ? std::string("INFINITE") : number(timeout_ms)) + ")");
    }
    end_of_script_check();
    return fake.wait_result;
}

void Sleep(uint32_t ms) {
    if (reached("Sleep")) {
        record("Sleep(" + number(ms) + ")");
    }
    if (on_control_thread) {
        // A handler's sleep lasts (for ever, in effect, when INFINITE): only
        // the program's pacing is scripted.
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    end_of_script_check();
}

bool GetSystemTimeAdjustment(uint32_t *adjustment, uint32_t *increment, bool *adjustment_disabled) {
    if (reached("GetSystemTimeAdjustment")) {
        record("GetSystemTimeAdjustment");
    }
    if (fake.adjustment_fails) {
        return false;
    }
    *adjustment = fake.adjustment;
    *increment = fake.increment;
    *adjustment_disabled = false;
    return true;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
static void civil_from_days(int64_t days, int64_t &year, unsigned &month, unsigned &day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    year = static_cast<int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
}

bool FileTimeToSystemTime(const FileTime *file_time, SystemTime *system_time) {
    if (reached("FileTimeToSystemTime")) {
        record("FileTimeToSystemTime");
    }
    uint64_t ticks = (static_cast<uint64_t>(file_time->dwHighDateTime) << 32) | file_time->dwLowDateTime;
    if (fake.calendar_fails || ticks >= 0x8000000000000000ULL) {  // as Windows refuses those too
        return false;
    }
    const uint64_t ms_since_1601 = ticks / 10'000;
    const int64_t ms_since_1970 = static_cast<int64_t>(ms_since_1601) - static_cast<int64_t>(FILE_TIME_1970 / 10'000);
    int64_t days = ms_since_1970 / 86'400'000;
    int64_t ms_of_day = ms_since_1970 % 86'400'000;
    if (ms_of_day < 0) {
        ms_of_day += 86'400'000;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civil_from_days(days, year, month, day);
    system_time->wYear = static_cast<uint16_t>(year);
    system_time->wMonth = static_cast<uint16_t>(month);
    system_time->wDayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    system_time->wDay = static_cast<uint16_t>(day);
    system_time->wHour = static_cast<uint16_t>(ms_of_day / 3'600'000);
    system_time->wMinute = static_cast<uint16_t>(ms_of_day / 60'000 % 60);
    system_time->wSecond = static_cast<uint16_t>(ms_of_day / 1000 % 60);
    system_time->wMilliseconds = static_cast<uint16_t>(ms_of_day % 1000);
    return true;
}

bool AppendLineToFileA(const char *path, const char *text) {
    reached("AppendLineToFileA");  // not recorded: the file shows what it did
    // The same bytes in one write with O_APPEND, which appends atomically too.
    int file = open(path, O_WRONLY | O_APPEND | O_CREAT | O_BINARY, 0666);
    if (file < 0) {
        return false;
    }
    std::string line;
    for (const char *c = text; *c != '\0'; ++c) {
        line += *c == '\n' ? "\r\n" : std::string(1, *c);
    }
    line += "\r\n";
    // (A line's size fits the unsigned count Windows takes.)
    const bool written = write(file, line.data(), static_cast<unsigned>(line.size())) == static_cast<int>(line.size());
    close(file);
    return written;
}

ModuleHandle LoadLibraryA(const char *name) {
    if (reached("LoadLibraryA")) {
        record(std::string("LoadLibraryA(") + name + ")");
    }
    return fake.library_load_fails ? nullptr : &fake_kernel32;
}

ProcAddress GetProcAddress(ModuleHandle module, const char *name) {
    if (reached("GetProcAddress")) {
        record(std::string("GetProcAddress(") + (module == &fake_kernel32 ? "kernel32" : "?") + ", " + name + ")");
    }
    if (module != &fake_kernel32 || !fake.has_precise_time ||
        std::strcmp(name, "GetSystemTimePreciseAsFileTime") != 0) {
        return nullptr;
    }
    return reinterpret_cast<ProcAddress>(fake_precise_time);
}

uint32_t GetLastError() {
    if (reached("GetLastError")) {
        record("GetLastError");
    }
    return fake.last_error;
}

uint32_t timeGetDevCaps(TimerCaps *caps, uint32_t size) {
    if (reached("timeGetDevCaps")) {
        record("timeGetDevCaps(" + number(size) + ")");
    }
    if (fake.timer_caps_result == TIMER_NO_ERROR) {
        *caps = fake.timer_caps;
    }
    return fake.timer_caps_result;
}

uint32_t timeBeginPeriod(uint32_t period_ms) {
    if (reached("timeBeginPeriod")) {
        record("timeBeginPeriod(" + number(period_ms) + ")");
    }
    return 0;
}

uint32_t timeEndPeriod(uint32_t period_ms) {
    if (reached("timeEndPeriod")) {
        record("timeEndPeriod(" + number(period_ms) + ")");
    }
    return 0;
}

int64_t current_time() {
    if (reached("time")) {
        record("time");
    }
    return fake.now;
}

void *allocate(size_t size) {
    if (reached("allocate")) {
        record("allocate(" + number(size) + ")");
    }
    if (fake.allocation_fails) {
        return nullptr;
    }
    ++fake.live_allocations;
    return std::malloc(size);
}

void release(void *block) {
    if (reached("release")) {
        record("release");
    }
    --fake.live_allocations;
    std::free(block);
}

static std::mutex output_lock;

// A thread waiting here while another ends the process through exit must go
// on waiting, as on the program's critical section; on Windows, lock() can
// fail with EINVAL (and throw) once exit has begun to take the process apart.
static void take_output_lock() {
    while (!output_lock.try_lock()) {
        std::this_thread::yield();
    }
}

void lock_output() {
    if (on_control_thread) {
        ++handlers_come_to_output_lock;
        ++handlers_at_output_lock;
        take_output_lock();
        handler_holds_output_lock = true;
        return;
    }
    take_output_lock();
    program_holds_output_lock = true;
    if (fake.at_call != nullptr) {
        fake.at_call("lock_output");
    }
    interrupt_if_due("lock_output");
}

bool lock_output_within(uint32_t timeout_ms) {
    uint32_t wait_ms = timeout_ms;
    if (fake.longest_output_wait_ms != 0) {
        record("lock_output_within(" + number(timeout_ms) + ")");
        wait_ms = std::min(timeout_ms, fake.longest_output_wait_ms);
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    if (on_control_thread) {
        ++handlers_come_to_output_lock;
        ++handlers_at_output_lock;
    }
    while (!output_lock.try_lock()) {
        if (std::chrono::steady_clock::now() >= give_up) {
            if (on_control_thread) {
                --handlers_at_output_lock;
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (on_control_thread) {
        handler_holds_output_lock = true;
        return true;
    }
    program_holds_output_lock = true;
    if (fake.at_call != nullptr) {
        fake.at_call("lock_output");
    }
    interrupt_if_due("lock_output");
    return true;
}

void TerminateProcess(uint32_t exit_code) {
    if (reached("TerminateProcess")) {
        record("TerminateProcess(" + number(exit_code) + ")");
    }
    end_process_at_once(static_cast<int>(exit_code));  // standard output's buffer stays unwritten
}

void unlock_output() {
    if (fake.at_call != nullptr) {
        fake.at_call("unlock_output");
    }
    interrupt_if_due("unlock_output");
    program_holds_output_lock = false;
    output_lock.unlock();
}

}  // namespace platform
