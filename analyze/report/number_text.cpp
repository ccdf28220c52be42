#include "analyze/report/number_text.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

double power_of_ten(int exponent) {
    // 10^n is exact in a double up to 10^22 (5^22 < 2^53), and one division
    // of exact values is correctly rounded.
    constexpr int EXACT_MAX = 22;
    if (exponent < -EXACT_MAX || exponent > EXACT_MAX) {
        return std::pow(10.0, exponent);
    }
    double power = 1;
    for (int i = 0; i < (exponent < 0 ? -exponent : exponent); ++i) {
        power *= 10;
    }
    return exponent < 0 ? 1 / power : power;
}

namespace {

// The decimal pairs 00 to 99, and 10^1 to 10^19.
constexpr char DIGIT_PAIRS[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                               "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                               "8081828384858687888990919293949596979899";
constexpr uint64_t POWERS_OF_TEN[] = {10ULL,
                                      100ULL,
                                      1000ULL,
                                      10000ULL,
                                      100000ULL,
                                      1000000ULL,
                                      10000000ULL,
                                      100000000ULL,
                                      1000000000ULL,
                                      10000000000ULL,
                                      100000000000ULL,
                                      1000000000000ULL,
                                      10000000000000ULL,
                                      100000000000000ULL,
                                      1000000000000000ULL,
                                      10000000000000000ULL,
                                      100000000000000000ULL,
                                      1000000000000000000ULL,
                                      10000000000000000000ULL};
// The powers that a number of decimals scales by.
constexpr double DECIMAL_SCALES[MAX_DECIMALS + 1] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};

int clamped_decimals(int decimals) { return decimals < 0 ? 0 : (decimals > MAX_DECIMALS ? MAX_DECIMALS : decimals); }

// The power of ten of |value|'s first significant digit; value finite, not 0.
int leading_place(double value) {
    int place = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    // log10 may be a little off at a power of ten.
    if (std::fabs(value) < power_of_ten(place)) {
        --place;
    } else if (std::fabs(value) >= power_of_ten(place + 1)) {
        ++place;
    }
    return place;
}

// The digits of value, at least minimum_digits of them, written from the
// last, two at a time.
char *put_digits(char *out, uint64_t value, int minimum_digits) {
    int count = 1;
    while (count < 20 && value >= POWERS_OF_TEN[count - 1]) {
        ++count;
    }
    count = count < minimum_digits ? minimum_digits : count;
    char *end = out + count;
    char *p = end;
    while (value >= 100) {
        const auto pair = static_cast<size_t>(value % 100);
        value /= 100;
        *--p = DIGIT_PAIRS[2 * pair + 1];
        *--p = DIGIT_PAIRS[2 * pair];
    }
    if (value >= 10) {
        *--p = DIGIT_PAIRS[2 * value + 1];
        *--p = DIGIT_PAIRS[2 * value];
    } else {
        *--p = static_cast<char>('0' + value);
    }
    while (p > out) {
        *--p = '0';
    }
    return end;
}

}  // namespace

char *put_integer(char *out, int64_t value) {
    if (value < 0) {
        *out++ = '-';
        return put_digits(out, 0 - static_cast<uint64_t>(value), 1);
    }
    return put_digits(out, static_cast<uint64_t>(value), 1);
}

char *put_fixed(char *out, double value, int decimals, bool plus) {
    const double scaled = value * DECIMAL_SCALES[decimals];
    if (!(std::fabs(scaled) < 1e17)) {
        // Beyond exact integers, where decimals mean nothing any more.
        const int length = std::snprintf(out, NUMBER_TEXT_SIZE, plus ? "%+.17g" : "%.17g", value);
        return out + (length > 0 && length < NUMBER_TEXT_SIZE ? length : 0);
    }
    // Half away from zero, as llround, without the call.
    const auto rounded = static_cast<long long>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    // Signed like printf's: "-0.0000" for a small negative value.
    if (rounded < 0 || (rounded == 0 && std::signbit(value))) {
        *out++ = '-';
    } else if (plus) {
        *out++ = '+';
    }
    const uint64_t magnitude = rounded < 0 ? 0 - static_cast<uint64_t>(rounded) : static_cast<uint64_t>(rounded);
    if (decimals == 0) {
        return put_digits(out, magnitude, 1);
    }
    // All digits, then the point moved in before the last decimals of them.
    char *end = put_digits(out, magnitude, decimals + 1);
    for (int i = 0; i < decimals; ++i) {
        end[-i] = end[-i - 1];
    }
    end[-decimals] = '.';
    return end + 1;
}

char *put_scientific(char *out, double value, int decimals) {
    if (!std::isfinite(value) || value == 0) {
        out = put_fixed(out, value, decimals);
        if (value == 0) {
            *out++ = 'e';
            *out++ = '+';
            *out++ = '0';
            *out++ = '0';
        }
        return out;
    }
    auto exponent = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    auto mantissa_of = [value](int e) { return e < 0 ? value * power_of_ten(-e) : value / power_of_ten(e); };
    double mantissa = mantissa_of(exponent);
    // log10 may be a little off, and the rounding may reach 10.
    if (std::fabs(mantissa) < 1) {
        mantissa = mantissa_of(--exponent);
    }
    if (std::fabs(std::round(mantissa * DECIMAL_SCALES[decimals])) >= 10 * DECIMAL_SCALES[decimals]) {
        mantissa = mantissa_of(++exponent);
    }
    out = put_fixed(out, mantissa, decimals);
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) {
        *out++ = '0';
    }
    return put_integer(out, magnitude);
}

int uncertainty_place(double uncertainty) {
    if (!(uncertainty > 0) || !std::isfinite(uncertainty)) {
        return PLACE_UNKNOWN;
    }
    return leading_place(uncertainty) - 1;
}

double interval_uncertainty(double value, double low, double high) {
    const double below = value - low;
    const double above = high - value;
    return below < above ? below : above;
}

double round_to_uncertainty(double value, double uncertainty) {
    const int place = uncertainty_place(uncertainty);
    if (place == PLACE_UNKNOWN || !std::isfinite(value)) {
        return value;
    }
    // Divided by a power of ten rather than multiplied by its inverse,
    // which is no exact double: 0.0001 * 10^4 would leave binary noise.
    // + 0.0: a negative figure rounded to nothing is 0, not −0.
    return (place < 0 ? std::round(value * power_of_ten(-place)) / power_of_ten(-place)
                      : std::round(value / power_of_ten(place)) * power_of_ten(place)) +
           0.0;
}

char *put_fixed_to_uncertainty(char *out, double value, double uncertainty, int fallback_decimals, bool plus) {
    const int place = uncertainty_place(uncertainty);
    return put_fixed(out, value, place == PLACE_UNKNOWN ? fallback_decimals : clamped_decimals(-place), plus);
}

char *put_scientific_to_uncertainty(char *out, double value, double uncertainty, int fallback_decimals) {
    const int place = uncertainty_place(uncertainty);
    if (place == PLACE_UNKNOWN || !std::isfinite(value) || value == 0) {
        return put_scientific(out, value, fallback_decimals);
    }
    return put_scientific(out, value, clamped_decimals(leading_place(value) - place));
}

int uncertainty_digits(double value, double uncertainty, int fallback) {
    const int place = uncertainty_place(uncertainty);
    if (place == PLACE_UNKNOWN || !std::isfinite(value) || value == 0) {
        return fallback;
    }
    const int leading = leading_place(value);
    const int digits = leading - (place < 0 ? place : 0) + 1;
    return digits < 1 ? 1 : (digits > 17 ? 17 : digits);
}

void format_ms_a_day(char *text, size_t size, double ppm) {
    const double ms = ppm * MS_A_DAY_PER_PPM;
    const double size_ms = std::fabs(ms);
    const int decimals = size_ms >= 100 ? 0 : size_ms >= 10 ? 1 : size_ms >= 1 ? 2 : 3;
    std::snprintf(text, size, "%+.*f ms a day", decimals, ms);
}
