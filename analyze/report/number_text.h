// Numbers as text, fast enough to write a row per sample.
#pragma once

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
