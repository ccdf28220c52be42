#include "analyze/report/escape.h"

#include "analyze/files/terminal_text.h"

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

void write_terminal_text(std::FILE *out, const char *text) { std::fputs(terminal_text(text).c_str(), out); }

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
