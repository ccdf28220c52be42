#include "analyze/files/log_reader.h"

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

namespace {

// Moves the unread rest to the front of the block and fills up behind it.
// False on a read error.
bool refill(LogReader &reader) {
    const size_t rest = reader.end - reader.begin;
    if (rest > 0 && reader.begin > 0) {
        std::memmove(reader.block, reader.block + reader.begin, rest);
    }
    reader.begin = 0;
    reader.end = rest;
    size_t count = 0;
    const bool read = reader.file->read(reader.block + rest, READ_BLOCK_SIZE - rest, count);
    if (reader.hashes_content) {
        reader.content_hash = extend_content_hash(reader.content_hash, reader.block + reader.end, count);
    }
    reader.end += count;
    reader.bytes_read += count;
    if (count < READ_BLOCK_SIZE - rest) {
        if (!read) {
            return false;
        }
        reader.at_end_of_file = true;
    }
    return true;
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
        const auto *line_end = static_cast<const char *>(std::memchr(start, '\n', rest));
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
