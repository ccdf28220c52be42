#include "analyze/files/log_reader.h"

#include <algorithm>
#include <cstring>

void start_reading(LogReader &reader, File *file, char *block) {
    reader.file = file;
    reader.block = block;
    reader.begin = 0;
    reader.end = 0;
    reader.at_end_of_file = false;
    reader.skipping_long_line = false;
    reader.line_number = 0;
    reader.bytes_read = 0;
    reader.waits_for_line_end = false;
    reader.hashes_content = false;
    reader.content_hash = EMPTY_CONTENT_HASH;
    reader.encoding = TextEncoding::undecided;
    reader.holds_odd_byte = false;
    reader.odd_byte = 0;
    reader.high_surrogate = 0;
    reader.line_end_decided = false;
    reader.line_end = '\n';
    reader.first_bytes_length = 0;
}

void restart_reading(LogReader &reader, uint64_t bytes_read) {
    const TextEncoding encoding = reader.encoding;
    const bool line_end_decided = reader.line_end_decided;
    const char line_end = reader.line_end;
    start_reading(reader, reader.file, reader.block);
    reader.bytes_read = bytes_read;
    if (bytes_read > 0) {
        reader.encoding = encoding;
        reader.line_end_decided = line_end_decided;
        reader.line_end = line_end;
    }
}

uint64_t extend_content_hash(uint64_t hash, const char *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ULL;
    }
    return hash;
}

void continue_reading(LogReader &reader, File *file) {
    reader.file = file;
    reader.at_end_of_file = false;
}

const char *what_it_looks_like(const LogReader &reader) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(reader.first_bytes);
    const size_t length = reader.first_bytes_length;
    // Text in UTF-16 has a zero in every other byte, mostly.
    constexpr size_t ENOUGH_TO_TELL = 16;
    size_t zeros_at[2] = {0, 0};
    bool any_zero = false;
    size_t commas = 0;
    bool in_first_line = true;
    for (size_t i = 0; i < length; ++i) {
        zeros_at[i % 2] += bytes[i] == 0 ? 1 : 0;
        any_zero = any_zero || bytes[i] == 0;
        in_first_line = in_first_line && bytes[i] != '\n';
        commas += in_first_line && bytes[i] == ',' ? 1 : 0;
    }
    const size_t half = length / 2;
    const size_t more = std::max(zeros_at[0], zeros_at[1]);
    const size_t fewer = std::min(zeros_at[0], zeros_at[1]);
    if (length >= ENOUGH_TO_TELL && more > half / 2 && fewer <= more / 8) {
        return "UTF-16 without a byte order mark?";
    }
    if (any_zero) {
        return "binary data, not a tickwatch log?";
    }
    if (commas >= 2) {
        return "a CSV file, not a tickwatch log?";
    }
    return "not a tickwatch log?";
}

namespace {

// A UTF-16 unit into UTF-8 at out; what was written (a high surrogate waits
// for its low one; one alone is U+FFFD).
size_t put_utf16_unit(LogReader &reader, unsigned unit, char *out) {
    constexpr unsigned REPLACEMENT = 0xFFFD;
    size_t written = 0;
    unsigned code = unit;
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    const bool low = unit >= 0xDC00 && unit < 0xE000;
    if (reader.high_surrogate != 0) {
        const unsigned high_one = reader.high_surrogate;
        reader.high_surrogate = 0;
        if (low) {
            code = 0x10000 + ((high_one - 0xD800U) << 10U) + (unit - 0xDC00U);
        } else {
            written += put_utf16_unit(reader, REPLACEMENT, out);
        }
    } else if (low) {
        code = REPLACEMENT;
    }
    if (high) {
        reader.high_surrogate = static_cast<uint16_t>(unit);
        return written;
    }
    char *at = out + written;
    if (code < 0x80) {
        at[0] = static_cast<char>(code);
        return written + 1;
    }
    if (code < 0x800) {
        at[0] = static_cast<char>(0xC0 | (code >> 6));
        at[1] = static_cast<char>(0x80 | (code & 0x3F));
        return written + 2;
    }
    if (code < 0x10000) {
        at[0] = static_cast<char>(0xE0 | (code >> 12));
        at[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        at[2] = static_cast<char>(0x80 | (code & 0x3F));
        return written + 3;
    }
    at[0] = static_cast<char>(0xF0 | (code >> 18));
    at[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    at[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    at[3] = static_cast<char>(0x80 | (code & 0x3F));
    return written + 4;
}

// count bytes of UTF-16 from in, as UTF-8 to out; what was written. At most
// 3 bytes for each 2 read (4 for a pair), written behind what is read: in
// may lie ahead of out within the same block.
size_t decode_utf16(LogReader &reader, const char *in, size_t count, char *out) {
    const bool little = reader.encoding == TextEncoding::utf16_little_endian;
    const auto unit_of = [little](unsigned char first, unsigned char second) {
        return little ? first | (unsigned{second} << 8U) : (unsigned{first} << 8U) | second;
    };
    size_t written = 0;
    size_t i = 0;
    if (reader.holds_odd_byte && count > 0) {
        written += put_utf16_unit(reader, unit_of(reader.odd_byte, static_cast<unsigned char>(in[0])), out);
        reader.holds_odd_byte = false;
        i = 1;
    }
    for (; i + 1 < count; i += 2) {
        written += put_utf16_unit(
            reader, unit_of(static_cast<unsigned char>(in[i]), static_cast<unsigned char>(in[i + 1])), out + written);
    }
    if (i < count) {
        reader.odd_byte = static_cast<unsigned char>(in[i]);
        reader.holds_odd_byte = true;
    }
    return written;
}

// From the file's first two bytes, which are the last two in the block.
void decide_encoding(LogReader &reader) {
    const auto *first = reinterpret_cast<const unsigned char *>(reader.first_bytes);
    reader.encoding = TextEncoding::utf8;
    if (reader.first_bytes_length < 2) {
        return;  // read from the middle of a file
    }
    if (first[0] == 0xFF && first[1] == 0xFE) {
        reader.encoding = TextEncoding::utf16_little_endian;
    } else if (first[0] == 0xFE && first[1] == 0xFF) {
        reader.encoding = TextEncoding::utf16_big_endian;
    } else {
        return;
    }
    reader.end -= 2;  // the mark
}

// Moves the unread rest to the front of the block and fills up behind it.
// False on a read error.
bool refill(LogReader &reader) {
    const size_t rest = reader.end - reader.begin;
    if (rest > 0 && reader.begin > 0) {
        std::memmove(reader.block, reader.block + reader.begin, rest);
    }
    reader.begin = 0;
    reader.end = rest;
    const size_t room = READ_BLOCK_SIZE - rest;
    const bool utf16 =
        reader.encoding == TextEncoding::utf16_little_endian || reader.encoding == TextEncoding::utf16_big_endian;
    size_t wanted = room;
    char *into = reader.block + rest;
    if (reader.encoding == TextEncoding::undecided) {
        // Up to the mark's two bytes first, each kept.
        wanted = reader.bytes_read < 2 ? 2 - static_cast<size_t>(reader.bytes_read) : 0;
    } else if (utf16) {
        // At the block's end, so that what is decoded never overtakes it.
        constexpr size_t MARGIN = 8;
        wanted = (room - MARGIN) / 3 * 2;
        into = reader.block + READ_BLOCK_SIZE - wanted;
    }
    size_t count = 0;
    const bool read = wanted == 0 || reader.file->read(into, wanted, count);
    if (reader.hashes_content) {
        reader.content_hash = extend_content_hash(reader.content_hash, into, count);
    }
    if (reader.bytes_read == reader.first_bytes_length) {
        const size_t kept = std::min(count, FIRST_BYTES_KEPT - reader.first_bytes_length);
        std::memcpy(reader.first_bytes + reader.first_bytes_length, into, kept);
        reader.first_bytes_length += kept;
    }
    reader.bytes_read += count;
    reader.end += utf16 ? decode_utf16(reader, into, count, reader.block + rest) : count;
    if (reader.encoding == TextEncoding::undecided && (reader.bytes_read >= 2 || wanted == 0)) {
        decide_encoding(reader);
        if (count == wanted) {
            return true;
        }
    }
    if (count < wanted) {
        if (!read) {
            return false;
        }
        reader.at_end_of_file = true;
    }
    return true;
}

// LF, or CR alone, as the first line end in the file says: a CR followed by
// anything but CRs and an LF, and no LF in what is read (a stray CR in a
// file of LF lines leaves it LF).
void decide_line_end(LogReader &reader, const char *start, size_t rest) {
    const auto *cr = static_cast<const char *>(std::memchr(start, '\r', rest));
    const auto *lf = static_cast<const char *>(std::memchr(start, '\n', rest));
    if (cr == nullptr || (lf != nullptr && lf < cr)) {
        reader.line_end_decided = lf != nullptr;
        return;
    }
    const char *after = cr;
    while (after < start + rest && *after == '\r') {
        ++after;
    }
    if (after < start + rest) {
        reader.line_end_decided = true;
        reader.line_end = *after == '\n' || lf != nullptr ? '\n' : '\r';
    }
}

void skip_byte_order_mark(const LogReader &reader, const char *&text, size_t &length) {
    if (reader.line_number == 1 && length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        length -= 3;
    }
}

}  // namespace

ReadResult read_line(LogReader &reader, const char *&text, size_t &length) {
    for (;;) {
        const size_t rest = reader.end - reader.begin;
        const char *start = reader.block + reader.begin;
        if (!reader.line_end_decided) {
            decide_line_end(reader, start, rest);
        }
        const auto *line_end = static_cast<const char *>(std::memchr(start, reader.line_end, rest));
        if (line_end != nullptr) {
            const auto line_length = static_cast<size_t>(line_end - start);
            reader.begin += line_length + 1;
            ++reader.line_number;
            if (reader.skipping_long_line || line_length > MAX_LINE_LENGTH) {
                reader.skipping_long_line = false;
                return ReadResult::too_long;
            }
            text = start;
            length = line_length;
            skip_byte_order_mark(reader, text, length);
            return ReadResult::line;
        }
        if (rest > MAX_LINE_LENGTH) {
            // Too long to keep: drop it and look for its end.
            reader.skipping_long_line = true;
            reader.begin = reader.end;
        }
        if (reader.at_end_of_file) {
            if (reader.waits_for_line_end) {
                return ReadResult::end;
            }
            reader.begin = reader.end;
            if (reader.skipping_long_line) {
                reader.skipping_long_line = false;
                ++reader.line_number;
                return ReadResult::too_long;
            }
            if (rest == 0) {
                return ReadResult::end;
            }
            ++reader.line_number;
            text = start;
            length = rest;
            skip_byte_order_mark(reader, text, length);
            return ReadResult::cut_short;
        }
        if (!refill(reader)) {
            return ReadResult::error;
        }
    }
}
