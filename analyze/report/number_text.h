// Numbers as text, fast enough to write a row per sample.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for any number these write.
constexpr int NUMBER_TEXT_SIZE = 48;

// The most decimals the functions below write.
constexpr int MAX_DECIMALS = 12;

// 10^exponent, correctly rounded for exponents -22 to 22, and so the same
// in every build; beyond them the C library's pow. (The library's need not
// be exact: MinGW-w64's is off by some units in the last place for
// negative exponents, which put the Windows builds' chart coordinates and
// rounding boundaries a hair from the Linux build's.)
double power_of_ten(int exponent);

// value with decimals (0 to MAX_DECIMALS) places, rounded; with a leading '+' for
// positive values when plus is set. Returns the end of what was written
// (no terminating zero).
char *put_fixed(char *out, double value, int decimals, bool plus = false);
char *put_integer(char *out, int64_t value);
// value as d.ddde-07, with decimals (0 to MAX_DECIMALS) places and an exponent of at
// least two digits (as C's %e, also where the C library would write three).
char *put_scientific(char *out, double value, int decimals);

// A rate in ppm as the time it gains or loses in a day: "-0.259 ms a day",
// three significant digits, no exponent. 1 ppm is 86.4 ms a day.
constexpr double MS_A_DAY_PER_PPM = 86.4;
void format_ms_a_day(char *text, size_t size, double ppm);
// A figure known to within ± uncertainty is written to the place of the
// uncertainty's second significant digit (± 0.0123: 0.0001), never
// coarser, so that rounding adds at most a twentieth of the uncertainty
// to the error; the same place in every writer. The place as a power of
// ten (0.0001: −4); PLACE_UNKNOWN when uncertainty is not positive and
// finite.
constexpr int PLACE_UNKNOWN = 999;
int uncertainty_place(double uncertainty);
// The uncertainty of a deviation within its interval [low, high]: the
// nearer bound's distance, so that the place is never too coarse for
// either.
double interval_uncertainty(double value, double low, double high);
// value rounded at that place, as a number (the metrics); value itself
// where the place is unknown.
double round_to_uncertainty(double value, double uncertainty);
// value in fixed notation to that place, with 0 decimals at the least;
// with fallback_decimals (0 to MAX_DECIMALS) where the place is unknown.
char *put_fixed_to_uncertainty(char *out, double value, double uncertainty, int fallback_decimals, bool plus = false);
// value in scientific notation to that place; with fallback_decimals
// where the place is unknown.
char *put_scientific_to_uncertainty(char *out, double value, double uncertainty, int fallback_decimals);
// The significant digits (printf's %.*g) that reach that place, and
// every digit before the point; fallback where the place is unknown.
int uncertainty_digits(double value, double uncertainty, int fallback);
