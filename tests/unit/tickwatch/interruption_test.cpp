// Ctrl+C, Ctrl+Break, close and shutdown delivered as the system delivers
// them: the handler runs on a thread of its own while the program goes on.
// Whatever the moment, the process ends with status 0, each exit action runs
// once, nothing uses the log-file name after its release, and every line is
// whole on the console and in the log, which agree line for line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/tickwatch.h"
#include "app/version.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_platform.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define UNDER_THREAD_SANITIZER 1
// A run ends with the handler's thread in exit and the program's thread still
// going: no need to wait a second for the latter at every end.
extern "C" const char *__tsan_default_options() { return "atexit_sleep_ms=0"; }
#endif
#endif

namespace {

int lines_equal_to(const std::string &text, const std::string &line) {
    int count = 0;
    for (size_t at = 0; (at = text.find(line + "\n", at)) != std::string::npos; at += line.size() + 1) {
        count += at == 0 || text[at - 1] == '\n' ? 1 : 0;
    }
    return count;
}

struct TickwatchRun {
    ChildRun child;
    std::string log;
};

class Interruption : public ::testing::Test {
  protected:
    void SetUp() override { reset_fake(); }

    // tickwatch with these arguments and three passes of readings, in a
    // directory of its own; log_name is the file its log goes to.
    TickwatchRun run(std::vector<std::string> arguments, const std::string &log_name) {
        fake.now = 0x4fbce874;
        fake.readings = steady_readings(4);
        TickwatchRun r;
        r.child = run_in_child([&] {
            if (chdir(dir.path.c_str()) != 0) {
                _exit(96);
            }
            std::vector<char *> argv = argument_vector(arguments);
            run_tickwatch(static_cast<int>(argv.size() - 1), argv.data());
        });
        r.log = read_file(dir.file(log_name));
        unlink(dir.file(log_name).c_str());
        return r;
    }

    ScratchDirectory dir;
};

const uint32_t EVENTS[] = {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_SHUTDOWN_EVENT};

// Both exit actions (-m, -l); and generated names that the next -l and then
// -o replace, released while the program appends to the other file, with -q
// and -s.
const struct {
    std::vector<std::string> arguments;
    const char *log_name;
} RUNS[] = {{{"-m", "-l"}, "4fbce874.txt"}, {{"-q", "-s", "-m", "-l", "-l", "-o", "run.log"}, "run.log"}};

TEST_F(Interruption, AtEveryCallOfStartUpAndThreePassesTheRunEndsCleanly) {
    int runs = 0;
    for (const auto &setting : RUNS) {
        const TickwatchRun whole = run(setting.arguments, setting.log_name);
        ASSERT_EQ(whole.child.exit_status, 0);
        for (size_t n = 1;; ++n) {
            reset_fake();
            fake.interrupt_call = "*";
            fake.interrupt_occurrence = n;
            fake.interrupt_event = EVENTS[n % 4];
            fake.interrupt_threads = n % 3 == 0 ? 2 : 1;  // two events at once
            TickwatchRun r = run(setting.arguments, setting.log_name);
            if (lines_equal_to(r.child.calls, "interrupt") == 0) {
                break;  // past the last call of the run
            }
            ++runs;
            const std::string &out = r.child.output;
            SCOPED_TRACE(setting.log_name + (" at call " + std::to_string(n)) + "\n" + out + "\n" + r.child.calls);
            EXPECT_EQ(r.child.exit_status, 0);
            // The console has the run's lines up to one of them, whole.
            EXPECT_EQ(whole.child.output.compare(0, out.size(), out), 0);
            EXPECT_EQ(out.back(), '\n');
            // The log has the same lines (from the banner on), once it has any.
            if (!r.log.empty() || out != "\nKestivar TICKWATCH v" BUILT_IN_VERSION "\n") {
                EXPECT_EQ("\n" + r.log, out);
            }
            // Every block allocated is released once; the timer period
            // raised is withdrawn once.
            EXPECT_EQ(lines_equal_to(r.child.calls, "release"), lines_equal_to(r.child.calls, "allocate(13)") + 1);
            EXPECT_EQ(lines_equal_to(r.child.calls, "timeEndPeriod(1)"),
                      lines_equal_to(r.child.calls, "timeBeginPeriod(1)"));
        }
    }
    EXPECT_GT(runs, 60);
    if (!HasFailure()) {
#ifdef UNDER_THREAD_SANITIZER
        const char *sanitizer = "ThreadSanitizer";
#else
        const char *sanitizer = "AddressSanitizer";
#endif
        std::printf("figures: interruption sweep (%s): %d runs, each interrupted at another call, 0 faults\n",
                    sanitizer, runs);
    }
}

// Chosen moments between the second report line and the third, each with
// another event: the second line is whole on the console and in the log,
// the third never starts, and the exit actions run once.
TEST_F(Interruption, BetweenTheSecondAndThirdLineItEndsAfterExactlyTwoLines) {
    const TickwatchRun whole = run({"-m", "-l"}, "4fbce874.txt");
    const std::string two_lines = whole.child.output.substr(0, whole.child.output.rfind("2024-03-05 13:39:02"));
    ASSERT_EQ(lines_equal_to(two_lines, "2024-03-05 13:39:01.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) "), 1);

    const struct {
        const char *call;
        size_t occurrence;
        uint32_t event;
        int threads;
    } moments[] = {
        // The output lock is taken for the name -l makes, the banner in the
        // log, the note, the timer period and its message, the empty line,
        // and then once a report line.
        {"lock_output", 8, CTRL_C_EVENT, 1},                     // the second line starts: the console write comes next
        {"unlock_output", 8, CTRL_BREAK_EVENT, 1},               // the second line is on the console and in the log
        {"WaitForSingleObject", 4, CTRL_CLOSE_EVENT, 1},         // waiting for the third pass
        {"QueryPerformanceCounter", 4, CTRL_SHUTDOWN_EVENT, 1},  // between the two reads of the third pass
        {"FileTimeToSystemTime", 3, CTRL_C_EVENT, 2},            // two at once, as the third line is made
    };
    for (const auto &moment : moments) {
        reset_fake();
        fake.interrupt_call = moment.call;
        fake.interrupt_occurrence = moment.occurrence;
        fake.interrupt_event = moment.event;
        fake.interrupt_threads = moment.threads;
        TickwatchRun r = run({"-m", "-l"}, "4fbce874.txt");
        SCOPED_TRACE(moment.call);
        EXPECT_EQ(r.child.exit_status, 0);
        EXPECT_EQ(r.child.output, two_lines);
        EXPECT_EQ("\n" + r.log, two_lines);
        EXPECT_EQ(lines_equal_to(r.child.calls, "interrupt"), 1);
        EXPECT_EQ(lines_equal_to(r.child.calls, "Ctrl+C"), 0) << "the event from the other thread ended the run";
        EXPECT_EQ(lines_equal_to(r.child.calls, "timeEndPeriod(1)"), 1);
        EXPECT_EQ(lines_equal_to(r.child.calls, "release"), 2);  // the version block, then the log-file name
    }
}

TEST_F(Interruption, AnEventTheHandlerLeavesToOthersDoesNotDisturbTheRun) {
    const TickwatchRun whole = run({"-m", "-l"}, "4fbce874.txt");
    reset_fake();
    fake.interrupt_call = "unlock_output";
    fake.interrupt_occurrence = 8;
    fake.interrupt_event = CTRL_LOGOFF_EVENT;
    TickwatchRun r = run({"-m", "-l"}, "4fbce874.txt");
    EXPECT_EQ(r.child.exit_status, 0);
    EXPECT_EQ(r.child.output, whole.child.output);
    EXPECT_EQ(r.log, whole.log);
    EXPECT_EQ(lines_equal_to(r.child.calls, "Ctrl+C"), 1);
}

}  // namespace
