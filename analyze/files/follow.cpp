#include "analyze/files/follow.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

void start_following(FollowedLog &log, const char *name, char *block) {
    log = FollowedLog{};
    log.name = name;
    start_reading(log.reader, nullptr, block);
    log.reader.waits_for_line_end = true;
    log.reader.hashes_content = true;
}

namespace {

struct FileStatus {
    bool regular;
    uint64_t size;
    uint64_t device;
    uint64_t inode;
};

// The 64-bit forms: logs grow beyond 2 GB over long enough.
bool status_of(std::FILE *file, FileStatus &status) {
#ifdef _WIN32
    struct _stat64 found = {};
    if (_fstat64(_fileno(file), &found) != 0) {
        return false;
    }
    status.device = 0;
    status.inode = 0;  // always 0 on Windows: only the size and the first bytes tell
#else
    struct stat found = {};
    if (fstat(fileno(file), &found) != 0) {
        return false;
    }
    status.device = static_cast<uint64_t>(found.st_dev);
    status.inode = static_cast<uint64_t>(found.st_ino);
#endif
    status.regular = (found.st_mode & S_IFMT) == S_IFREG;
    status.size = static_cast<uint64_t>(found.st_size);
    return true;
}

bool seek_to(std::FILE *file, uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

// Opens the name for reading without ever waiting: a FIFO opened for
// reading would block until a writer comes. Null with errno set.
std::FILE *open_without_blocking(const char *name) {
#ifdef _WIN32
    // No FIFOs to wait on; the kind is looked at once it is open.
    return std::fopen(name, "rb");
#else
    const int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    std::FILE *file = fdopen(descriptor, "rb");
    if (file == nullptr) {
        const int error = errno;
        close(descriptor);
        errno = error;
    }
    return file;
#endif
}

// The hash of the file's first length bytes and its line ends among them;
// false if it has fewer.
bool hash_prefix(std::FILE *file, uint64_t length, uint64_t &hash, uint64_t &line_ends) {
    static char chunk[1 << 16];
    hash = EMPTY_CONTENT_HASH;
    line_ends = 0;
    if (!seek_to(file, 0)) {
        return false;
    }
    while (length > 0) {
        const size_t wanted = length < sizeof chunk ? static_cast<size_t>(length) : sizeof chunk;
        const size_t count = std::fread(chunk, 1, wanted, file);
        if (count == 0) {
            return false;
        }
        hash = extend_content_hash(hash, chunk, count);
        for (size_t i = 0; i < count; ++i) {
            line_ends += chunk[i] == '\n' ? 1 : 0;
        }
        length -= count;
    }
    return true;
}

// Starts the reader at offset of file, dropping what it held back.
void restart_reader(LogReader &r, uint64_t offset, uint64_t hash, uint64_t line_number) {
    start_reading(r, nullptr, r.block);
    r.waits_for_line_end = true;
    r.hashes_content = true;
    r.bytes_read = offset;
    r.content_hash = hash;
    r.line_number = line_number;
}

PollResult unavailable(FollowedLog &log, std::FILE *&file, int error) {
    log.error = error != 0 ? error : EIO;
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    return PollResult::unavailable;
}

}  // namespace

PollResult poll_followed_log(FollowedLog &log, std::FILE *&file, bool &dropped_partial_line) {
    dropped_partial_line = false;
    file = open_without_blocking(log.name);
    if (file == nullptr) {
        return unavailable(log, file, errno);
    }
    FileStatus status = {};
    if (!status_of(file, status)) {
        return unavailable(log, file, errno);
    }
    if (!status.regular) {
        std::fclose(file);
        file = nullptr;
        log.error = 0;
        return PollResult::not_regular;
    }
    unsigned char first_bytes[FINGERPRINT_SIZE];
    const size_t first_length = std::fread(first_bytes, 1, sizeof first_bytes, file);
    if (std::ferror(file) != 0) {
        return unavailable(log, file, errno);
    }
    LogReader &r = log.reader;
    const bool same_identity = !log.has_identity || (status.device == log.device && status.inode == log.inode);
    const size_t compared = first_length < log.fingerprint_length ? first_length : log.fingerprint_length;
    const bool same_start = std::memcmp(first_bytes, log.fingerprint, compared) == 0;
    const bool has_all_read = status.size >= r.bytes_read && first_length >= log.fingerprint_length;
    PollResult result = PollResult::new_file;
    uint64_t hash = 0;
    uint64_t line_ends = 0;
    if (log.opened_before && same_start && has_all_read) {
        // Another inode holds the same content only if every byte read is there.
        if (same_identity || (hash_prefix(file, r.bytes_read, hash, line_ends) && hash == r.content_hash)) {
            result = PollResult::same_file;
        }
    } else if (log.opened_before && same_start && same_identity && status.size < r.bytes_read) {
        if (!hash_prefix(file, status.size, hash, line_ends)) {
            return unavailable(log, file, errno);
        }
        result = PollResult::truncated;
    }
    if (result != PollResult::same_file) {
        dropped_partial_line = r.end > r.begin || r.skipping_long_line;
    }
    if (result == PollResult::new_file) {
        restart_reader(r, 0, EMPTY_CONTENT_HASH, 0);
    } else if (result == PollResult::truncated) {
        restart_reader(r, status.size, hash, line_ends);
    }
    std::memcpy(log.fingerprint, first_bytes, first_length);
    log.fingerprint_length = first_length;
#ifndef _WIN32
    log.has_identity = true;
#endif
    log.device = status.device;
    log.inode = status.inode;
    log.opened_before = true;
    if (!seek_to(file, r.bytes_read)) {
        return unavailable(log, file, errno);
    }
    log.error = 0;
    continue_reading(r, file);
    return result;
}
