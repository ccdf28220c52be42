// A helper for the end-to-end tests, run beside tickwatch.exe: it does what
// another Windows program or the user would do to it.
//
//   test_helper break DELAY_MS PROGRAM [ARGUMENTS...]
//     starts PROGRAM in a process group of its own that shares this helper's
//     console, waits DELAY_MS, sends the group Ctrl+Break and waits for it to
//     end. Reports on standard error, one item a line:
//       "probe: delivered" or "probe: failed N"   (Ctrl+C to the helper's own
//                                                   group: is there a console
//                                                   to send events through?)
//       "break: delivered" or "break: failed N"   (N: GetLastError)
//       "exit code N"                              (when it ended by itself)
//     A program that the event did not reach is stopped, with exit code 255.
//
//   test_helper hold FILE
//     opens FILE (created if need be) for reading and writing with no
//     sharing at all, says "held", keeps it open until a line arrives on
//     standard input, then closes it and says "released".
//
//   test_helper rename FROM TO
//     renames FROM to TO as a rotation tool does, trying for up to two
//     seconds while another program holds FROM open. Says "renamed after N
//     tries", or "cannot rename: N" (GetLastError) with exit status 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static int usage() {
    std::fprintf(stderr, "usage: test_helper break DELAY_MS PROGRAM [ARGUMENTS...] | hold FILE | rename FROM TO\n");
    return 2;
}

static std::string quoted(const char *argument) { return std::string("\"") + argument + "\""; }

static int send_ctrl_break(unsigned delay_ms, int argc, char **argv) {
    // Events go only to processes that share the sender's console, so make
    // a console of this helper's own for the program to inherit; its
    // standard handles stay the ones this helper was given.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    FreeConsole();
    AllocConsole();
    SetConsoleCtrlHandler(nullptr, TRUE);  // this helper ignores Ctrl+C

    std::string command_line = quoted(argv[0]);
    for (int i = 1; i < argc; ++i) {
        command_line += " " + quoted(argv[i]);
    }
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                        nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start %s: %lu\n", argv[0], GetLastError());
        return 2;
    }
    Sleep(delay_ms);

    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        std::fprintf(stderr, "probe: delivered\n");
    } else {
        std::fprintf(stderr, "probe: failed %lu\n", GetLastError());
    }
    if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId)) {
        std::fprintf(stderr, "break: delivered\n");
    } else {
        std::fprintf(stderr, "break: failed %lu\n", GetLastError());
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, INFINITE);
        std::fprintf(stderr, "stopped\n");
        return 0;
    }
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    std::fprintf(stderr, "exit code %lu\n", exit_code);
    return 0;
}

static int hold(const char *name) {
    HANDLE file =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s: %lu\n", name, GetLastError());
        return 2;
    }
    std::printf("held\n");
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof line, stdin);  // or the end of the input
    CloseHandle(file);
    std::printf("released\n");
    return 0;
}

static int rename_file(const char *from, const char *to) {
    DWORD error = 0;
    for (int tries = 1; tries <= 40; ++tries) {
        if (MoveFileA(from, to)) {
            std::printf("renamed after %d tries\n", tries);
            return 0;
        }
        error = GetLastError();
        Sleep(50);
    }
    std::printf("cannot rename: %lu\n", error);
    return 1;
}

int main(int argc, char **argv) {
    if (argc >= 4 && std::strcmp(argv[1], "break") == 0) {
        return send_ctrl_break(static_cast<unsigned>(std::atoi(argv[2])), argc - 3, argv + 3);
    }
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        return hold(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "rename") == 0) {
        return rename_file(argv[2], argv[3]);
    }
    return usage();
}
