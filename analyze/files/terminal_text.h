// Text from outside (a file's name, an option's argument) as it is safe to
// show on a terminal, for every message and the text summary alike.
#pragma once

#include <string>

// The length of the well-formed UTF-8 sequence at text (at most 4), or 0.
int utf8_length(const unsigned char *text);

// text with its control characters (C0, DEL and C1: an ESC sequence, a line
// break) and its bytes that are not UTF-8 as \xNN, so that a file name can
// neither move the cursor nor pass for another line.
std::string terminal_text(const char *text);
