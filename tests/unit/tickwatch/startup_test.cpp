// Start-up, the console control handler and the ways the process ends.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/tickwatch.h"
#include "app/version.h"
#include "output/output.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_platform.h"

namespace {

const std::string LOGGED_BANNER = "Kestivar TICKWATCH v" BUILT_IN_VERSION "\n";
const std::string BANNER = "\n" + LOGGED_BANNER;
const std::string NOTE = "Note: GetSystemTimePreciseAsFileTime API is also available, use -p\n\n";

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_fake();
        fake.readings = steady_readings(3);
    }

    // Runs tickwatch with these arguments (after the program name) in a
    // child process, until the scripted clock readings are used up.
    ChildRun run(std::vector<std::string> arguments) {
        return run_in_child([&] {
            if (!work_dir.empty() && chdir(work_dir.c_str()) != 0) {
                _exit(96);
            }
            std::vector<char *> argv = argument_vector(arguments);
            run_tickwatch(static_cast<int>(argv.size() - 1), argv.data());
        });
    }

    std::string work_dir;
};

// Lines of the calls trace that start with one of the prefixes.
std::string calls_named(const std::string &calls, std::initializer_list<const char *> prefixes) {
    std::string picked;
    size_t start = 0;
    while (start < calls.size()) {
        size_t end = calls.find('\n', start);
        std::string line = calls.substr(start, end - start);
        for (const char *prefix : prefixes) {
            if (line.rfind(prefix, 0) == 0) {
                picked += line + "\n";
                break;
            }
        }
        start = end + 1;
    }
    return picked;
}

TEST_F(Startup, RunsUntilCtrlCWithTheBannerAnEmptyLineAndAReportLineASecond) {
    ChildRun r = run({});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.output, BANNER + NOTE + "\n" +
                            "2024-03-05 13:39:00.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) \n"
                            "2024-03-05 13:39:01.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) \n");
    EXPECT_EQ(calls_named(r.calls, {"GetModuleFileNameA", "QueryPerformanceFrequency", "SetConsoleCtrlHandler",
                                    "CreateWaitableTimerA", "Ctrl+C"}),
              "GetModuleFileNameA(260)\nQueryPerformanceFrequency\nSetConsoleCtrlHandler(add)\n"
              "CreateWaitableTimerA(auto reset)\nCtrl+C\n");
}

TEST_F(Startup, TheLogGetsTheBannerOnceTheCommandLineIsAcceptedThenEverything) {
    ScratchDirectory dir;
    ChildRun r = run({"-o", dir.file("run.log"), "-q"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_file(dir.file("run.log")),
              LOGGED_BANNER + NOTE + "\n" +
                  "2024-03-05 13:39:00.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) \n"
                  "2024-03-05 13:39:01.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) \n");
}

TEST_F(Startup, DashLLogsToTheGeneratedNameAndReleasesItOnCtrlC) {
    ScratchDirectory dir;
    work_dir = dir.path;
    fake.now = 0x4fbce874;
    ChildRun r = run({"-l"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_file(dir.file("4fbce874.txt")).substr(0, LOGGED_BANNER.size()), LOGGED_BANNER);
    EXPECT_EQ(calls_named(r.calls, {"allocate(13)", "release", "Ctrl+C"}), "release\nallocate(13)\nCtrl+C\nrelease\n");
}

TEST_F(Startup, ChoosesTheTimeSourceThenRaisesTheTimerResolutionThenRuns) {
    ScratchDirectory dir;
    ChildRun r = run({"-p", "-m", "-o", dir.file("run.log")});
    EXPECT_EQ(r.exit_status, 0);
    const std::string logged = LOGGED_BANNER +
                               "Using GetSystemTimePreciseAsFileTime API\n\n"
                               "MM timer resolution: 1..1000000 ms, set to 1 ms\n\n"
                               "2024-03-05 13:39:00.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) \n"
                               "2024-03-05 13:39:01.0000: 1000.0000 1000.0000   +0.0000  156250 (+0) \n";
    EXPECT_EQ(r.output, "\n" + logged);
    EXPECT_EQ(read_file(dir.file("run.log")), logged);
    EXPECT_EQ(calls_named(r.calls, {"SetConsoleCtrlHandler", "LoadLibraryA", "timeBeginPeriod", "CreateWaitableTimerA",
                                    "Ctrl+C", "timeEndPeriod"}),
              "SetConsoleCtrlHandler(add)\nLoadLibraryA(kernel32.dll)\ntimeBeginPeriod(1)\n"
              "CreateWaitableTimerA(auto reset)\nCtrl+C\ntimeEndPeriod(1)\n");
}

TEST_F(Startup, EverySampleComesFromTheChosenTimeFunction) {
    ChildRun r = run({"-p"});
    EXPECT_EQ(calls_named(r.calls, {"GetSystemTimeAsFileTime", "GetSystemTimePreciseAsFileTime"}),
              "GetSystemTimePreciseAsFileTime\n"
              "GetSystemTimePreciseAsFileTime\n"
              "GetSystemTimePreciseAsFileTime\n");
    r = run({});
    EXPECT_EQ(calls_named(r.calls, {"GetSystemTimeAsFileTime", "GetSystemTimePreciseAsFileTime"}),
              "GetSystemTimeAsFileTime\n"
              "GetSystemTimeAsFileTime\n"
              "GetSystemTimeAsFileTime\n");
    fake.has_precise_time = false;
    r = run({"-p"});
    EXPECT_EQ(r.output.substr(BANNER.size(), 76),
              "GetSystemTimePreciseAsFileTime API not supported, falling back to default\n\n\n");
    EXPECT_EQ(calls_named(r.calls, {"GetSystemTimeAsFileTime", "GetSystemTimePreciseAsFileTime"}),
              "GetSystemTimeAsFileTime\n"
              "GetSystemTimeAsFileTime\n"
              "GetSystemTimeAsFileTime\n");
}

TEST_F(Startup, CtrlCRunsTheExitActionsInReverseOrderOfRegistration) {
    ScratchDirectory dir;
    work_dir = dir.path;
    ChildRun r = run({"-l", "-m"});
    EXPECT_EQ(r.exit_status, 0);
    // The generated name is registered while parsing, the timer period after.
    EXPECT_EQ(calls_named(r.calls, {"allocate(13)", "timeBeginPeriod", "Ctrl+C", "timeEndPeriod", "release"}),
              "release\nallocate(13)\ntimeBeginPeriod(1)\nCtrl+C\ntimeEndPeriod(1)\nrelease\n");
}

TEST_F(Startup, UsageTextEndsTheRunWithStatusOneAndNothingLogged) {
    ScratchDirectory dir;
    work_dir = dir.path;
    for (auto arguments : std::vector<std::vector<std::string>>{
             {"-?"}, {"-h"}, {"-m", "-h"}, {"-o", "run.log", "-h"}, {"-l", "-?"}, {"-s", "-o"}}) {
        ChildRun r = run(arguments);
        EXPECT_EQ(r.exit_status, 1) << arguments[0];
        EXPECT_EQ(r.output, BANNER + USAGE_TEXT) << arguments[0];
        EXPECT_EQ(calls_named(r.calls, {"timeGetDevCaps", "timeBeginPeriod", "LoadLibraryA", "CreateWaitableTimerA",
                                        "GetSystemTimeAsFileTime"}),
                  "");
    }
    EXPECT_TRUE(directory_is_empty(dir.path)) << "no log file was created";
}

TEST_F(Startup, UnknownParametersAreListedBeforeTheUsageTextAndLoggedWhereNamed) {
    ScratchDirectory dir;
    ChildRun r = run({"-x", "-o", dir.file("run.log"), "-y"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.output, BANNER + "unknown parameter: -x\n\nunknown parameter: -y\n\n" + USAGE_TEXT);
    EXPECT_EQ(read_file(dir.file("run.log")), "unknown parameter: -y\n\n");
}

TEST_F(Startup, WithoutAPerformanceCounterItStopsWithStatusOne) {
    ScratchDirectory dir;
    fake.frequency_fails = true;
    ChildRun r = run({"-o", dir.file("run.log")});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.output, BANNER + "Unable to read perfomance counter frequency.\n");
    EXPECT_EQ(calls_named(r.calls, {"SetConsoleCtrlHandler"}), "");
    EXPECT_FALSE(file_exists(dir.file("run.log")));

    // A counter that claims to count at no frequency at all is no counter.
    reset_fake();
    fake.frequency = 0;
    r = run({});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.output, BANNER + "Unable to read perfomance counter frequency.\n");
}

TEST_F(Startup, WithoutAConsoleControlHandlerItStopsWithStatusOne) {
    fake.handler_registration_fails = true;
    ChildRun r = run({"-x"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.output, BANNER + "Unable to set console control handler.\n");
}

TEST_F(Startup, AnUnreadableVersionLeavesTheBannerWithoutAVersion) {
    fake.version_resource = FakeVersionResource::unreadable;
    ChildRun r = run({"-h"});
    EXPECT_EQ(r.output.substr(0, 22), "\nKestivar TICKWATCH v\n");

    fake.version_resource = FakeVersionResource::present;
    fake.product_version_ls = 1;
    r = run({"-h"});
    const std::string marked = "\nKestivar TICKWATCH v" BUILT_IN_VERSION ".0.1 (!)\n";
    EXPECT_EQ(r.output.substr(0, marked.size()), marked);
}

TEST_F(Startup, CtrlCBreakCloseAndShutdownEndTheRunWithStatusZero) {
    for (uint32_t event : {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_SHUTDOWN_EVENT}) {
        reset_fake();
        ChildRun r = run_in_child([&] {
            generate_log_file_name();
            console_control_handler(event);
        });
        EXPECT_EQ(r.exit_status, 0) << event;
        EXPECT_EQ(r.output, "") << "the handler prints nothing";
        EXPECT_EQ(calls_named(r.calls, {"release"}), "release\n") << "exit actions ran";
    }
}

TEST_F(Startup, OtherControlEventsAreLeftToTheNextHandler) {
    for (uint32_t event : {CTRL_LOGOFF_EVENT, 3u, 4u, 7u, 0xFFFFFFFFu}) {
        EXPECT_EQ(console_control_handler(event), 0) << event;
    }
}

}  // namespace
