// -m: the multimedia-timer resolution, raised while tickwatch runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "clock/timer_resolution.h"
#include "output/output.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_platform.h"

namespace {

class TimerResolution : public ::testing::Test {
  protected:
    void SetUp() override { reset_fake(); }

    // Raises the resolution in a child process that then ends through
    // exit, as Ctrl+C ends tickwatch.
    ChildRun raise(TimerCaps caps) {
        fake.timer_caps = caps;
        return run_in_child([] {
            raise_timer_resolution();
            std::exit(0);
        });
    }
};

TEST_F(TimerResolution, SetsTheFinestPeriodAndWithdrawsItAtExit) {
    ChildRun r = raise({1, 1000000});
    EXPECT_EQ(r.output, "MM timer resolution: 1..1000000 ms, set to 1 ms\n");
    EXPECT_EQ(r.calls, "timeGetDevCaps(8)\ntimeBeginPeriod(1)\ntimeEndPeriod(1)\n");
    EXPECT_EQ(r.exit_status, 0);
}

TEST_F(TimerResolution, ThePeriodIsTheMinimumRaisedToOneThenLimitedToTheMaximum) {
    EXPECT_EQ(raise({0, 16}).output, "MM timer resolution: 0..16 ms, set to 1 ms\n");
    EXPECT_EQ(raise({5, 5}).output, "MM timer resolution: 5..5 ms, set to 5 ms\n");
    ChildRun r = raise({20, 10});
    EXPECT_EQ(r.output, "MM timer resolution: 20..10 ms, set to 10 ms\n");
    EXPECT_EQ(r.calls, "timeGetDevCaps(8)\ntimeBeginPeriod(10)\ntimeEndPeriod(10)\n");
}

TEST_F(TimerResolution, WithoutTheCapabilitiesNothingIsRaisedOrWithdrawn) {
    fake.timer_caps_result = 97;  // TIMERR_NOCANDO
    ChildRun r = raise({1, 1000000});
    EXPECT_EQ(r.output, "Failed to get MM timer caps.\n");
    EXPECT_EQ(r.calls, "timeGetDevCaps(8)\n");
    EXPECT_EQ(r.exit_status, 0);
}

TEST_F(TimerResolution, ReleasingTwiceWithdrawsThePeriodOnce) {
    ChildRun r = run_in_child([] {
        raise_timer_resolution();
        release_timer_period();
        release_timer_period();
        _exit(timer_period == 0 ? 0 : 1);
    });
    EXPECT_EQ(r.calls, "timeGetDevCaps(8)\ntimeBeginPeriod(1)\ntimeEndPeriod(1)\n");
    EXPECT_EQ(r.exit_status, 0);
}

}  // namespace
