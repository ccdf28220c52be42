#include "tests/support/child_process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/fake_platform.h"

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

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool file_exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}
