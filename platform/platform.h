// The operating-system and run-time services tickwatch relies on.
//
// Everything above this header is plain C++ and builds anywhere: the Windows
// implementation (platform/windows_platform.cpp) forwards each call to the
// system, and the unit tests link a scriptable fake instead. The Windows
// operations keep their Windows names and arguments, minus the ones tickwatch
// always passes empty; the records below have the layout and field names of
// their Windows counterparts.
#pragma once

#include <cstddef>
#include <cstdint>

// Functions that the system calls back, or that are looked up at run time,
// use the system's calling convention: __stdcall on 32-bit x86 Windows.
#if defined(_WIN32) && defined(__i386__)
#define PLATFORM_CALL __attribute__((stdcall))
#else
#define PLATFORM_CALL
#endif

// 100-nanosecond intervals since 1601-01-01 00:00:00 UTC, in two halves.
struct FileTime {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

constexpr uint64_t FILE_TIME_1970 = 116444736000000000ULL;  // 1970-01-01 in 100-ns units since 1601

// Whole seconds since 1970-01-01 00:00:00 UTC of a system time, in 64 bits
// (a 32-bit count ends in January 2038).
inline int64_t seconds_since_1970(const FileTime &time) {
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10'000'000) - static_cast<int64_t>(FILE_TIME_1970 / 10'000'000);
}

// A calendar date and time.
struct SystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// Shortest and longest period of the multimedia timer device, in ms.
struct TimerCaps {
    uint32_t wPeriodMin;
    uint32_t wPeriodMax;
};

// The fixed part of a version resource.
struct FixedFileInfo {
    uint32_t dwSignature;
    uint32_t dwStrucVersion;
    uint32_t dwFileVersionMS;
    uint32_t dwFileVersionLS;
    uint32_t dwProductVersionMS;
    uint32_t dwProductVersionLS;
    uint32_t dwFileFlagsMask;
    uint32_t dwFileFlags;
    uint32_t dwFileOS;
    uint32_t dwFileType;
    uint32_t dwFileSubtype;
    uint32_t dwFileDateMS;
    uint32_t dwFileDateLS;
};

using Handle = void *;
using ModuleHandle = void *;
using ProcAddress = void (*)();
using SystemTimeFunction = void(PLATFORM_CALL *)(FileTime *time);
using ConsoleControlHandler = int(PLATFORM_CALL *)(uint32_t control_type);

constexpr uint32_t MAX_PATH_LENGTH = 260;
constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFF;
constexpr uint32_t WAIT_SIGNALLED = 0;  // WAIT_OBJECT_0
constexpr uint32_t TIMER_NO_ERROR = 0;  // TIMERR_NOERROR

constexpr uint32_t CTRL_C_EVENT = 0;
constexpr uint32_t CTRL_BREAK_EVENT = 1;
constexpr uint32_t CTRL_CLOSE_EVENT = 2;
constexpr uint32_t CTRL_LOGOFF_EVENT = 5;
constexpr uint32_t CTRL_SHUTDOWN_EVENT = 6;

namespace platform {

// Program entry and version text.
uint32_t GetModuleFileNameA(char *path, uint32_t size);  // of the program itself
uint32_t GetFileVersionInfoSizeA(const char *path);
bool GetFileVersionInfoA(const char *path, uint32_t size, void *block);
bool VerQueryValueA(const void *block, const char *sub_block, void **value, uint32_t *length);
bool QueryPerformanceFrequency(int64_t *frequency);
bool SetConsoleCtrlHandler(ConsoleControlHandler handler, bool add);

// Clock readings and pacing.
void PLATFORM_CALL GetSystemTimeAsFileTime(FileTime *time);
bool QueryPerformanceCounter(int64_t *count);
Handle CreateWaitableTimerA(bool manual_reset);  // unnamed, default security
bool SetWaitableTimer(Handle timer, int64_t due_time, int32_t period_ms, bool resume);
uint32_t WaitForSingleObject(Handle object, uint32_t timeout_ms);
void Sleep(uint32_t ms);
bool GetSystemTimeAdjustment(uint32_t *adjustment, uint32_t *increment, bool *adjustment_disabled);
bool FileTimeToSystemTime(const FileTime *file_time, SystemTime *system_time);

// The log file. Appends text and a line break to the file at path, created
// if need be, as the run-time's text mode writes them (each line break, the
// text's own too, as CR LF), in one write at the end of the file as it is at
// that moment: lines that several processes append at once interleave whole.
// The file is open for this call alone, and shared meanwhile for reading,
// writing, renaming and deleting. False when it cannot be opened or written.
bool AppendLineToFileA(const char *path, const char *text);

// Run-time lookup of functions that not every system has.
ModuleHandle LoadLibraryA(const char *name);
ProcAddress GetProcAddress(ModuleHandle module, const char *name);
uint32_t GetLastError();

// Multimedia timer resolution.
uint32_t timeGetDevCaps(TimerCaps *caps, uint32_t size);
uint32_t timeBeginPeriod(uint32_t period_ms);
uint32_t timeEndPeriod(uint32_t period_ms);

// Run-time library services: the system time in seconds since 1970 (as
// seconds_since_1970 counts them) and memory.
int64_t current_time();
void *allocate(size_t size);
void release(void *block);

// The lock that keeps the console control handler from ending the process
// while the main thread is in the middle of writing a line, or has taken a
// resource but not yet registered the exit action that gives it back.
void lock_output();
void unlock_output();
// As lock_output, but gives up after timeout_ms: false then.
bool lock_output_within(uint32_t timeout_ms);

// Ends the process at once with this status: no exit actions run, and
// nothing the run-time holds in its buffers is written.
[[noreturn]] void TerminateProcess(uint32_t exit_code);  // of the process itself

}  // namespace platform
