#include "tests/support/child_process.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/fake_platform.h"

#ifdef _WIN32
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

// Windows has no fork. Where a test runs a piece of the program in a child
// process, this test program starts again for that test alone, told by
// TICKWATCH_CHILD_RUN which of the test's child runs to carry out: it
// replays the test up to that run, as GoogleTest's death tests do, carries
// out the piece and ends. The runs before it had children of their own, so
// the replay skips them; its scratch directories are the parent's.

namespace {

const char *const CHILD_RUN = "TICKWATCH_CHILD_RUN";
const char *const CHILD_OUTPUT = "TICKWATCH_CHILD_OUTPUT";
const char *const CHILD_TRACE = "TICKWATCH_CHILD_TRACE";
const char *const SCRATCH_PREFIX = "TICKWATCH_SCRATCH_PREFIX";

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value == nullptr ? "" : value;
}

bool replaying() {
    static const bool child = !environment(CHILD_RUN).empty();
    return child;
}

// The child runs and scratch directories of the current test, counted in
// the order the test asks for them, which a replay repeats.
struct TestCounts {
    const testing::TestInfo *test = nullptr;
    int child_runs = 0;
    int scratch_directories = 0;
};

TestCounts &counts() {
    static TestCounts counted;
    const testing::TestInfo *current = testing::UnitTest::GetInstance()->current_test_info();
    if (counted.test != current) {
        counted = TestCounts{current};
    }
    return counted;
}

std::string scratch_prefix() {
    if (replaying()) {
        return environment(SCRATCH_PREFIX);
    }
    return (std::filesystem::temp_directory_path() / "tickwatch-scratch-").string() +
           std::to_string(GetCurrentProcessId()) + "-";
}

std::string temporary_file() {
    char directory[MAX_PATH];
    char name[MAX_PATH];
    if (GetTempPathA(sizeof directory, directory) == 0 || GetTempFileNameA(directory, "twc", 0, name) == 0) {
        std::fprintf(stderr, "no temporary file: %lu\n", GetLastError());
        std::abort();
    }
    return name;
}

[[noreturn]] void carry_out(const std::function<void()> &body) {
    std::fflush(stdout);
    // Standard output stays in text mode, as the program's own.
    int output_fd = _open(environment(CHILD_OUTPUT).c_str(), _O_WRONLY | _O_TRUNC);
    int trace_fd = _open(environment(CHILD_TRACE).c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    if (output_fd < 0 || trace_fd < 0 || _dup2(output_fd, 1) != 0) {
        std::abort();
    }
    fake.trace_fd = trace_fd;
    body();
    std::fflush(stdout);
    _exit(98);  // the body returned: what it ran should not have
}

}  // namespace

ChildRun run_in_child(const std::function<void()> &body) {
    const int run_index = counts().child_runs++;
    if (replaying()) {
        if (run_index == std::atoi(environment(CHILD_RUN).c_str())) {
            carry_out(body);
        }
        return ChildRun{-1, "", ""};  // carried out by a child of its own
    }

    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string command =
        std::string("\"") + program + "\" --gtest_filter=" + test->test_suite_name() + "." + test->name();
    const std::string output = temporary_file();
    const std::string trace = temporary_file();
    SetEnvironmentVariableA(CHILD_RUN, std::to_string(run_index).c_str());
    SetEnvironmentVariableA(CHILD_OUTPUT, output.c_str());
    SetEnvironmentVariableA(CHILD_TRACE, trace.c_str());
    SetEnvironmentVariableA(SCRATCH_PREFIX, scratch_prefix().c_str());

    // The replay's own GoogleTest report goes nowhere.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION child;
    std::fflush(nullptr);
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "cannot start %s: %lu\n", command.c_str(), GetLastError());
        std::abort();
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD exit_code = 0;
    GetExitCodeProcess(child.hProcess, &exit_code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    CloseHandle(nul);
    SetEnvironmentVariableA(CHILD_RUN, nullptr);

    ChildRun run = {static_cast<int>(exit_code), read_file(output), read_file(trace)};
    DeleteFileA(output.c_str());
    DeleteFileA(trace.c_str());
    return run;
}

ScratchDirectory::ScratchDirectory() {
    static const std::string prefix = scratch_prefix();
    path = prefix + std::to_string(counts().scratch_directories++);
    std::error_code error;
    if (!replaying()) {
        std::filesystem::remove_all(path, error);
    }
    std::filesystem::create_directories(path, error);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code error;
    if (!replaying()) {
        std::filesystem::remove_all(path, error);
    }
}

#else
#include <sys/wait.h>
#include <unistd.h>

static int open_temporary_file() {
    char name[] = "/tmp/tickwatch-test-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) {
        std::perror("mkstemp");
        std::abort();
    }
    unlink(name);
    return fd;
}

static std::string read_all(int fd) {
    std::string content;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        content.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return content;
}

ChildRun run_in_child(const std::function<void()> &body) {
    int output_fd = open_temporary_file();
    int trace_fd = open_temporary_file();
    std::fflush(nullptr);

    pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        std::abort();
    }
    if (child == 0) {
        dup2(output_fd, STDOUT_FILENO);
        fake.trace_fd = trace_fd;
        body();
        std::fflush(stdout);
        _exit(98);  // the body returned: what it ran should not have
    }

    int status = 0;
    waitpid(child, &status, 0);
    ChildRun run;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.output = read_all(output_fd);
    run.calls = read_all(trace_fd);
    return run;
}

ScratchDirectory::ScratchDirectory() {
    char name[] = "/tmp/tickwatch-scratch-XXXXXX";
    if (mkdtemp(name) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    path = name;
}

ScratchDirectory::~ScratchDirectory() {
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "could not remove %s\n", path.c_str());
    }
}

#endif

void end_process_at_once(int status) {
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
#endif
    _exit(status);
}

std::string read_file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> files_in(const std::string &directory) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string read_file(const std::string &path) {
    // The log, and on Windows the console's text mode, write each line break
    // as CR LF: give the text back as the program wrote it.
    std::string text;
    for (char c : read_file_bytes(path)) {
        if (c == '\n' && !text.empty() && text.back() == '\r') {
            text.back() = '\n';
        } else {
            text += c;
        }
    }
    return text;
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool file_exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool make_directory(const std::string &path) {
    std::error_code error;
    std::filesystem::create_directory(path, error);
    return std::filesystem::is_directory(path, error);
}

bool directory_is_empty(const std::string &path) {
    std::error_code error;
    return std::filesystem::is_empty(path, error) && !error;
}

std::vector<char *> argument_vector(std::vector<std::string> &arguments) {
    static char program_name[] = "tickwatch.exe";
    std::vector<char *> argv = {program_name};
    for (std::string &argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return argv;
}
