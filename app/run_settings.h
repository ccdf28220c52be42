// What the command line asked for: written while it is parsed, read after.
#pragma once

struct RunSettings {
    bool show_usage;
    bool use_mm_timer;
    bool use_precise_time;
    bool sample_counter_first;
    bool use_sleep;
    const char *log_file_name;  // none (nullptr) unless -o or -l named one
};

extern RunSettings run_settings;
