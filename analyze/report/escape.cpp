#include "analyze/report/escape.h"

namespace {

// The length of the well-formed UTF-8 sequence at text (at most 4), or 0.
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

}  // namespace

void write_xml_text(std::FILE *out, const char *text) {
    const auto *c = reinterpret_cast<const unsigned char *>(text);
    while (*c != '\0') {
        const int length = utf8_length(c);
        if (length == 0 || (*c < 0x20 && *c != '\t')) {
            std::fputc('?', out);  // not allowed in XML at all
            ++c;
            continue;
        }
        switch (*c) {
        case '&':
            std::fputs("&amp;", out);
            break;
        case '<':
            std::fputs("&lt;", out);
            break;
        case '>':
            std::fputs("&gt;", out);
            break;
        case '"':
            std::fputs("&quot;", out);
            break;
        default:
            std::fwrite(c, 1, static_cast<size_t>(length), out);
        }
        c += length;
    }
}

namespace {

// A JSON string's or a metric label's text: quotes and backslashes escaped,
// a line break as \n; other control characters as JSON's \u escape, or as
// '?' where the format has none.
void write_escaped(std::FILE *out, const char *text, bool json) {
    const auto *c = reinterpret_cast<const unsigned char *>(text);
    while (*c != '\0') {
        const int length = utf8_length(c);
        if (length == 0) {
            std::fputc('?', out);
            ++c;
            continue;
        }
        if (*c == '"' || *c == '\\') {
            std::fprintf(out, "\\%c", *c);
        } else if (*c < 0x20 && json) {
            std::fprintf(out, "\\u%04x", static_cast<unsigned>(*c));
        } else if (*c == '\n') {
            std::fputs("\\n", out);
        } else if (*c < 0x20) {
            std::fputc('?', out);
        } else {
            std::fwrite(c, 1, static_cast<size_t>(length), out);
        }
        c += length;
    }
}

}  // namespace

void write_json_string(std::FILE *out, const char *text) {
    std::fputc('"', out);
    write_escaped(out, text, true);
    std::fputc('"', out);
}

void write_terminal_text(std::FILE *out, const char *text) {
    const auto *c = reinterpret_cast<const unsigned char *>(text);
    while (*c != '\0') {
        const int length = utf8_length(c);
        const bool c1_control = length == 2 && c[0] == 0xC2 && c[1] < 0xA0;
        if (length == 0 || *c < 0x20 || *c == 0x7F) {
            std::fprintf(out, "\\x%02X", static_cast<unsigned>(*c));
            ++c;
        } else if (c1_control) {
            std::fprintf(out, "\\x%02X\\x%02X", static_cast<unsigned>(c[0]), static_cast<unsigned>(c[1]));
            c += length;
        } else {
            std::fwrite(c, 1, static_cast<size_t>(length), out);
            c += length;
        }
    }
}

void write_label_value(std::FILE *out, const char *text) { write_escaped(out, text, false); }

void printable_excerpt(char *buffer, size_t size, const char *text, size_t length) {
    size_t n = 0;
    for (size_t i = 0; i < length && n + 4 < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        buffer[n++] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    if (length > 0 && n < length && n + 4 <= size) {
        buffer[n++] = '.';
        buffer[n++] = '.';
        buffer[n++] = '.';
    }
    buffer[n] = '\0';
}
