#include "analyze/files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>

#include <filesystem>
#include <string>
#else
#include <unistd.h>
#endif

namespace {

void report_problem(const char *name, const char *problem, const char *reason) {
    std::fprintf(stderr, "tickwatch-analyze: %s: %s%s%s\n", name, problem, *reason != '\0' ? ": " : "", reason);
}

bool is_standard_input(const char *name) { return std::strcmp(name, "-") == 0; }

enum class Sameness { same, different, unknown };

#ifdef _WIN32
// The run-time's names are in the ANSI code page: converted as fopen would,
// so that std::filesystem finds the same files (and never aborts on a name
// it cannot convert).
bool wide_path(const char *name, std::filesystem::path &path) {
    const size_t length = std::mbstowcs(nullptr, name, 0);
    if (length == static_cast<size_t>(-1)) {
        return false;
    }
    std::wstring wide(length, L'\0');
    std::mbstowcs(wide.data(), name, length);
    path = std::filesystem::path(wide);
    return true;
}

// The file index, through std::filesystem: the run-time's st_ino is 0.
Sameness same_file(const char *a, const char *b) {
    std::filesystem::path path_a;
    std::filesystem::path path_b;
    if (is_standard_input(a) || is_standard_input(b) || !wide_path(a, path_a) || !wide_path(b, path_b)) {
        return Sameness::unknown;
    }
    std::error_code error;
    const bool same = std::filesystem::equivalent(path_a, path_b, error);
    if (error) {
        return Sameness::unknown;
    }
    return same ? Sameness::same : Sameness::different;
}

bool same_leaf(const char *a, const char *b) { return _stricmp(a, b) == 0; }
bool is_separator(char c) { return c == '/' || c == '\\' || c == ':'; }

bool write_over(const char *from, const char *to, const char *&reason) {
    static char message[256];
    std::filesystem::path from_path;
    std::filesystem::path to_path;
    if (!wide_path(from, from_path) || !wide_path(to, to_path)) {
        reason = "the name cannot be converted";
        return false;
    }
    // Unlike the run-time's rename, this replaces an existing file.
    std::error_code error;
    std::filesystem::rename(from_path, to_path, error);
    if (error) {
        std::snprintf(message, sizeof message, "%s", error.message().c_str());
        reason = message;
        return false;
    }
    return true;
}

int open_exclusive(const char *name, const struct _stat64 *) {
    return _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

using FileStatus = struct _stat64;
int status_of(const char *name, FileStatus &status) { return _stat64(name, &status); }
int status_of(int descriptor, FileStatus &status) { return _fstat64(descriptor, &status); }
bool is_writable(const char *name) { return _access(name, 2) == 0; }
unsigned long process_id() { return static_cast<unsigned long>(_getpid()); }
std::FILE *stream_of(int descriptor) { return _fdopen(descriptor, "wb"); }
#else
// Device and inode; "-" is standard input, which may be a file too.
Sameness same_file(const char *a, const char *b) {
    struct stat status_a = {};
    struct stat status_b = {};
    const int found_a = is_standard_input(a) ? fstat(STDIN_FILENO, &status_a) : stat(a, &status_a);
    const int found_b = is_standard_input(b) ? fstat(STDIN_FILENO, &status_b) : stat(b, &status_b);
    if (found_a != 0 || found_b != 0) {
        return Sameness::unknown;
    }
    const bool same = status_a.st_dev == status_b.st_dev && status_a.st_ino == status_b.st_ino;
    return same ? Sameness::same : Sameness::different;
}

bool same_leaf(const char *a, const char *b) { return std::strcmp(a, b) == 0; }
bool is_separator(char c) { return c == '/'; }

bool write_over(const char *from, const char *to, const char *&reason) {
    if (std::rename(from, to) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

// With the mode of the file it replaces, if any.
int open_exclusive(const char *name, const struct stat *replaced) {
    const int descriptor = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor >= 0 && replaced != nullptr) {
        fchmod(descriptor, replaced->st_mode & 07777);
    }
    return descriptor;
}

using FileStatus = struct stat;
int status_of(const char *name, FileStatus &status) { return stat(name, &status); }
int status_of(int descriptor, FileStatus &status) { return fstat(descriptor, &status); }
bool is_link(const char *name) {
    struct stat status = {};
    return lstat(name, &status) == 0 && S_ISLNK(status.st_mode);
}
bool is_writable(const char *name) { return access(name, W_OK) == 0; }
unsigned long process_id() { return static_cast<unsigned long>(getpid()); }
std::FILE *stream_of(int descriptor) { return fdopen(descriptor, "wb"); }
#endif

// Two names of files that need not exist yet: the same when they are the
// same file, or name the same entry of the same directory.
bool same_output(const char *a, const char *b) {
    const Sameness sameness = same_file(a, b);
    if (sameness != Sameness::unknown) {
        return sameness == Sameness::same;
    }
    const char *leaf_a = a + std::strlen(a);
    const char *leaf_b = b + std::strlen(b);
    while (leaf_a > a && !is_separator(leaf_a[-1])) {
        --leaf_a;
    }
    while (leaf_b > b && !is_separator(leaf_b[-1])) {
        --leaf_b;
    }
    if (!same_leaf(leaf_a, leaf_b)) {
        return false;
    }
    // The directories: "." for none, the root for "/x".
    char directory_a[OUTPUT_PATH_SIZE];
    char directory_b[OUTPUT_PATH_SIZE];
    std::snprintf(directory_a, sizeof directory_a, "%.*s.", static_cast<int>(leaf_a - a), a);
    std::snprintf(directory_b, sizeof directory_b, "%.*s.", static_cast<int>(leaf_b - b), b);
    return same_file(directory_a, directory_b) == Sameness::same;
}

bool open_in_place(OutputFile &output) {
    output.temporary[0] = '\0';
    output.file = std::fopen(output.target, "wb");
    if (output.file == nullptr) {
        report_problem(output.target, "cannot write", std::strerror(errno));
    }
    return output.file != nullptr;
}

}  // namespace

bool same_output_name(const char *a, const char *b) { return same_output(a, b); }

bool check_output_names(const char *const *outputs, int output_count, const char *const *logs, int log_count) {
    bool distinct = true;
    for (int i = 0; i < output_count; ++i) {
        for (int j = 0; j < log_count; ++j) {
            if (same_file(outputs[i], logs[j]) == Sameness::same) {
                char what[OUTPUT_PATH_SIZE + 64];
                std::snprintf(what, sizeof what, "the output is the same file as the log %s",
                              is_standard_input(logs[j]) ? "on standard input" : logs[j]);
                report_problem(outputs[i], what, "");
                distinct = false;
            }
        }
        for (int j = 0; j < i; ++j) {
            if (same_output(outputs[i], outputs[j])) {
                char what[OUTPUT_PATH_SIZE + 64];
                std::snprintf(what, sizeof what, "the same file as the output %s: each output needs a file of its own",
                              outputs[j]);
                report_problem(outputs[i], what, "");
                distinct = false;
            }
        }
    }
    return distinct;
}

bool open_output_file(OutputFile &output, const char *target) {
    output.target = target;
    output.temporary[0] = '\0';
    output.file = nullptr;
    if (std::strlen(target) >= sizeof output.destination) {
        report_problem(target, "cannot write", std::strerror(ENAMETOOLONG));
        return false;
    }
    std::snprintf(output.destination, sizeof output.destination, "%s", target);
    FileStatus status = {};
    const bool exists = status_of(target, status) == 0;
    if (exists && (status.st_mode & S_IFMT) == S_IFDIR) {
        report_problem(target, "cannot write", "it is a directory");
        return false;
    }
    if (exists && !is_writable(target)) {
        report_problem(target, "cannot write", std::strerror(errno));
        return false;
    }
    if (exists && (status.st_mode & S_IFMT) != S_IFREG) {
        // A device or a pipe: nothing there to keep.
        return open_in_place(output);
    }
#ifndef _WIN32
    // Through a link to the file it names, which the rename then replaces.
    if (exists && is_link(target)) {
        char *resolved = realpath(target, nullptr);
        if (resolved != nullptr && std::strlen(resolved) < sizeof output.destination) {
            std::snprintf(output.destination, sizeof output.destination, "%s", resolved);
        }
        std::free(resolved);
    }
#endif
    // Beside the target, so that the rename stays within one file system;
    // named by the process, so that two runs at once never share one.
    static unsigned serial = 0;
    int descriptor = -1;
    for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
        const int length = std::snprintf(output.temporary, sizeof output.temporary, "%s.%lu-%u.tmp", output.destination,
                                         process_id(), serial++);
        if (length < 0 || static_cast<size_t>(length) >= sizeof output.temporary) {
            errno = ENAMETOOLONG;
            break;
        }
        descriptor = open_exclusive(output.temporary, exists ? &status : nullptr);
        if (descriptor < 0 && errno != EEXIST) {
            break;
        }
    }
    FileStatus opened = {};
    if (descriptor >= 0 && status_of(descriptor, opened) == 0 && (opened.st_mode & S_IFMT) != S_IFREG) {
        // Windows's device names (NUL, CON) name the device whatever
        // follows them, and are not found by name beforehand.
        close(descriptor);
        return open_in_place(output);
    }
    if (descriptor >= 0) {
        output.file = stream_of(descriptor);
    }
    if (output.file == nullptr) {
        const int error = errno;
        if (descriptor >= 0) {
            close(descriptor);
            std::remove(output.temporary);
        }
        output.temporary[0] = '\0';
        report_problem(target, "cannot write", std::strerror(error));
        return false;
    }
    return true;
}

bool finish_output_file(OutputFile &output) {
    if (output.file == nullptr) {
        return true;
    }
    const char *reason = nullptr;
    if (std::fflush(output.file) != 0) {
        reason = std::strerror(errno);
    } else if (std::ferror(output.file) != 0) {
        reason = "a write failed";
    }
    if (std::fclose(output.file) != 0 && reason == nullptr) {
        reason = std::strerror(errno);
    }
    output.file = nullptr;
    if (reason != nullptr) {
        report_problem(output.target, "cannot write", reason);
        discard_output_file(output);
        return false;
    }
    return true;
}

bool commit_output_file(OutputFile &output) {
    if (!finish_output_file(output)) {
        return false;
    }
    const char *reason = nullptr;
    if (output.temporary[0] != '\0' && !write_over(output.temporary, output.destination, reason)) {
        report_problem(output.target, "cannot write", reason);
        discard_output_file(output);
        return false;
    }
    output.temporary[0] = '\0';
    return true;
}

void discard_output_file(OutputFile &output) {
    if (output.file != nullptr) {
        std::fclose(output.file);
        output.file = nullptr;
    }
    if (output.temporary[0] != '\0') {
        std::remove(output.temporary);
        output.temporary[0] = '\0';
    }
}
