#include "clock/time_source.h"

#include "app/run_settings.h"
#include "clock/log_format.h"
#include "clock/sampling.h"
#include "output/output.h"

SystemTimeFunction precise_time_function = nullptr;

uint32_t find_precise_time_function(SystemTimeFunction *out) {
    // The module handle is never released: kernel32.dll stays loaded anyway.
    ModuleHandle kernel32 = platform::LoadLibraryA("kernel32.dll");
    if (kernel32 != nullptr) {
        ProcAddress address = platform::GetProcAddress(kernel32, "GetSystemTimePreciseAsFileTime");
        if (address != nullptr) {
            if (out != nullptr) {
                *out = reinterpret_cast<SystemTimeFunction>(address);
            }
            return 0;
        }
    }
    if (out != nullptr) {
        *out = nullptr;
    }
    return platform::GetLastError();
}

void choose_time_function() {
    time_function = platform::GetSystemTimeAsFileTime;
    find_precise_time_function(&precise_time_function);

    if (run_settings.use_precise_time) {
        if (precise_time_function != nullptr) {
            time_function = precise_time_function;
            print_message(LOG_PRECISE_TIME_USED "\n");
        } else {
            print_message(LOG_PRECISE_TIME_MISSING "\n");
        }
    } else if (precise_time_function != nullptr) {
        print_message(LOG_PRECISE_TIME_AVAILABLE "\n");
    }
}
