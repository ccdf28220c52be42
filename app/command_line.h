// The command line: options into run_settings, and the usage text.
#pragma once

extern const char *const USAGE_TEXT;

// Examines every argument after the program name, in order, and sets
// run_settings from them; an unrecognised one is reported and, like -?, -h
// or a trailing -o, sets run_settings.show_usage.
void parse_command_line(int argc, char **argv);
