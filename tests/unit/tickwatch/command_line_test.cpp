// The command line: every option, its order of matching, and the errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run_settings.h"
#include "output/output.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_platform.h"

namespace {

class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override { reset_fake(); }
};

struct Parsed {
    std::string messages;  // what parsing printed
    std::string settings;
    std::string calls;
};

// Parses the arguments (after the program name) in a child process, and
// describes the settings that came of them.
Parsed parse(std::vector<std::string> arguments) {
    ChildRun run = run_in_child([&] {
        std::vector<char *> argv = argument_vector(arguments);
        parse_command_line(static_cast<int>(argv.size() - 1), argv.data());
        const RunSettings &s = run_settings;
        std::printf("|usage=%d mm=%d precise=%d counter_first=%d sleep=%d log=%s", s.show_usage, s.use_mm_timer,
                    s.use_precise_time, s.sample_counter_first, s.use_sleep,
                    s.log_file_name == nullptr ? "(none)" : s.log_file_name);
        std::fflush(stdout);
        _exit(0);
    });
    EXPECT_EQ(run.exit_status, 0);
    size_t bar = run.output.rfind('|');
    return {run.output.substr(0, bar), run.output.substr(bar + 1), run.calls};
}

TEST_F(CommandLine, NoArgumentsLeaveEveryFlagFalseAndNoLogFile) {
    Parsed p = parse({});
    EXPECT_EQ(p.messages, "");
    EXPECT_EQ(p.settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=(none)");
}

TEST_F(CommandLine, EachOptionSetsItsFlagAndFlagsStaySetWhenRepeated) {
    EXPECT_EQ(parse({"-m"}).settings, "usage=0 mm=1 precise=0 counter_first=0 sleep=0 log=(none)");
    EXPECT_EQ(parse({"-p"}).settings, "usage=0 mm=0 precise=1 counter_first=0 sleep=0 log=(none)");
    EXPECT_EQ(parse({"-q"}).settings, "usage=0 mm=0 precise=0 counter_first=1 sleep=0 log=(none)");
    EXPECT_EQ(parse({"-s"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=1 log=(none)");
    EXPECT_EQ(parse({"-?"}).settings, "usage=1 mm=0 precise=0 counter_first=0 sleep=0 log=(none)");
    EXPECT_EQ(parse({"-h"}).settings, "usage=1 mm=0 precise=0 counter_first=0 sleep=0 log=(none)");
    Parsed all = parse({"-s", "-q", "-p", "-m", "-m", "-s", "-q"});
    EXPECT_EQ(all.messages, "");
    EXPECT_EQ(all.settings, "usage=0 mm=1 precise=1 counter_first=1 sleep=1 log=(none)");
}

TEST_F(CommandLine, DashOTakesTheNextArgumentWhateverItLooksLike) {
    EXPECT_EQ(parse({"-o", "run.log"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=run.log");
    EXPECT_EQ(parse({"-o", "-m"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=-m");
    EXPECT_EQ(parse({"-o", "-h", "-s"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=1 log=-h");
    EXPECT_EQ(parse({"-o", ""}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=");
}

TEST_F(CommandLine, DashOAsTheLastArgumentAsksForUsageWithoutAMessage) {
    Parsed p = parse({"-m", "-o"});
    EXPECT_EQ(p.messages, "");
    EXPECT_EQ(p.settings, "usage=1 mm=1 precise=0 counter_first=0 sleep=0 log=(none)");
}

TEST_F(CommandLine, DashLNamesTheLogAfterTheCurrentTime) {
    fake.now = 1337780340;
    EXPECT_EQ(parse({"-l"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=4fbce874.txt");
    fake.now = 5;
    EXPECT_EQ(parse({"-l"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=00000005.txt");
    // Only the low 32 bits of the time make the name.
    fake.now = 0x1FFFFFFFELL;
    EXPECT_EQ(parse({"-l"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=fffffffe.txt");
}

TEST_F(CommandLine, TheTimeForTheNameCountsOnPast2038) {
    // The seconds of the system time, as the Windows builds take them.
    auto seconds = [](uint64_t ticks) {
        return seconds_since_1970({static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)});
    };
    EXPECT_EQ(seconds(FILE_TIME_1970 + 13'377'803'409'999'999ULL), 1337780340);
    EXPECT_EQ(seconds(FILE_TIME_1970 + 0x80000000ULL * 10'000'000), 0x80000000LL);        // 2038-01-19 03:14:08
    EXPECT_EQ(seconds(FILE_TIME_1970 + 2'208'988'800ULL * 10'000'000), 2'208'988'800LL);  // 2040-01-01
    EXPECT_EQ(seconds(FILE_TIME_1970 + 0x100000000ULL * 10'000'000), 0x100000000LL);      // 2106: the name wraps
    EXPECT_EQ(seconds(0), -11'644'473'600LL);
}

TEST_F(CommandLine, TheLastOfSeveralLogOptionsNamesTheFile) {
    EXPECT_EQ(parse({"-l", "-o", "named.log"}).settings,
              "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=named.log");
    EXPECT_EQ(parse({"-o", "named.log", "-l"}).settings,
              "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=4fbce874.txt");
    EXPECT_EQ(parse({"-o", "a.log", "-o", "b.log"}).settings,
              "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=b.log");
}

TEST_F(CommandLine, WithoutMemoryForTheNameDashLNamesNoLogFileAtAll) {
    fake.allocation_fails = true;
    EXPECT_EQ(parse({"-o", "named.log", "-l"}).settings, "usage=0 mm=0 precise=0 counter_first=0 sleep=0 log=(none)");
}

TEST_F(CommandLine, EveryUnknownArgumentIsReportedInTurnAndAsksForUsage) {
    Parsed p = parse({"-x", "-m", "-y"});
    EXPECT_EQ(p.messages, "unknown parameter: -x\n\nunknown parameter: -y\n\n");
    EXPECT_EQ(p.settings, "usage=1 mm=1 precise=0 counter_first=0 sleep=0 log=(none)");
}

TEST_F(CommandLine, OptionsAreWholeCaseSensitiveAndSingle) {
    for (const char *argument : {"-L", "-M", "--help", "/?", "-lm", "-", "", "m", "-o2", "-h ", " -h", "-?-"}) {
        Parsed p = parse({argument});
        EXPECT_EQ(p.messages, std::string("unknown parameter: ") + argument + "\n\n") << argument;
        EXPECT_EQ(p.settings, "usage=1 mm=0 precise=0 counter_first=0 sleep=0 log=(none)") << argument;
    }
}

TEST_F(CommandLine, ArgumentsAreShownAsTheyAreNeverAsAFormat) {
    EXPECT_EQ(parse({"%s%n%x"}).messages, "unknown parameter: %s%n%x\n\n");
    EXPECT_EQ(parse({"\xE9t\xE9"}).messages, "unknown parameter: \xE9t\xE9\n\n");
}

TEST_F(CommandLine, AnUnknownArgumentTooLongForTheBufferIsCutShort) {
    const std::string prefix = "unknown parameter: ";
    for (size_t length : {size_t{235}, size_t{236}, size_t{300}, size_t{32000}}) {
        Parsed p = parse({std::string(length, 'x')});
        std::string shown(length < 235 ? length : 235, 'x');
        EXPECT_EQ(p.messages, prefix + shown + "\n\n") << length;
    }
}

TEST_F(CommandLine, AnUnknownArgumentGoesToALogFileNamedBeforeIt) {
    ScratchDirectory dir;
    Parsed p = parse({"-o", dir.file("run.log"), "-x", "-o", dir.file("other.log"), "-y"});
    EXPECT_EQ(p.messages, "unknown parameter: -x\n\nunknown parameter: -y\n\n");
    EXPECT_EQ(read_file(dir.file("run.log")), "unknown parameter: -x\n\n");
    EXPECT_EQ(read_file(dir.file("other.log")), "unknown parameter: -y\n\n");
}

}  // namespace
