// Following a log by its name while it grows, the way tickwatch appends to
// it and rotation tools rename it.
//
// The file is held open only while it is read, at each poll: on Windows a
// file held open cannot be renamed or deleted, and tickwatch and rotation
// tools must be free to do both. So each poll opens the name afresh and
// tells whether it is still the file read so far:
//   - the same file (on POSIX systems the same device and inode), at least
//     as long as what was read of it, with the same first bytes (up to
//     FINGERPRINT_SIZE, which reach past the first report line and its
//     time): read on where the last poll stopped;
//   - the same file, shorter, with its first bytes unchanged: truncated,
//     read on from its new end, so that nothing is read twice (what comes
//     after the new end is read as it comes: its writer appends whole lines);
//   - another inode, at least as long, whose bytes up to where the reading
//     stopped are those read (by a hash of them: memory stays bounded): the
//     same content rewritten under a new inode (sed -i), read on too;
//   - anything else is a new file, read from its start.
// Only a regular file is read: a name that becomes a pipe or a device is
// skipped (opened without blocking, never read) until it is a file again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "analyze/files/log_reader.h"
#include "analyze/files/system.h"

constexpr size_t FINGERPRINT_SIZE = 512;

struct FollowedLog {
    FileSystem *system;
    const char *name;
    LogReader reader;  // waits for the end of a last line cut short
    unsigned char fingerprint[FINGERPRINT_SIZE];
    size_t fingerprint_length;  // grows with the file up to FINGERPRINT_SIZE
    bool has_identity;          // device and inode tell the file (not on Windows)
    uint64_t device;
    uint64_t inode;
    bool opened_before;  // a file by the name has been read
    int error;           // errno of the last poll that found no file to read, or 0
};

enum class PollResult {
    same_file,    // read on where the last poll stopped (the same content, maybe under a new inode)
    truncated,    // the same file made shorter: read on from its new end
    new_file,     // not the file read before (or the first): read from its start
    not_regular,  // the name is a pipe, a device, a directory now: nothing read
    unavailable,  // nothing to read by the name now; log.error tells why
};

// block: READ_BLOCK_SIZE characters, the reader's.
void start_following(FollowedLog &log, FileSystem &system, const char *name, char *block);

// Opens the file by the name and leaves log.reader ready to read what is
// new; the caller reads lines until ReadResult::end, then closes file
// (open with same_file, truncated and new_file only). With new_file or
// truncated, a last line that was still waiting for its end is dropped:
// dropped_partial_line tells.
PollResult poll_followed_log(FollowedLog &log, std::unique_ptr<File> &file, bool &dropped_partial_line);
