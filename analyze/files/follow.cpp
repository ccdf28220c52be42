#include "analyze/files/follow.h"

#include <cerrno>
#include <cstring>

void start_following(FollowedLog &log, FileSystem &system, const char *name, char *block) {
    log = FollowedLog{};
    log.system = &system;
    log.name = name;
    start_reading(log.reader, nullptr, block);
    log.reader.waits_for_line_end = true;
    log.reader.hashes_content = true;
}

namespace {

constexpr size_t HASH_CHUNK_SIZE = size_t{1} << 16;

// The hash of the file's first length bytes and its line ends among them;
// false if it has fewer.
bool hash_prefix(File &file, uint64_t length, uint64_t &hash, uint64_t &line_ends) {
    hash = EMPTY_CONTENT_HASH;
    line_ends = 0;
    if (!file.seek(0)) {
        return false;
    }
    // (Seldom: at a rotation or a truncation.)
    const auto chunk = std::make_unique<char[]>(HASH_CHUNK_SIZE);
    while (length > 0) {
        const size_t wanted = length < HASH_CHUNK_SIZE ? static_cast<size_t>(length) : HASH_CHUNK_SIZE;
        size_t count = 0;
        file.read(chunk.get(), wanted, count);
        if (count == 0) {
            return false;
        }
        hash = extend_content_hash(hash, chunk.get(), count);
        for (size_t i = 0; i < count; ++i) {
            line_ends += chunk[i] == '\n' ? 1 : 0;
        }
        length -= count;
    }
    return true;
}

// Starts the reader at offset of file, dropping what it held back.
void restart_reader(LogReader &r, uint64_t offset, uint64_t hash, uint64_t line_number) {
    // (The encoding stays what the file's start told, when read on from
    // within it.)
    restart_reading(r, offset);
    r.file = nullptr;
    r.waits_for_line_end = true;
    r.hashes_content = true;
    r.content_hash = hash;
    r.line_number = line_number;
}

PollResult unavailable(FollowedLog &log, std::unique_ptr<File> &file, int error) {
    log.error = error != 0 ? error : EIO;
    file.reset();
    return PollResult::unavailable;
}

}  // namespace

PollResult poll_followed_log(FollowedLog &log, std::unique_ptr<File> &file, bool &dropped_partial_line) {
    dropped_partial_line = false;
    file = log.system->open_without_waiting(log.name);
    if (file == nullptr) {
        return unavailable(log, file, errno);
    }
    FileStatus status = {};
    if (!file->status(status)) {
        return unavailable(log, file, errno);
    }
    if (status.kind != FileKind::regular) {
        file.reset();
        log.error = 0;
        return PollResult::not_regular;
    }
    char first_bytes[FINGERPRINT_SIZE];
    size_t first_length = 0;
    if (!file->read(first_bytes, sizeof first_bytes, first_length)) {
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
        if (same_identity || (hash_prefix(*file, r.bytes_read, hash, line_ends) && hash == r.content_hash)) {
            result = PollResult::same_file;
        }
    } else if (log.opened_before && same_start && same_identity && status.size < r.bytes_read) {
        if (!hash_prefix(*file, status.size, hash, line_ends)) {
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
    log.has_identity = status.has_identity;
    log.device = status.device;
    log.inode = status.inode;
    log.opened_before = true;
    if (!file->seek(r.bytes_read)) {
        return unavailable(log, file, errno);
    }
    log.error = 0;
    continue_reading(r, file.get());
    return result;
}
