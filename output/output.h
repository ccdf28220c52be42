// The one route by which lines reach the console and the log file.
#pragma once

#include <cstddef>

constexpr size_t MESSAGE_BUFFER_SIZE = 256;

// Every message with variable parts, and every report line, is formatted
// here before it is handed to print_message.
extern char message_buffer[MESSAGE_BUFFER_SIZE];

// Writes text and a line break to standard output, at once, then appends
// the same line to the log file.
void print_message(const char *text);

// Appends text and a line break to the log file, when one is named, in one
// atomic append (platform::AppendLineToFileA), so that the lines of several
// processes sharing the file stay whole. The file is opened and closed for
// every line; failures are not reported.
void append_to_log(const char *text);

// Makes a log file name from the current time ("%08lx.txt" of the seconds
// since 1970) and names it the log file; with no memory for it, no log file
// is named at all.
void generate_log_file_name();

// Names the log file given with -o, borrowed from the argument vector.
void name_log_file(const char *name);

// Exit action: gives back a name that generate_log_file_name made, and
// names no log file any more.
void release_log_file_name();

// Ends the process with exit(status), the exit actions included, but never
// while a line is half written: the caller waits for the line in progress.
[[noreturn]] void exit_between_lines(int status);
