// Console and log-file output, and the log file's name.
#include <gtest/gtest.h>

#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/run_settings.h"
#include "app/tickwatch.h"
#include "clock/timer_resolution.h"
#include "output/output.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_platform.h"

namespace {

class Output : public ::testing::Test {
  protected:
    void SetUp() override { reset_fake(); }
    ScratchDirectory dir;
};

TEST_F(Output, PrintMessageWritesTheLineToTheConsoleAndTheLog) {
    std::string log = dir.file("run.log");
    ChildRun run = run_in_child([&] {
        run_settings.log_file_name = log.c_str();
        print_message("first");
        print_message("");
        print_message("ends in a line break\n");
        append_to_log("log only");
        _exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, "first\n\nends in a line break\n\n");
    // Every line break in the log is CR LF, as text mode wrote them.
    EXPECT_EQ(read_file_bytes(log), "first\r\n\r\nends in a line break\r\n\r\nlog only\r\n");
}

TEST_F(Output, WithoutALogFileOnlyTheConsoleGetsLines) {
    ChildRun run = run_in_child([&] {
        ASSERT_EQ(chdir(dir.path.c_str()), 0);
        print_message("console");
        append_to_log("nowhere");
        _exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, "console\n");
    EXPECT_TRUE(directory_is_empty(dir.path)) << "no file was created";
}

TEST_F(Output, LinesAreAppendedAfterWhatTheLogAlreadyHolds) {
    std::string log = dir.file("old.log");
    std::string old(3 * 1024 * 1024, 'o');
    old += "\nno final line break";
    write_file(log, old);
    ChildRun run = run_in_child([&] {
        run_settings.log_file_name = log.c_str();
        print_message("new");
        _exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(log), old + "new\n");
}

TEST_F(Output, ALogThatCannotBeOpenedIsSkippedSilentlyLineByLine) {
    std::string missing_dir_log = dir.file("no/such/dir/run.log");
    std::string log = dir.file("later.log");
    ASSERT_TRUE(make_directory(log));  // a directory in the file's place, for now
    ChildRun run = run_in_child([&] {
        run_settings.log_file_name = missing_dir_log.c_str();
        print_message("one");
        run_settings.log_file_name = log.c_str();
        print_message("two");
        ASSERT_EQ(rmdir(log.c_str()), 0);
        print_message("three");  // each line tries again
        _exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, "one\ntwo\nthree\n");
    EXPECT_EQ(read_file(log), "three\n");
}

#ifndef _WIN32
TEST_F(Output, ProcessesAppendingToOneLogAtOnceLoseNoLineAndTearNone) {
    // Four at once, with short lines and lines longer than the run-time's
    // file buffer: each line must reach the file in one append.
    std::string log = dir.file("shared.log");
    auto line = [](int process, int n) {
        return std::to_string(process) + "." + std::to_string(n) + std::string(n % 4 == 0 ? 9000 : 30, 'x');
    };
    std::vector<pid_t> children;
    for (int process = 0; process < 4; ++process) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            run_settings.log_file_name = log.c_str();
            for (int n = 0; n < 200; ++n) {
                append_to_log(line(process, n).c_str());
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0);
    }
    std::multiset<std::string> expected;
    for (int process = 0; process < 4; ++process) {
        for (int n = 0; n < 200; ++n) {
            expected.insert(line(process, n) + "\r\n");
        }
    }
    const std::string logged = read_file_bytes(log);
    std::multiset<std::string> lines;
    for (size_t start = 0, end; start < logged.size(); start = end + 1) {
        end = logged.find('\n', start);
        end = end == std::string::npos ? logged.size() - 1 : end;
        lines.insert(logged.substr(start, end + 1 - start));
    }
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_TRUE(lines == expected) << "lines lost or torn";
}
#endif

TEST_F(Output, EachLineReopensTheLogSoADeletedOrRenamedOneIsMadeAnew) {
    std::string log = dir.file("run.log");
    std::string moved = dir.file("moved.log");
    ChildRun run = run_in_child([&] {
        run_settings.log_file_name = log.c_str();
        print_message("one");
        ASSERT_EQ(rename(log.c_str(), moved.c_str()), 0);
        print_message("two");
        ASSERT_EQ(unlink(log.c_str()), 0);
        print_message("three");
        _exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(moved), "one\n");
    EXPECT_EQ(read_file(log), "three\n");
}

TEST_F(Output, AGeneratedNameIsReleasedAtExitAndABorrowedOneNever) {
    ChildRun run = run_in_child([&] {
        generate_log_file_name();
        generate_log_file_name();  // replaces the first: released at once
        run_settings.log_file_name = "borrowed.log";
        std::exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.calls, "time\nallocate(13)\nrelease\ntime\nallocate(13)\nrelease\n");

    run = run_in_child([&] {
        run_settings.log_file_name = "borrowed.log";
        std::exit(0);
    });
    EXPECT_EQ(run.calls, "");
}

TEST_F(Output, TheConsoleControlHandlerWaitsForTheLineInProgress) {
    std::string log = dir.file("run.log");
    ChildRun run = run_in_child([&] {
        generate_log_file_name();
        run_settings.log_file_name = log.c_str();
        fake.handler = console_control_handler;
        // The main thread is in the middle of a line when Ctrl+C comes, and
        // goes on once the handler waits for it.
        platform::lock_output();
        std::thread control_thread = deliver_console_event(CTRL_C_EVENT);
        std::printf("whole line\n");
        std::fflush(stdout);
        platform::unlock_output();
        control_thread.join();  // the handler ends the process first
        _exit(99);
    });
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, "whole line\n");
    EXPECT_EQ(run.calls, "time\nallocate(13)\nrelease\n");
}

TEST_F(Output, WhenTheLineInProgressNeverEndsTheHandlerEndsTheRunWithoutIt) {
    const uint32_t WAIT_MS = 50;  // the fake's stand-in for the 2 s the handler asks for
    std::string log = dir.file("run.log");
    const auto start = std::chrono::steady_clock::now();
    ChildRun run = run_in_child([&] {
        // A handler that waits for ever ends the child with 95 instead.
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::seconds(10));
            _exit(95);
        }).detach();
        raise_timer_resolution();
        generate_log_file_name();
        run_settings.log_file_name = log.c_str();
        // The main thread is in a line that standard output never takes
        // when Ctrl+C comes.
        fake.handler = console_control_handler;
        fake.interrupt_call = "lock_output";
        fake.longest_output_wait_ms = WAIT_MS;
        platform::lock_output();
        std::printf("never taken");
        std::this_thread::sleep_for(std::chrono::seconds(20));
        _exit(99);
    });
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_GE(seconds, WAIT_MS / 1000.0) << "it waited for the line first";
    // It asked to wait 2 s for the line; then the period was withdrawn, and
    // the process ended without exit: its exit actions (the name's release)
    // and its flush of standard output not run.
    EXPECT_EQ(run.calls, "timeGetDevCaps(8)\ntimeBeginPeriod(1)\ntime\nallocate(13)\ninterrupt\n"
                         "lock_output_within(2000)\ntimeEndPeriod(1)\nTerminateProcess(0)\n");
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
    return;  // ThreadSanitizer's _exit writes out the run-time's buffers itself
#endif
#endif
    EXPECT_EQ(run.output, "MM timer resolution: 1..1000000 ms, set to 1 ms\n");
}

}  // namespace
