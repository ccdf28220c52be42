// The platform services on Windows: each forwards to the system or the C
// run-time. The records in platform.h share their Windows counterparts'
// layout, which the assertions below hold to.
#include "platform/platform.h"

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <cstddef>
#include <cstdlib>

static_assert(sizeof(FileTime) == sizeof(FILETIME), "FILETIME layout");
static_assert(offsetof(FileTime, dwHighDateTime) == offsetof(FILETIME, dwHighDateTime), "FILETIME layout");
static_assert(sizeof(SystemTime) == sizeof(SYSTEMTIME), "SYSTEMTIME layout");
static_assert(offsetof(SystemTime, wMilliseconds) == offsetof(SYSTEMTIME, wMilliseconds), "SYSTEMTIME layout");
static_assert(sizeof(TimerCaps) == sizeof(TIMECAPS), "TIMECAPS layout");
static_assert(sizeof(FixedFileInfo) == sizeof(VS_FIXEDFILEINFO), "VS_FIXEDFILEINFO layout");
static_assert(offsetof(FixedFileInfo, dwProductVersionMS) == offsetof(VS_FIXEDFILEINFO, dwProductVersionMS),
              "VS_FIXEDFILEINFO layout");
static_assert(sizeof(int64_t) == sizeof(LARGE_INTEGER), "LARGE_INTEGER layout");

namespace platform {

uint32_t GetModuleFileNameA(char *path, uint32_t size) { return ::GetModuleFileNameA(nullptr, path, size); }

uint32_t GetFileVersionInfoSizeA(const char *path) {
    DWORD unused_handle = 0;
    return ::GetFileVersionInfoSizeA(path, &unused_handle);
}

bool GetFileVersionInfoA(const char *path, uint32_t size, void *block) {
    return ::GetFileVersionInfoA(path, 0, size, block) != FALSE;
}

bool VerQueryValueA(const void *block, const char *sub_block, void **value, uint32_t *length) {
    UINT value_length = 0;
    BOOL found = ::VerQueryValueA(block, sub_block, value, &value_length);
    *length = value_length;
    return found != FALSE;
}

bool QueryPerformanceFrequency(int64_t *frequency) {
    return ::QueryPerformanceFrequency(reinterpret_cast<LARGE_INTEGER *>(frequency)) != FALSE;
}

bool SetConsoleCtrlHandler(ConsoleControlHandler handler, bool add) {
    // BOOL (int) and DWORD (a 32-bit unsigned long) pass exactly like the
    // handler's int and uint32_t.
    return ::SetConsoleCtrlHandler(reinterpret_cast<PHANDLER_ROUTINE>(handler), add ? TRUE : FALSE) != FALSE;
}

void PLATFORM_CALL GetSystemTimeAsFileTime(FileTime *time) {
    ::GetSystemTimeAsFileTime(reinterpret_cast<FILETIME *>(time));
}

bool QueryPerformanceCounter(int64_t *count) {
    return ::QueryPerformanceCounter(reinterpret_cast<LARGE_INTEGER *>(count)) != FALSE;
}

Handle CreateWaitableTimerA(bool manual_reset) {
    return ::CreateWaitableTimerA(nullptr, manual_reset ? TRUE : FALSE, nullptr);
}

bool SetWaitableTimer(Handle timer, int64_t due_time, int32_t period_ms, bool resume) {
    LARGE_INTEGER due;
    due.QuadPart = due_time;
    return ::SetWaitableTimer(timer, &due, period_ms, nullptr, nullptr, resume ? TRUE : FALSE) != FALSE;
}

uint32_t WaitForSingleObject(Handle object, uint32_t timeout_ms) { return ::WaitForSingleObject(object, timeout_ms); }

void Sleep(uint32_t ms) { ::Sleep(ms); }

bool GetSystemTimeAdjustment(uint32_t *adjustment, uint32_t *increment, bool *adjustment_disabled) {
    DWORD time_adjustment = 0;
    DWORD time_increment = 0;
    BOOL disabled = FALSE;
    BOOL read = ::GetSystemTimeAdjustment(&time_adjustment, &time_increment, &disabled);
    *adjustment = time_adjustment;
    *increment = time_increment;
    *adjustment_disabled = disabled != FALSE;
    return read != FALSE;
}

bool FileTimeToSystemTime(const FileTime *file_time, SystemTime *system_time) {
    return ::FileTimeToSystemTime(reinterpret_cast<const FILETIME *>(file_time),
                                  reinterpret_cast<SYSTEMTIME *>(system_time)) != FALSE;
}

bool AppendLineToFileA(const char *path, const char *text) {
    // Append access alone: the system moves to the end and writes as one step,
    // where the run-time's append mode seeks and then writes, so that another
    // process's line can land in between and be overwritten.
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    size_t size = 2;
    for (const char *c = text; *c != '\0'; ++c) {
        size += *c == '\n' ? 2 : 1;
    }
    // Lines are short; a longer one gets a block of its own.
    char short_line[512];
    char *line = size <= sizeof short_line ? short_line : static_cast<char *>(::malloc(size));
    bool written = false;
    if (line != nullptr && size <= 0x7FFFFFFF) {
        char *end = line;
        for (const char *c = text; *c != '\0'; ++c) {
            if (*c == '\n') {
                *end++ = '\r';
            }
            *end++ = *c;
        }
        *end++ = '\r';
        *end++ = '\n';
        DWORD done = 0;
        written = ::WriteFile(file, line, static_cast<DWORD>(size), &done, nullptr) != FALSE && done == size;
    }
    if (line != short_line) {
        ::free(line);
    }
    ::CloseHandle(file);
    return written;
}

ModuleHandle LoadLibraryA(const char *name) { return ::LoadLibraryA(name); }

ProcAddress GetProcAddress(ModuleHandle module, const char *name) {
    return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

uint32_t GetLastError() { return ::GetLastError(); }

uint32_t timeGetDevCaps(TimerCaps *caps, uint32_t size) {
    return ::timeGetDevCaps(reinterpret_cast<TIMECAPS *>(caps), size);
}

uint32_t timeBeginPeriod(uint32_t period_ms) { return ::timeBeginPeriod(period_ms); }

uint32_t timeEndPeriod(uint32_t period_ms) { return ::timeEndPeriod(period_ms); }

int64_t current_time() {
    // Not the run-time's time(): its time_t has 32 bits in the 32-bit build.
    FileTime now;
    ::GetSystemTimeAsFileTime(reinterpret_cast<FILETIME *>(&now));
    return seconds_since_1970(now);
}

void *allocate(size_t size) { return ::malloc(size); }

void release(void *block) { ::free(block); }

// A critical section needs initialising before its first use; doing it
// during static initialisation puts that before main and any handler.
static CRITICAL_SECTION output_lock;
static const bool output_lock_ready = (InitializeCriticalSection(&output_lock), true);

void lock_output() { EnterCriticalSection(&output_lock); }

void unlock_output() { LeaveCriticalSection(&output_lock); }

bool lock_output_within(uint32_t timeout_ms) {
    // A critical section has no timed wait: try again every few ms.
    const DWORD start = ::GetTickCount();
    while (TryEnterCriticalSection(&output_lock) == FALSE) {
        if (::GetTickCount() - start >= timeout_ms) {
            return false;
        }
        ::Sleep(5);
    }
    return true;
}

void TerminateProcess(uint32_t exit_code) {
    ::TerminateProcess(::GetCurrentProcess(), exit_code);
    for (;;) {  // (it does not return)
        ::Sleep(INFINITE);
    }
}

}  // namespace platform
