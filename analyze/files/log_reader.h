// Reads a log line by line in large blocks, in memory bounded by the block
// whatever the file's length or its lines' length. A log comes as tickwatch
// wrote it, or as Windows keeps text: with LF or CR LF line ends, or CR
// alone; in UTF-8, with or without a byte order mark, or in UTF-16 of
// either byte order after its mark (what PowerShell's ">" writes), which is
// read as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "analyze/files/system.h"

// No line tickwatch writes comes near this (its lines are at most 255
// characters); longer ones are skipped unread.
constexpr size_t MAX_LINE_LENGTH = 4096;
constexpr size_t READ_BLOCK_SIZE = size_t{1} << 20;

enum class TextEncoding : uint8_t {
    undecided,  // before the file's first two bytes
    utf8,
    utf16_little_endian,
    utf16_big_endian,
};

// The file's first bytes as they are, to tell what a file that is no log
// looks like.
constexpr size_t FIRST_BYTES_KEPT = 64;

struct LogReader {
    File *file;
    char *block;        // READ_BLOCK_SIZE characters
    size_t begin, end;  // the part of the block not yet returned
    bool at_end_of_file;
    bool skipping_long_line;
    uint64_t line_number;  // of the line last returned
    uint64_t bytes_read;   // from the file into the block: where the next read starts
    // For a log still being written: a last line without its line end is
    // kept in the block, unreturned, until more of the file is read.
    bool waits_for_line_end;
    // For a log followed by its name: a hash of the bytes_read bytes, which
    // tells the same content under a new inode without keeping it.
    bool hashes_content;
    uint64_t content_hash;
    TextEncoding encoding;
    // UTF-16: a byte of a unit whose other byte is still to be read, and a
    // high surrogate whose low one is.
    bool holds_odd_byte;
    unsigned char odd_byte;
    uint16_t high_surrogate;  // 0 when none
    // LF (with or without CRs before it), or CR alone: told by the first line end.
    bool line_end_decided;
    char line_end;
    char first_bytes[FIRST_BYTES_KEPT];
    size_t first_bytes_length;
};

constexpr uint64_t EMPTY_CONTENT_HASH = 14695981039346656037ULL;  // FNV-1a's offset basis

// FNV-1a, 64 bits: hash extended over count more bytes.
uint64_t extend_content_hash(uint64_t hash, const char *bytes, size_t count);

enum class ReadResult {
    line,       // a line, without its LF
    too_long,   // a line longer than MAX_LINE_LENGTH, skipped
    cut_short,  // the last line of the file, which has no line end
    end,
    error,  // errno tells why
};

// The reader takes over file and block; neither is released by the reader.
void start_reading(LogReader &reader, File *file, char *block);

// Starts reading afresh at a point of a file whose encoding was told
// before: from bytes_read, with that encoding and line end.
void restart_reading(LogReader &reader, uint64_t bytes_read);

// What a file that holds no log line looks like, from its first bytes:
// for the reason it was not read, as "not a tickwatch log?" does.
const char *what_it_looks_like(const LogReader &reader);

// Reading on after the end of the file, from bytes_read of file (positioned
// there), which takes the place of the one before.
void continue_reading(LogReader &reader, File *file);

// The next line: its text stays valid until the next call. A byte order
// mark before the first line (an editor's, PowerShell's) is left out.
ReadResult read_line(LogReader &reader, const char *&text, size_t &length);
