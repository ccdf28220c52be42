// Runs a piece of the program in a child process, as the program's start-up
// and end paths finish with exit and its sampling loop never returns.
#pragma once

#include <functional>
#include <string>

struct ChildRun {
    int exit_status;     // or 128 + signal number
    std::string output;  // everything the child wrote to standard output
    std::string calls;   // the fake platform's calls, one a line
};

ChildRun run_in_child(const std::function<void()> &body);

// A directory of its own for a test, removed again at the end of the test.
struct ScratchDirectory {
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
bool file_exists(const std::string &path);
