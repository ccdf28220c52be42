#include "analyze/parse/follow.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

void start_following(FollowedLog &log, const char *name, char *block) {
    log = FollowedLog{};
    log.name = name;
    start_reading(log.reader, nullptr, block);
    log.reader.waits_for_line_end = true;
}

// The 64-bit forms: logs grow beyond 2 GB over long enough.
static bool file_size_and_identity(std::FILE *file, uint64_t &size, uint64_t &device, uint64_t &inode) {
#ifdef _WIN32
    struct _stat64 status = {};
    if (_fstat64(_fileno(file), &status) != 0) {
        return false;
    }
    device = 0;
    inode = 0;  // always 0 on Windows: only the size and the first bytes tell
#else
    struct stat status = {};
    if (fstat(fileno(file), &status) != 0) {
        return false;
    }
    device = static_cast<uint64_t>(status.st_dev);
    inode = static_cast<uint64_t>(status.st_ino);
#endif
    size = static_cast<uint64_t>(status.st_size);
    return true;
}

static bool seek_to(std::FILE *file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

PollResult poll_followed_log(FollowedLog &log, std::FILE *&file, bool &dropped_partial_line) {
    dropped_partial_line = false;
    file = std::fopen(log.name, "rb");
    if (file == nullptr) {
        log.error = errno;
        return PollResult::unavailable;
    }
    uint64_t size = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    unsigned char first_bytes[FINGERPRINT_SIZE];
    size_t first_length = 0;
    if (!file_size_and_identity(file, size, device, inode) ||
        (first_length = std::fread(first_bytes, 1, sizeof first_bytes, file), std::ferror(file) != 0)) {
        log.error = errno != 0 ? errno : EIO;
        std::fclose(file);
        file = nullptr;
        return PollResult::unavailable;
    }
    const bool same_file = log.opened_before && size >= log.reader.bytes_read &&
                           first_length >= log.fingerprint_length &&
                           std::memcmp(first_bytes, log.fingerprint, log.fingerprint_length) == 0 &&
                           (!log.has_identity || (device == log.device && inode == log.inode));
    if (!same_file) {
        LogReader &r = log.reader;
        dropped_partial_line = r.end > r.begin || r.skipping_long_line;
        start_reading(r, file, r.block);
        r.waits_for_line_end = true;
    }
    std::memcpy(log.fingerprint, first_bytes, first_length);
    log.fingerprint_length = first_length;
#ifndef _WIN32
    log.has_identity = true;
#endif
    log.device = device;
    log.inode = inode;
    log.opened_before = true;
    if (!seek_to(file, log.reader.bytes_read)) {
        log.error = errno;
        std::fclose(file);
        file = nullptr;
        return PollResult::unavailable;
    }
    log.error = 0;
    continue_reading(log.reader, file);
    return same_file ? PollResult::same_file : PollResult::new_file;
}
