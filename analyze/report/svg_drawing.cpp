#include "analyze/report/svg_drawing.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "analyze/report/escape.h"
#include "analyze/report/number_text.h"
#include "analyze/report/palette.h"

double y_of(const Scale &scale, double value) {
    const double clamped = std::fmin(std::fmax(value, scale.low), scale.high);
    const double inner = scale.height - 2 * PLOT_PADDING;
    return scale.top + PLOT_PADDING + (scale.high - clamped) / (scale.high - scale.low) * inner;
}

void begin_svg(std::FILE *out, int width, int height, bool standalone, const char *label) {
    if (standalone) {
        std::fprintf(out,
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" ",
                     width, height, width, height);
    } else {
        std::fprintf(out,
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"100%%\" "
                     "viewBox=\"0 0 %d %d\" ",
                     width, height);
    }
    std::fputs(R"(font-family="DejaVu Sans, Helvetica, Arial, sans-serif" role="img" aria-label=")", out);
    write_xml_text(out, label);
    std::fputs("\">\n<title>", out);
    write_xml_text(out, label);
    std::fputs("</title>\n", out);
    std::fprintf(out, "<rect width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", width, height, WHITE);
}

void end_svg(std::FILE *out) { std::fputs("</svg>\n", out); }

void write_text(std::FILE *out, double x, double y, const char *anchor, int size, const char *fill,
                const char *content) {
    std::fprintf(out, R"(<text x="%.1f" y="%.1f" text-anchor="%s" font-size="%d" fill="%s">)", x, y, anchor, size,
                 fill);
    write_xml_text(out, content);
    std::fputs("</text>\n", out);
}

void write_line(std::FILE *out, double x1, double y1, double x2, double y2, const char *colour, double width,
                const char *dash) {
    std::fprintf(out, R"(<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="%s" stroke-width="%g")", x1, y1, x2, y2,
                 colour, width);
    if (*dash != '\0') {
        std::fprintf(out, " stroke-dasharray=\"%s\"", dash);
    }
    std::fputs("/>\n", out);
}

void write_frame(std::FILE *out, const char *id, int left, int top, int width, int height) {
    std::fprintf(out, R"(<rect id="%s" x="%d" y="%d" width="%d" height="%d" fill="none" stroke="%s"/>)", id, left, top,
                 width, height, FRAME_COLOUR);
    std::fputc('\n', out);
}

void write_vertical_title(std::FILE *out, int x, int middle_y, const char *title) {
    std::fprintf(
        out, R"svg(<text transform="translate(%d %d) rotate(-90)" text-anchor="middle" font-size="13" fill="%s">)svg",
        x, middle_y, TEXT_COLOUR);
    write_xml_text(out, title);
    std::fputs("</text>\n", out);
}

double text_width(const char *text, int size) {
    // Counts characters, not bytes; an average sans-serif glyph with room
    // to spare, so that labels kept apart by it never touch.
    size_t characters = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        characters += (static_cast<unsigned char>(*c) & 0xC0U) != 0x80U ? 1 : 0;
    }
    return static_cast<double>(characters) * size * 0.62;
}

double nice_step(double range) {
    const double rough = range / 5;
    const double power = power_of_ten(static_cast<int>(std::floor(std::log10(rough))));
    const double mantissa = rough / power;
    return (mantissa < 1.5 ? 1 : mantissa < 3.5 ? 2 : mantissa < 7.5 ? 5 : 10) * power;
}

void copy_with_prefixed_ids(std::FILE *from, std::FILE *out, const char *prefix) {
    constexpr std::string_view ID = " id=\"";
    size_t matched = 0;
    for (int c = std::fgetc(from); c != EOF; c = std::fgetc(from)) {
        std::fputc(c, out);
        matched = c == ID[matched] ? matched + 1 : c == ID[0] ? 1 : 0;
        if (matched == ID.size()) {
            std::fputs(prefix, out);
            matched = 0;
        }
    }
}
