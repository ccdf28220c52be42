#include "analyze/files/system.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <process.h>

#include <filesystem>
#include <string>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// Each system's calls, side by side; what is made of them is written once
// below. Sizes and offsets are 64 bits on both: logs grow beyond 2 GB.
#ifdef _WIN32

using SystemStatus = struct _stat64;
int status_by_name(const char *name, SystemStatus &found) { return _stat64(name, &found); }
int status_by_descriptor(int descriptor, SystemStatus &found) { return _fstat64(descriptor, &found); }
// The run-time's st_ino is always 0: nothing tells two files apart.
void take_identity(const SystemStatus & /*found*/, FileStatus &status) { status.has_identity = false; }
bool may_access(const char *name, bool to_write) { return _access(name, to_write ? 2 : 4) == 0; }

// No pipes to wait on; every file as it is, without CR LF turned into LF.
constexpr int WITHOUT_WAITING = _O_RDONLY | _O_BINARY;
constexpr int NEW_FILE = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
constexpr int TO_APPEND = _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY;
int open_descriptor(const char *name, int flags) { return _open(name, flags, _S_IREAD | _S_IWRITE); }
void set_permissions(int /*descriptor*/, unsigned /*permissions*/) {}
std::FILE *stream_of(int descriptor, const char *mode) { return _fdopen(descriptor, mode); }
void close_descriptor(int descriptor) { _close(descriptor); }
int descriptor_of(std::FILE *stream) { return _fileno(stream); }
long long write_descriptor(int descriptor, const char *data, size_t size) {
    return _write(descriptor, data, static_cast<unsigned>(size));
}
bool truncate_descriptor(int descriptor, uint64_t length) {
    const errno_t error = _chsize_s(descriptor, static_cast<__int64>(length));
    errno = error != 0 ? error : errno;
    return error == 0;
}
bool seek_stream(std::FILE *stream, uint64_t offset) {
    return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}
void as_is(std::FILE *stream) { _setmode(_fileno(stream), _O_BINARY); }
unsigned long id_of_process() { return static_cast<unsigned long>(_getpid()); }

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

// The file index, through std::filesystem.
Sameness same_file_by_names(const char *a, const char *b) {
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

bool rename_over(const char *from, const char *to, char *reason, size_t reason_size) {
    std::filesystem::path from_path;
    std::filesystem::path to_path;
    if (!wide_path(from, from_path) || !wide_path(to, to_path)) {
        std::snprintf(reason, reason_size, "the name cannot be converted");
        return false;
    }
    // Unlike the run-time's rename, this replaces an existing file.
    std::error_code error;
    std::filesystem::rename(from_path, to_path, error);
    if (error) {
        std::snprintf(reason, reason_size, "%s", error.message().c_str());
        return false;
    }
    return true;
}

bool link_target(const char * /*name*/, char * /*path*/, size_t /*size*/) { return false; }

// (A pipe's reader that went away is seen only by a write there.)
bool output_descriptor_gone(int /*descriptor*/) { return false; }

void set_up_system() {
    // File names in the ANSI code page, as the run-time's own functions
    // take them, for std::filesystem too.
    std::setlocale(LC_CTYPE, "");
}

#else

using SystemStatus = struct stat;
int status_by_name(const char *name, SystemStatus &found) { return stat(name, &found); }
int status_by_descriptor(int descriptor, SystemStatus &found) { return fstat(descriptor, &found); }
void take_identity(const SystemStatus &found, FileStatus &status) {
    status.has_identity = true;
    status.device = static_cast<uint64_t>(found.st_dev);
    status.inode = static_cast<uint64_t>(found.st_ino);
    status.permissions = found.st_mode & 07777;
}
bool may_access(const char *name, bool to_write) { return access(name, to_write ? W_OK : R_OK) == 0; }

// A FIFO opened to be read would block until a writer comes.
constexpr int WITHOUT_WAITING = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
constexpr int NEW_FILE = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
constexpr int TO_APPEND = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
int open_descriptor(const char *name, int flags) { return open(name, flags, 0666); }
void set_permissions(int descriptor, unsigned permissions) { fchmod(descriptor, permissions); }
std::FILE *stream_of(int descriptor, const char *mode) { return fdopen(descriptor, mode); }
void close_descriptor(int descriptor) { close(descriptor); }
int descriptor_of(std::FILE *stream) { return fileno(stream); }
long long write_descriptor(int descriptor, const char *data, size_t size) { return write(descriptor, data, size); }
bool truncate_descriptor(int descriptor, uint64_t length) {
    return ftruncate(descriptor, static_cast<off_t>(length)) == 0;
}
bool seek_stream(std::FILE *stream, uint64_t offset) {
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}
void as_is(std::FILE * /*stream*/) {}
unsigned long id_of_process() { return static_cast<unsigned long>(getpid()); }

// Device and inode; "-" is standard input, which may be a file too.
Sameness same_file_by_names(const char *a, const char *b) {
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

bool rename_over(const char *from, const char *to, char *reason, size_t reason_size) {
    if (std::rename(from, to) != 0) {
        std::snprintf(reason, reason_size, "%s", std::strerror(errno));
        return false;
    }
    return true;
}

bool link_target(const char *name, char *path, size_t size) {
    struct stat status = {};
    if (lstat(name, &status) != 0 || !S_ISLNK(status.st_mode)) {
        return false;
    }
    char *resolved = realpath(name, nullptr);
    const bool fits = resolved != nullptr && std::strlen(resolved) < size;
    if (fits) {
        std::snprintf(path, size, "%s", resolved);
    }
    std::free(resolved);
    return fits;
}

// A pipe whose reader closed it: an error to poll, without writing.
bool output_descriptor_gone(int descriptor) {
    pollfd watched = {descriptor, 0, 0};
    return poll(&watched, 1, 0) == 1 && (watched.revents & POLLERR) != 0;
}

void set_up_system() {
    // A reader of standard output that goes away is a write that fails,
    // said as such, and the outputs' temporaries are removed.
    std::signal(SIGPIPE, SIG_IGN);
}

#endif

FileStatus status_of(const SystemStatus &found) {
    FileStatus status = {};
    const auto type = found.st_mode & S_IFMT;
    status.kind = type == S_IFREG ? FileKind::regular : type == S_IFDIR ? FileKind::directory : FileKind::other;
    status.size = static_cast<uint64_t>(found.st_size);
    take_identity(found, status);
    return status;
}

// A file through the C library's stream, which the writers take as it is.
class NativeFile final : public File {
  public:
    NativeFile(std::FILE *stream, bool owned) : stream_(stream), owned_(owned) {}
    NativeFile(const NativeFile &) = delete;
    NativeFile &operator=(const NativeFile &) = delete;
    ~NativeFile() override { close_stream(); }

    bool read(char *data, size_t size, size_t &count) override {
        count = std::fread(data, 1, size, stream_);
        return count == size || std::ferror(stream_) == 0;
    }
    long long write(const char *data, size_t size) override {
        return write_descriptor(descriptor_of(stream_), data, size);
    }
    bool seek(uint64_t offset) override { return seek_stream(stream_, offset); }
    bool status(FileStatus &status) override {
        SystemStatus found = {};
        if (status_by_descriptor(descriptor_of(stream_), found) != 0) {
            return false;
        }
        status = status_of(found);
        return true;
    }
    bool truncate(uint64_t length) override { return truncate_descriptor(descriptor_of(stream_), length); }
    std::FILE *stream() override { return stream_; }
    bool close() override { return close_stream(); }

  private:
    bool close_stream() {
        std::FILE *stream = stream_;
        stream_ = nullptr;
        return stream == nullptr || !owned_ || std::fclose(stream) == 0;
    }

    std::FILE *stream_;
    bool owned_;  // standard input is never closed
};

std::unique_ptr<File> file_of(std::FILE *stream) {
    return stream != nullptr ? std::make_unique<NativeFile>(stream, true) : nullptr;
}

// The descriptor as a stream; closed, errno kept, if it cannot be one.
std::unique_ptr<File> file_of(int descriptor, const char *mode) {
    if (descriptor < 0) {
        return nullptr;
    }
    std::FILE *stream = stream_of(descriptor, mode);
    if (stream == nullptr) {
        const int error = errno;
        close_descriptor(descriptor);
        errno = error;
    }
    return file_of(stream);
}

class NativeFileSystem final : public FileSystem {
  public:
    bool status(const char *name, FileStatus &status) override {
        SystemStatus found = {};
        if (status_by_name(name, found) != 0) {
            return false;
        }
        status = status_of(found);
        return true;
    }
    bool may_read(const char *name) override { return may_access(name, false); }
    bool may_write(const char *name) override { return may_access(name, true); }
    std::unique_ptr<File> open_to_read(const char *name) override { return file_of(std::fopen(name, "rb")); }
    std::unique_ptr<File> open_without_waiting(const char *name) override {
        return file_of(open_descriptor(name, WITHOUT_WAITING), "rb");
    }
    std::unique_ptr<File> standard_input() override {
        // CR LF as it is, and no end at a Ctrl+Z.
        as_is(stdin);
        return std::make_unique<NativeFile>(stdin, false);
    }
    std::unique_ptr<File> create_new(const char *name, const FileStatus *replaced) override {
        const int descriptor = open_descriptor(name, NEW_FILE);
        if (descriptor >= 0 && replaced != nullptr) {
            set_permissions(descriptor, replaced->permissions);
        }
        std::unique_ptr<File> file = file_of(descriptor, "wb");
        if (file == nullptr && descriptor >= 0) {
            const int error = errno;
            std::remove(name);
            errno = error;
        }
        return file;
    }
    std::unique_ptr<File> open_to_write(const char *name) override { return file_of(std::fopen(name, "wb")); }
    std::unique_ptr<File> open_to_append(const char *name) override {
        return file_of(open_descriptor(name, TO_APPEND), "ab");
    }
    bool replace(const char *from, const char *to, char *reason, size_t reason_size) override {
        return rename_over(from, to, reason, reason_size);
    }
    bool remove(const char *name) override { return std::remove(name) == 0; }
    Sameness same_file(const char *a, const char *b) override { return same_file_by_names(a, b); }
    bool resolve_link(const char *name, char *path, size_t size) override { return link_target(name, path, size); }
    unsigned long process_id() override { return id_of_process(); }
};

NativeFileSystem native;

volatile std::sig_atomic_t stop_signal_seen = 0;

// Sleeps in slices short enough that Ctrl+C is answered at once as a person
// sees it.
constexpr int SLEEP_SLICE_MS = 50;

}  // namespace

FileSystem &native_file_system() { return native; }

bool is_standard_input(const char *name) { return std::strcmp(name, "-") == 0; }

bool is_path_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

const char *file_name_of(const char *path) {
    const char *name = path;
    for (const char *c = path; *c != '\0'; ++c) {
        if (is_path_separator(*c)) {
            name = c + 1;
        }
    }
    return name;
}

bool same_file_name(const char *a, const char *b) {
#ifdef _WIN32
    return _stricmp(a, b) == 0;
#else
    return std::strcmp(a, b) == 0;
#endif
}

void set_up_process() { set_up_system(); }

void write_standard_output_as_is() { as_is(stdout); }

bool standard_output_gone() { return std::ferror(stdout) != 0 || output_descriptor_gone(descriptor_of(stdout)); }

extern "C" void on_stop_signal(int /*signal*/) { stop_signal_seen = 1; }

void catch_stop_signals() {
    stop_signal_seen = 0;
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
#ifdef SIGBREAK
    std::signal(SIGBREAK, on_stop_signal);
#endif
}

bool stop_requested() { return stop_signal_seen != 0; }

void request_stop() { stop_signal_seen = 1; }

void sleep_unless_stopped(int ms) {
    for (int slept = 0; slept < ms && !stop_requested(); slept += SLEEP_SLICE_MS) {
        std::this_thread::sleep_for(std::chrono::milliseconds(SLEEP_SLICE_MS));
    }
}
