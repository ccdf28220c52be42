// Numbers as text, fast enough to write a row per sample.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for any number these write.
constexpr int NUMBER_TEXT_SIZE = 48;

// value with decimals (0 to 6) places, rounded; with a leading '+' for
// positive values when plus is set. Returns the end of what was written
// (no terminating zero).
char *put_fixed(char *out, double value, int decimals, bool plus = false);
char *put_integer(char *out, int64_t value);
// value as d.ddde-07, with decimals (0 to 6) places and an exponent of at
// least two digits (as C's %e, also where the C library would write three).
char *put_scientific(char *out, double value, int decimals);

// A rate in ppm as the time it gains or loses in a day: "-0.259 ms a day",
// three significant digits, no exponent. 1 ppm is 86.4 ms a day.
constexpr double MS_A_DAY_PER_PPM = 86.4;
void format_ms_a_day(char *text, size_t size, double ppm);
