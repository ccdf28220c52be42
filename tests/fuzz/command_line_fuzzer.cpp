// Fuzzes the command line: the input is the argument vector, its arguments
// separated by zero bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run_settings.h"
#include "output/output.h"
#include "tests/support/fake_platform.h"

static unsigned long long inputs_tried = 0;

static void print_figures() {
    std::fprintf(stderr, "figures: command-line fuzzer: %llu inputs tried, 0 faults\n", inputs_tried);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::atexit(print_figures);
    // -o and unknown arguments write log files: keep them in a directory of
    // the fuzzer's own, and the console quiet.
    char directory[] = "/tmp/tickwatch-fuzz-XXXXXX";
    if (mkdtemp(directory) == nullptr || chdir(directory) != 0 || freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ++inputs_tried;
    std::vector<std::string> arguments(1, "tickwatch.exe");
    arguments.emplace_back();
    for (size_t i = 0; i < size; ++i) {
        char c = static_cast<char>(data[i]);
        if (c == '\0') {
            arguments.emplace_back();
        } else {
            // Names stay inside the fuzzer's directory.
            arguments.back() += c == '/' ? '_' : c;
        }
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    reset_fake();
    fake.now = static_cast<int64_t>(size) * 7919;  // -l names vary with the input
    parse_command_line(static_cast<int>(argv.size() - 1), argv.data());

    // Every flag is a plain bool, and a named log file is one of the
    // arguments or a generated "%08lx.txt".
    const char *name = run_settings.log_file_name;
    if (name != nullptr) {
        bool is_argument = false;
        for (char *argument : argv) {
            is_argument = is_argument || argument == name;
        }
        if (!is_argument && std::string(name).size() != 12) {
            std::abort();
        }
    }
    release_log_file_name();
    if (fake.live_allocations != 0) {
        std::abort();
    }
    return 0;
}
