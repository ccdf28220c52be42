// Following a log by its name while it grows, the way tickwatch appends to
// it and rotation tools rename it.
//
// The file is held open only while it is read, at each poll: on Windows a
// file held open cannot be renamed or deleted, and tickwatch and rotation
// tools must be free to do both. So each poll opens the name afresh and
// tells whether it is still the file read so far. It is taken for a new file
// when
//   - it is shorter than what was read of it (a new file, or one truncated),
//   - its first bytes (up to FINGERPRINT_SIZE, which reach past the first
//     report line and its time) differ from those seen before, or
//   - on POSIX systems, its device and inode differ.
// A new file is read from its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "analyze/parse/log_reader.h"

constexpr size_t FINGERPRINT_SIZE = 512;

struct FollowedLog {
    const char *name;
    LogReader reader;  // waits for the end of a last line cut short
    unsigned char fingerprint[FINGERPRINT_SIZE];
    size_t fingerprint_length;  // grows with the file up to FINGERPRINT_SIZE
    bool has_identity;
    uint64_t device;
    uint64_t inode;
    bool opened_before;  // a file by the name has been read
    int error;           // errno of the last poll that found no file to read, or 0
};

enum class PollResult {
    same_file,    // read on where the last poll stopped
    new_file,     // not the file read before (or the first): read from its start
    unavailable,  // nothing to read by the name now; errno tells why
};

// Only a regular file can be followed (find_file tells): a pipe or a device
// has no start to read again, nor a size to compare.

// block: READ_BLOCK_SIZE characters, the reader's.
void start_following(FollowedLog &log, const char *name, char *block);

// Opens the file by the name and leaves log.reader ready to read what is
// new; the caller reads lines until ReadResult::end, then closes file.
// With new_file, a last line that was still waiting for its end in the
// file before is dropped: dropped_partial_line tells.
PollResult poll_followed_log(FollowedLog &log, std::FILE *&file, bool &dropped_partial_line);
