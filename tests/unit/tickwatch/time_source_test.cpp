// -p: the choice of the function that reads the system time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/run_settings.h"
#include "clock/sampling.h"
#include "clock/time_source.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_platform.h"

namespace {

class TimeSource : public ::testing::Test {
  protected:
    void SetUp() override { reset_fake(); }
};

enum class Lookup { found, load_fails, lookup_fails };

// Chooses the time function in a child process: what it printed, and which
// function it chose.
std::string choose(bool use_precise_time, Lookup lookup) {
    fake.library_load_fails = lookup == Lookup::load_fails;
    fake.has_precise_time = lookup != Lookup::lookup_fails;
    run_settings.use_precise_time = use_precise_time;
    ChildRun run = run_in_child([] {
        choose_time_function();
        const char *chosen = time_function == fake_precise_time                   ? "precise"
                             : time_function == platform::GetSystemTimeAsFileTime ? "default"
                                                                                  : "?";
        std::printf("|%s", chosen);
        std::fflush(stdout);
        _exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    return run.output;
}

TEST_F(TimeSource, DashPUsesThePreciseFunctionWhereTheSystemHasIt) {
    EXPECT_EQ(choose(true, Lookup::found), "Using GetSystemTimePreciseAsFileTime API\n\n|precise");
    const char *fallback = "GetSystemTimePreciseAsFileTime API not supported, falling back to default\n\n|default";
    EXPECT_EQ(choose(true, Lookup::load_fails), fallback);
    EXPECT_EQ(choose(true, Lookup::lookup_fails), fallback);
}

TEST_F(TimeSource, WithoutDashPTheDefaultStaysAndThePreciseOneIsPointedOut) {
    EXPECT_EQ(choose(false, Lookup::found),
              "Note: GetSystemTimePreciseAsFileTime API is also available, use -p\n\n|default");
    EXPECT_EQ(choose(false, Lookup::load_fails), "|default");
    EXPECT_EQ(choose(false, Lookup::lookup_fails), "|default");
}

TEST_F(TimeSource, TheLookupReturnsTheSystemsErrorCodeAndNoneWhenItFails) {
    SystemTimeFunction found = platform::GetSystemTimeAsFileTime;
    EXPECT_EQ(find_precise_time_function(&found), 0u);
    EXPECT_EQ(found, fake_precise_time);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"LoadLibraryA(kernel32.dll)",
                                                    "GetProcAddress(kernel32, GetSystemTimePreciseAsFileTime)"}));
    EXPECT_EQ(find_precise_time_function(nullptr), 0u);

    fake.has_precise_time = false;
    fake.last_error = 127;
    EXPECT_EQ(find_precise_time_function(&found), 127u);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(find_precise_time_function(nullptr), 127u);

    fake.library_load_fails = true;
    fake.last_error = 126;
    found = platform::GetSystemTimeAsFileTime;
    EXPECT_EQ(find_precise_time_function(&found), 126u);
    EXPECT_EQ(found, nullptr);
}

}  // namespace
