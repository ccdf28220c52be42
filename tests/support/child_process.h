// Runs a piece of the program in a child process, as the program's start-up
// and end paths finish with exit and its sampling loop never returns. On
// Windows the child is this test program again, replaying the current test
// up to the call (child_process.cpp): the body must not depend on what
// earlier child runs of the test returned.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ChildRun {
    int exit_status;     // or 128 + signal number
    std::string output;  // everything the child wrote to standard output
    std::string calls;   // the fake platform's calls, one a line
};

ChildRun run_in_child(const std::function<void()> &body);

// The argument vector of tickwatch.exe run with these arguments (after the
// program name), ending in a null pointer; it points into arguments.
std::vector<char *> argument_vector(std::vector<std::string> &arguments);

// Ends this process at once with the status, as the system ends a process
// that terminates itself: nothing the run-time holds in its buffers is
// written (on Windows, _exit ends the process in a way that flushes them).
[[noreturn]] void end_process_at_once(int status);

// A directory of its own for a test, removed again at the end of the test.
struct ScratchDirectory {
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// The file's text, with CR LF line breaks (the log's; on Windows, those of
// text mode) read back as LF (so is a child's output).
std::string read_file(const std::string &path);
// The file's bytes as they are.
std::string read_file_bytes(const std::string &path);
void write_file(const std::string &path, const std::string &content);
bool file_exists(const std::string &path);
// The names in a directory, sorted.
std::vector<std::string> files_in(const std::string &directory);
// True when the directory is there afterwards, made now or before.
bool make_directory(const std::string &path);
bool directory_is_empty(const std::string &path);
