// The operating system as tickwatch-analyze uses it, behind one seam: files
// by name, open files, and the process's set-up and stop signals. All of
// the analyzer's system calls are made in system_posix.cpp or
// system_windows.cpp (the one the build picks), and nowhere else.
//
// The modules that touch files take a FileSystem: native_file_system() in
// the program, and in the unit tests a fake (tests/support/fake_file_system.h)
// that fails where the real one seldom does, when a test says so: a full
// disk, a directory that goes away, a name that becomes a pipe.
//
// What fails returns false (or nullptr, or -1) with errno set, as the C
// library does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

enum class FileKind {
    regular,
    directory,
    other,  // a pipe, a device
};

struct FileStatus {
    FileKind kind;
    uint64_t size;
    // Which file it is: on POSIX systems its device and inode. Windows's
    // run-time gives no inode: there a file has none (has_identity false).
    bool has_identity;
    uint64_t device;
    uint64_t inode;
    unsigned permissions;  // the mode's 07777 bits on POSIX systems
};

// An open file, closed when it goes.
class File {
  public:
    File() = default;
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    virtual ~File() = default;

    // Up to size bytes into data, count of them read: fewer only at the end
    // of the file, or when reading failed (false).
    virtual bool read(char *data, size_t size, size_t &count) = 0;
    // One write, unbuffered: the bytes written, which may be fewer than size
    // (a full disk), or -1.
    virtual long long write(const char *data, size_t size) = 0;
    virtual bool seek(uint64_t offset) = 0;
    virtual bool status(FileStatus &status) = 0;
    // Cuts the file to length bytes.
    virtual bool truncate(uint64_t length) = 0;
    // The file as a buffered stream, for the writers of report/; nullptr if
    // it cannot be had.
    virtual std::FILE *stream() = 0;
    // Writes out what the stream holds and closes the file; false if not
    // all of it reached the file. Nothing is done with the file after.
    virtual bool close() = 0;
};

enum class Sameness { same, different, unknown };

class FileSystem {
  public:
    FileSystem() = default;
    FileSystem(const FileSystem &) = delete;
    FileSystem &operator=(const FileSystem &) = delete;
    virtual ~FileSystem() = default;

    // What is by the name (through a link); false when nothing is.
    virtual bool status(const char *name, FileStatus &status) = 0;
    // Whether this process may read, or write, what is by the name.
    virtual bool may_read(const char *name) = 0;
    virtual bool may_write(const char *name) = 0;
    // To read through: a named pipe is waited on until its writer comes.
    virtual std::unique_ptr<File> open_to_read(const char *name) = 0;
    // To look at what it is, and read it if it is a file: never waits, not
    // even for a pipe.
    virtual std::unique_ptr<File> open_without_waiting(const char *name) = 0;
    // Standard input as it is (CR LF and Ctrl+Z too), never closed.
    virtual std::unique_ptr<File> standard_input() = 0;
    // A file by the name that was not there before (else EEXIST), with
    // the permissions of replaced if given.
    virtual std::unique_ptr<File> create_new(const char *name, const FileStatus *replaced) = 0;
    // Written from its start, made if it is not there: a device, a pipe.
    virtual std::unique_ptr<File> open_to_write(const char *name) = 0;
    // Appended to, made if it is not there.
    virtual std::unique_ptr<File> open_to_append(const char *name) = 0;
    // Renames from to to, replacing the file there. False with the reason
    // in words (reason_size characters at most) if it cannot.
    virtual bool replace(const char *from, const char *to, char *reason, size_t reason_size) = 0;
    virtual bool remove(const char *name) = 0;
    // Whether two names, each there, are one file; "-" is standard input.
    virtual Sameness same_file(const char *a, const char *b) = 0;
    // When name is a symbolic link: the path of the file it leads to, into
    // path if it fits (true). Otherwise path stays as it was.
    virtual bool resolve_link(const char *name, char *path, size_t size) = 0;
    // Tells two runs' temporary files apart.
    virtual unsigned long process_id() = 0;
};

FileSystem &native_file_system();

// Names, as this system spells them. "-" is standard input.
bool is_standard_input(const char *name);
// '/', and on Windows '\' and ':' too.
bool is_path_separator(char c);
// The part of a path after its last separator.
const char *file_name_of(const char *path);
// Whether two names within one directory are the same (on Windows, in
// either case).
bool same_file_name(const char *a, const char *b);

// The process. Before anything is read or written: a reader of standard
// output that goes away is a write that fails, not a signal; on Windows,
// names are taken in the ANSI code page, as the run-time's functions take
// them.
void set_up_process();
// Standard output as it is written (LF, not CR LF), for a CSV on it.
void write_standard_output_as_is();
// Whether a write to standard output failed, or (on POSIX systems) the
// pipe it is has no reader any more, seen before anything more is written.
bool standard_output_gone();

// Ctrl+C and SIGTERM (and Ctrl+Break on Windows) only set a flag, looked at
// by whoever runs long; installed when the program starts.
void catch_stop_signals();
bool stop_requested();
// The same from within.
void request_stop();
// Sleeps that long, or less once a stop is requested.
void sleep_unless_stopped(int ms);
