#include "analyze/files/terminal_text.h"

#include <cstdio>

int utf8_length(const unsigned char *text) {
    const unsigned char lead = text[0];
    int length = 0;
    unsigned minimum = 0;
    unsigned value = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1FU;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0FU;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07U;
        minimum = 0x10000;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        // A zero byte ends the text: it is no continuation byte either.
        if ((text[i] & 0xC0U) != 0x80U) {
            return 0;
        }
        value = (value << 6) | (text[i] & 0x3FU);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < minimum || value > 0x10FFFF || surrogate ? 0 : length;
}

std::string terminal_text(const char *text) {
    std::string shown;
    const auto *c = reinterpret_cast<const unsigned char *>(text);
    char escaped[16];
    while (*c != '\0') {
        const int length = utf8_length(c);
        const bool c1_control = length == 2 && c[0] == 0xC2 && c[1] < 0xA0;
        if (length == 0 || *c < 0x20 || *c == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(*c));
            shown += escaped;
            ++c;
        } else if (c1_control) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X\\x%02X", static_cast<unsigned>(c[0]),
                          static_cast<unsigned>(c[1]));
            shown += escaped;
            c += length;
        } else {
            shown.append(reinterpret_cast<const char *>(c), static_cast<size_t>(length));
            c += length;
        }
    }
    return shown;
}
