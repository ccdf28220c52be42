// What every chart of the analyzer draws with: text, lines, value scales
// and the <svg> element itself, standalone or inline in a page.
#pragma once

#include <cstdio>

#include "analyze/files/system.h"

// Marks at a plot's extremes keep this far from its frame.
constexpr int PLOT_PADDING = 6;

// A linear scale from a value range onto a panel's height, within its
// padding.
struct Scale {
    double low, high;  // the values at the bottom and the top
    int top, height;   // the panel's frame
};

double y_of(const Scale &scale, double value);

// A standalone picture (an XML file of its own) or an element inside a
// page, of class chart, which then takes the page's width. label: what the
// chart shows, for a screen reader (role img, aria-label) and as its
// <title>.
void begin_svg(std::FILE *out, int width, int height, bool standalone, const char *label);
void end_svg(std::FILE *out);

// content is text from outside and is escaped.
void write_text(std::FILE *out, double x, double y, const char *anchor, int size, const char *fill,
                const char *content);
void write_line(std::FILE *out, double x1, double y1, double x2, double y2, const char *colour, double width,
                const char *dash);
void write_frame(std::FILE *out, const char *id, int left, int top, int width, int height);
// A title turned to run up the left edge.
void write_vertical_title(std::FILE *out, int x, int middle_y, const char *title);
// About how wide text is at size, in pixels: the charts keep labels apart
// with it.
double text_width(const char *text, int size);

// 1, 2 or 5 times a power of ten, giving about five ticks over the range.
double nice_step(double range);

// Several charts in one page or picture keep their ids apart: what
// draw(to) writes, drawn into a temporary file, then copied with each
// id="X" made id="<prefix>X". (Quotes in text are written as &quot;.)
// Without a temporary file, as it is.
void copy_with_prefixed_ids(std::FILE *from, std::FILE *out, const char *prefix);
template <typename Draw> void write_with_prefixed_ids(std::FILE *out, const char *prefix, const Draw &draw) {
    std::FILE *drawn = temporary_stream();
    if (drawn == nullptr) {
        draw(out);
        return;
    }
    draw(drawn);
    std::rewind(drawn);
    copy_with_prefixed_ids(drawn, out, prefix);
    std::fclose(drawn);
}
