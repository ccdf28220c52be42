#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/run_settings.h"
#include "output/output.h"
#include "platform/platform.h"

// The name that -l made, if any. A name given with -o belongs to the
// argument vector and is never released.
static char *generated_log_file_name = nullptr;
static bool release_registered = false;

// Callers hold the output lock.
static void make_log_file_name() {
    // A later -l replaces an earlier one; its name is not used again.
    release_log_file_name();

    auto seconds = static_cast<unsigned long>(platform::current_time() & 0xFFFFFFFF);
    int length = std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, "%08lx.txt", seconds);

    generated_log_file_name = static_cast<char *>(platform::allocate(static_cast<size_t>(length) + 1));
    if (generated_log_file_name == nullptr) {
        return;
    }
    if (!release_registered) {
        release_registered = std::atexit(release_log_file_name) == 0;
    }
    std::memcpy(generated_log_file_name, message_buffer, static_cast<size_t>(length) + 1);
    run_settings.log_file_name = generated_log_file_name;
}

// The name, and the exit action that releases it, change only under the
// output lock, which a console control event holds from the exit actions to
// the end of the process: so the exit action never runs while a name is made
// (or is registered too late for exit to see, or twice).
void generate_log_file_name() {
    platform::lock_output();
    make_log_file_name();
    platform::unlock_output();
}

void name_log_file(const char *name) {
    platform::lock_output();
    run_settings.log_file_name = name;
    platform::unlock_output();
}

void release_log_file_name() {
    if (generated_log_file_name != nullptr) {
        platform::release(generated_log_file_name);
        generated_log_file_name = nullptr;
    }
    run_settings.log_file_name = nullptr;
}
