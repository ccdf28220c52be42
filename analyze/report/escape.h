// Text from outside (file names, lines of a log) made safe to put in XML,
// JSON, a metric's label or a terminal. Bytes that are not UTF-8 become '?'.
#pragma once

#include <cstddef>
#include <cstdio>

void write_xml_text(std::FILE *out, const char *text);
void write_json_string(std::FILE *out, const char *text);  // with its quotes
// Text for a terminal, as terminal_text (files/terminal_text.h) gives it.
void write_terminal_text(std::FILE *out, const char *text);
// A label value of a metric, without its quotes.
void write_label_value(std::FILE *out, const char *text);
// The length bytes at text as printable ASCII for a message, others as '?',
// into buffer with a terminating zero; cut short with "..." to fit.
void printable_excerpt(char *buffer, size_t size, const char *text, size_t length);
