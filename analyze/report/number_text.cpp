#include "analyze/report/number_text.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

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
constexpr double DECIMAL_SCALES[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};

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
    auto mantissa_of = [value](int e) { return e < 0 ? value * std::pow(10.0, -e) : value / std::pow(10.0, e); };
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

void format_ms_a_day(char *text, size_t size, double ppm) {
    const double ms = ppm * MS_A_DAY_PER_PPM;
    const double size_ms = std::fabs(ms);
    const int decimals = size_ms >= 100 ? 0 : size_ms >= 10 ? 1 : size_ms >= 1 ? 2 : 3;
    std::snprintf(text, size, "%+.*f ms a day", decimals, ms);
}
