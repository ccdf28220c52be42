// The sampling loop: how it reads the clocks, how it is paced, and what it
// prints when the system's answers are odd or missing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "app/run_settings.h"
#include "app/tickwatch.h"
#include "clock/sampling.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_platform.h"

namespace {

int calls_count(const std::string &text, const std::string &what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

class SamplingLoop : public ::testing::Test {
  protected:
    void SetUp() override { reset_fake(); }

    // Runs the loop in a child process until the readings are used up;
    // then in that process before the loop.
    static ChildRun run_loop(const std::function<void()> &then = [] {}) {
        return run_in_child([&] {
            platform::SetConsoleCtrlHandler(console_control_handler, true);
            fake.calls.clear();
            then();
            run_sampling_loop(fake.frequency);
        });
    }
};

const char *const STEADY_PASS = "WaitForSingleObject(timer, INFINITE)\n"
                                "GetSystemTimeAsFileTime\n"
                                "QueryPerformanceCounter\n"
                                "GetSystemTimeAdjustment\n"
                                "FileTimeToSystemTime\n";

TEST_F(SamplingLoop, IsPacedByAPeriodicTimerWhoseImmediateFirstSignalIsTaken) {
    fake.readings = steady_readings(3);
    ChildRun r = run_loop();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.calls, std::string("SetConsoleCtrlHandler(add)\n"
                                   "GetSystemTimeAsFileTime\n"
                                   "QueryPerformanceCounter\n"
                                   "CreateWaitableTimerA(auto reset)\n"
                                   "SetWaitableTimer(timer, 0, 1000, no resume)\n"
                                   "WaitForSingleObject(timer, INFINITE)\n") +
                           STEADY_PASS + STEADY_PASS + "WaitForSingleObject(timer, INFINITE)\nCtrl+C\n");
}

TEST_F(SamplingLoop, DashQReadsTheCounterFirstAndNothingComesBetweenTheReads) {
    fake.readings = steady_readings(2);
    run_settings.sample_counter_first = true;
    ChildRun r = run_loop();
    EXPECT_EQ(r.calls, "SetConsoleCtrlHandler(add)\nQueryPerformanceCounter\nGetSystemTimeAsFileTime\n"
                       "CreateWaitableTimerA(auto reset)\nSetWaitableTimer(timer, 0, 1000, no resume)\n"
                       "WaitForSingleObject(timer, INFINITE)\n"
                       "WaitForSingleObject(timer, INFINITE)\nQueryPerformanceCounter\nGetSystemTimeAsFileTime\n"
                       "GetSystemTimeAdjustment\nFileTimeToSystemTime\n"
                       "WaitForSingleObject(timer, INFINITE)\nCtrl+C\n");
}

TEST_F(SamplingLoop, DashSSleepsASecondBetweenPassesWithoutATimer) {
    fake.readings = steady_readings(3);
    run_settings.use_sleep = true;
    ChildRun r = run_loop();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.calls, "SetConsoleCtrlHandler(add)\nGetSystemTimeAsFileTime\nQueryPerformanceCounter\n"
                       "Sleep(1000)\nGetSystemTimeAsFileTime\nQueryPerformanceCounter\nGetSystemTimeAdjustment\n"
                       "FileTimeToSystemTime\n"
                       "Sleep(1000)\nGetSystemTimeAsFileTime\nQueryPerformanceCounter\nGetSystemTimeAdjustment\n"
                       "FileTimeToSystemTime\n"
                       "Sleep(1000)\nCtrl+C\n");
}

TEST_F(SamplingLoop, EachLineComparesASampleWithTheOneBeforeIt) {
    const uint64_t t0 = steady_readings(1)[0].system_time;
    fake.readings = {{t0, 0},
                     {t0 + 10'000'000, 9'999'813},
                     {t0 + 20'312'500, 19'999'825},                                  // 31.25 ms of system time too many
                     {t0 + 20'312'500 - 36'000'000'000LL + 10'000'000, 29'999'825},  // set back an hour
                     {t0 + 20'312'500 - 36'000'000'000LL + 20'000'000, 39'999'825}};
    fake.adjustment = 156001;
    ChildRun r = run_loop();
    EXPECT_EQ(r.output, "2024-03-05 13:39:00.0000: 1000.0000  999.9813   +0.0187  156001 (-249) \n"
                        "2024-03-05 13:39:01.0031: 1031.2500 1000.0012  +31.2488  156001 (-249) ><\n"
                        "2024-03-05 12:39:02.0031: -3599000.0000 1000.0000 -3600000.0000  156001 (-249) ><\n"
                        "2024-03-05 12:39:03.0031: 1000.0000 1000.0000   +0.0000  156001 (-249) \n");
}

TEST_F(SamplingLoop, ClockStepsAndStandstillsGiveExactLines) {
    // At 10 MHz, from a system time whose low half is about to carry.
    const uint64_t t0 = (steady_readings(1)[0].system_time | 0xFFFFFFFFULL) - 4'999'999;
    const uint64_t e8_seconds = 1'000'000'000'000'000ULL;
    fake.readings = {{t0, 0},
                     {t0 + 10'000'000, 10'000'000},               // the low half carries
                     {t0 + e8_seconds + 20'000'000, 20'000'000},  // set forward by 10^8 s
                     {t0 + 30'000'000, 30'000'000},               // and back
                     {t0 + 40'000'000, 30'000'000}};              // the counter stands still
    ChildRun r = run_loop();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.output, "2024-03-05 13:42:44.0143: 1000.0000 1000.0000   +0.0000  156250 (+0) \n"
                        "2027-05-06 23:29:25.0143: 100000001000.0000 1000.0000 +100000000000.0000  156250 (+0) ><\n"
                        "2024-03-05 13:42:46.0143: -99999999000.0000 1000.0000 -100000000000.0000  156250 (+0) ><\n"
                        "2024-03-05 13:42:47.0143: 1000.0000    0.0000 +1000.0000  156250 (+0) ><\n");

    // Set back to before 1601, where the system has no calendar date, and
    // forward again.
    fake.readings = {{15'000'000, 0}, {15'000'000ULL - 20'000'000ULL, 10'000'000}, {25'000'000, 20'000'000}};
    r = run_loop();
    EXPECT_EQ(r.output, "0000-00-00 00:00:00.0000: -2000.0000 1000.0000 -3000.0000  156250 (+0) ><\n"
                        "1601-01-01 00:00:02.0500: 3000.0000 1000.0000 +2000.0000  156250 (+0) ><\n");
}

TEST_F(SamplingLoop, FailedSystemCallsGiveZeroesNotGarbage) {
    // Every call of the loop that can fail fails: the adjustment, the
    // calendar date, and the timer (not made, not set, or not waited for).
    for (int timer_failure = 0; timer_failure < 3; ++timer_failure) {
        reset_fake();
        fake.readings = steady_readings(3);
        fake.adjustment_fails = true;
        fake.calendar_fails = true;
        fake.timer_creation_fails = timer_failure == 0;
        fake.timer_setting_fails = timer_failure == 1;
        fake.wait_result = timer_failure == 2 ? 0xFFFFFFFF : WAIT_SIGNALLED;
        ChildRun r = run_loop();
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.output, "0000-00-00 00:00:00.0000: 1000.0000 1000.0000   +0.0000  0 (+0) \n"
                            "0000-00-00 00:00:00.0000: 1000.0000 1000.0000   +0.0000  0 (+0) \n")
            << timer_failure;
    }
}

TEST_F(SamplingLoop, WithoutAWorkingTimerItSleepsRatherThanSpins) {
    fake.readings = steady_readings(3);
    fake.timer_creation_fails = true;
    ChildRun r = run_loop();
    EXPECT_EQ(r.calls.find("SetWaitableTimer"), std::string::npos);
    EXPECT_EQ(calls_count(r.calls, "Sleep(1000)"), 3);

    fake.timer_creation_fails = false;
    fake.timer_setting_fails = true;
    r = run_loop();
    EXPECT_EQ(calls_count(r.calls, "WaitForSingleObject"), 0);
    EXPECT_EQ(calls_count(r.calls, "Sleep(1000)"), 3);

    fake.timer_setting_fails = false;
    fake.wait_result = 0xFFFFFFFF;  // WAIT_FAILED
    r = run_loop();
    EXPECT_EQ(calls_count(r.calls, "WaitForSingleObject"), 4);
    EXPECT_EQ(calls_count(r.calls, "Sleep(1000)"), 2);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(calls_count(r.output, "\n"), 2);
}

// Resident memory is read from /proc, so the long run is the host's alone.
#ifndef _WIN32
constexpr size_t LONG_RUN_PASSES = 1'000'000;

// Without allocating: whatever is freed lingers a while under
// AddressSanitizer, and would count as growth.
long resident_kib() {
    char text[64] = {};
    int fd = open("/proc/self/statm", O_RDONLY);
    if (fd < 0 || read(fd, text, sizeof text - 1) <= 0) {
        std::abort();
    }
    close(fd);
    const char *resident = std::strchr(text, ' ');
    return std::strtol(resident, nullptr, 10) * (sysconf(_SC_PAGESIZE) / 1024);
}

// Reports resident memory after pass 1000 and after the last pass.
void measure_memory(const char *call) {
    static size_t waits = 0;  // the first takes the timer's immediate signal; the (n+1)-th follows pass n
    if (std::strcmp(call, "WaitForSingleObject") == 0 && (++waits == 1'001 || waits == LONG_RUN_PASSES + 1)) {
        char line[32];
        int length = std::snprintf(line, sizeof line, "%ld\n", resident_kib());
        if (write(fake.trace_fd, line, static_cast<size_t>(length)) != length) {
            std::abort();
        }
    }
}

TEST_F(SamplingLoop, AMillionPassesRunInBoundedMemoryAndEndExact) {
    ScratchDirectory dir;
    const std::string console = dir.file("console.txt");
    fake.record_calls = false;
    fake.generated_readings = LONG_RUN_PASSES + 1;
    fake.first_reading = steady_readings(1)[0];       // 2024-03-05 13:38:59.000
    fake.reading_step = {10'000'001, 3'000'000'300};  // 1000.0001 ms of either clock, at 3 GHz
    fake.frequency = 3'000'000'000;
    const auto start = std::chrono::steady_clock::now();
    ChildRun r = run_loop([&] {
        int fd = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
            _exit(96);
        }
        fake.at_call = measure_memory;
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_LT(seconds, 60.0);

    // Every line as long as the first, and the last one exact: the deltas
    // come from differences of the readings, never from sums of deltas.
    const std::string first = "2024-03-05 13:39:00.0000: 1000.0001 1000.0001   +0.0000  156250 (+0) \n";
    const std::string last = "2024-03-17 03:25:39.0100: 1000.0001 1000.0001   +0.0000  156250 (+0) \n";
    std::ifstream in(console, std::ios::binary | std::ios::ate);
    const auto size = static_cast<size_t>(in.tellg());
    EXPECT_EQ(size, LONG_RUN_PASSES * first.size());
    std::string head(first.size(), '\0');
    std::string tail(last.size(), '\0');
    in.seekg(0).read(head.data(), static_cast<std::streamsize>(head.size()));
    in.seekg(static_cast<std::streamoff>(size - tail.size()))
        .read(tail.data(), static_cast<std::streamsize>(tail.size()));
    EXPECT_EQ(head, first);
    EXPECT_EQ(tail, last);

    long after_1000 = 0;
    long after_all = 0;
    ASSERT_EQ(std::sscanf(r.calls.c_str(), "%ld %ld", &after_1000, &after_all), 2) << r.calls;
    EXPECT_LE(after_all - after_1000, 1024) << "KiB more resident after a million passes than after a thousand";
    std::printf("figures: long run: %zu passes in %.1f s; resident %ld KiB after pass 1000, %ld KiB after the last\n",
                LONG_RUN_PASSES, seconds, after_1000, after_all);
}
#endif

}  // namespace
