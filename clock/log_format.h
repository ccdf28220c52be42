// The texts of a tickwatch log: the banner that starts a run, the report
// line, and the messages that go to the log beside them. tickwatch writes
// them and tickwatch-analyze reads them: both take them from here, so that
// a change to one is a change to the other. Standard C++ only: the analyzer
// builds without tickwatch's platform layer.
//
// Macros, so that they join tickwatch's formats and the line breaks it
// writes after some of them, and so that the compiler checks printf's
// arguments against them.
#pragma once

// "Kestivar TICKWATCH v1.6": a run starts. The version follows the prefix.
#define LOG_BANNER_PREFIX "Kestivar TICKWATCH v"
#define LOG_BANNER_FORMAT LOG_BANNER_PREFIX "%s"

// UTC date and time with milliseconds; the two clocks' advance, their
// difference; the time adjustment and its distance from the increment;
// the marker.
#define REPORT_LINE_FORMAT "%04u-%02u-%02u %02u:%02u:%02u.%04u: %9.4f %9.4f %+9.4f  %i (%+i) %s"

// How far one clock may run ahead of the other, either way, before the
// line is marked.
constexpr double MARKER_THRESHOLD_MS = 20.0;
constexpr const char *STEP_MARKER = "><";

// The messages, each a line of its own.
#define LOG_PRECISE_TIME_USED "Using GetSystemTimePreciseAsFileTime API"
#define LOG_PRECISE_TIME_MISSING "GetSystemTimePreciseAsFileTime API not supported, falling back to default"
#define LOG_PRECISE_TIME_AVAILABLE "Note: GetSystemTimePreciseAsFileTime API is also available, use -p"
#define LOG_TIMER_CAPS_FAILED "Failed to get MM timer caps."
#define LOG_NO_COUNTER_FREQUENCY "Unable to read perfomance counter frequency."
#define LOG_NO_CONTROL_HANDLER "Unable to set console control handler."
// The two with a value after their prefix.
#define LOG_TIMER_RESOLUTION_PREFIX "MM timer resolution: "
#define LOG_TIMER_RESOLUTION_FORMAT LOG_TIMER_RESOLUTION_PREFIX "%u..%u ms, set to %u ms"
#define LOG_UNKNOWN_PARAMETER_PREFIX "unknown parameter: "

// What a reader takes for one of the messages: the whole line, or its start.
constexpr const char *LOG_WHOLE_MESSAGES[] = {
    LOG_PRECISE_TIME_USED, LOG_PRECISE_TIME_MISSING, LOG_PRECISE_TIME_AVAILABLE,
    LOG_TIMER_CAPS_FAILED, LOG_NO_COUNTER_FREQUENCY, LOG_NO_CONTROL_HANDLER,
};
constexpr const char *LOG_MESSAGE_PREFIXES[] = {
    LOG_TIMER_RESOLUTION_PREFIX,
    LOG_UNKNOWN_PARAMETER_PREFIX,
};
