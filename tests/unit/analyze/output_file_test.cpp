// Outputs: refused when they are a log or each other, and replaced only
// when the whole run succeeded.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "analyze/files/output_file.h"
#include "tests/support/child_process.h"

namespace {

// Whether outputs (first) and logs (second) may be written: refused (with
// every pair named) when any output is a log or another output.
bool outputs_allowed(const std::vector<std::string> &outputs, const std::vector<std::string> &logs,
                     std::string *said = nullptr) {
    std::vector<const char *> names;  // the outputs', then the logs'
    for (const std::vector<std::string> *list : {&outputs, &logs}) {
        for (const std::string &name : *list) {
            names.push_back(name.c_str());
        }
    }
    testing::internal::CaptureStderr();
    const bool allowed = check_output_names(native_file_system(), names.data(), static_cast<int>(outputs.size()),
                                            names.data() + outputs.size(), static_cast<int>(logs.size()));
    const std::string err = testing::internal::GetCapturedStderr();
    if (said != nullptr) {
        *said = err;
    }
    return allowed;
}

TEST(AnalyzeOutputFile, AnOutputThatIsALogOrAnotherOutputIsRefusedByIdentity) {
    ScratchDirectory dir;
    const std::string log = dir.file("in.log");
    write_file(log, "a log\n");
    std::error_code error;
    std::filesystem::create_hard_link(log, dir.file("hard link.log"), error);
    ASSERT_FALSE(error);
    std::filesystem::create_directory(dir.file("sub"), error);

    std::string said;
    EXPECT_FALSE(outputs_allowed({log}, {log}, &said));
    EXPECT_EQ(said, "tickwatch-analyze: " + log + ": the output is the same file as the log " + log + "\n");
    EXPECT_FALSE(outputs_allowed({dir.file("hard link.log")}, {dir.file("other.log"), log}, &said));
    EXPECT_NE(said.find("hard link.log: the output is the same file as the log " + log), std::string::npos) << said;
    EXPECT_FALSE(outputs_allowed({dir.file("sub/../in.log")}, {log}));
    EXPECT_TRUE(outputs_allowed({dir.file("out.csv"), dir.file("out.svg")}, {log, "-"}));
    // Outputs that are not there yet: the same entry of the same directory.
    EXPECT_FALSE(outputs_allowed({dir.file("x"), dir.file("sub/../x")}, {log}, &said));
    EXPECT_NE(said.find("sub/../x: the same file as the output " + dir.file("x")), std::string::npos) << said;
    EXPECT_FALSE(outputs_allowed({dir.file("sub/x"), dir.file("x"), dir.file("sub/./x")}, {log}));
    write_file(dir.file("x"), "");
    EXPECT_FALSE(outputs_allowed({dir.file("x"), dir.file("sub/../x")}, {log}));
    EXPECT_STREQ(file_name_of("logs/day 1/clock.log"), "clock.log");
    EXPECT_STREQ(file_name_of("clock.log"), "clock.log");
#ifdef _WIN32
    // Names differing in case name one file.
    EXPECT_FALSE(outputs_allowed({dir.file("IN.LOG")}, {log}));
    EXPECT_FALSE(outputs_allowed({dir.file("y"), dir.file("Y")}, {log}));
    EXPECT_STREQ(file_name_of("C:\\logs\\clock.log"), "clock.log");
    EXPECT_STREQ(file_name_of("D:clock.log"), "clock.log");
#endif
}

TEST(AnalyzeOutputFile, TheTargetIsReplacedOnlyOnCommitAndNothingIsLeftBehind) {
    ScratchDirectory dir;
    const std::string target = dir.file("chart é.svg");
    // (As the listing spells it: on Windows the name is in the ANSI code page.)
    const std::vector<std::string> only_target = {std::filesystem::path(target).filename().string()};
    write_file(target, "before");
    static OutputFile first;
    static OutputFile second;
    // Two at once (two runs, or a run and its next interval) never share a
    // temporary; the one committed last is what stays.
    ASSERT_TRUE(open_output_file(native_file_system(), first, target.c_str()));
    ASSERT_TRUE(open_output_file(native_file_system(), second, target.c_str()));
    EXPECT_STRNE(first.temporary, second.temporary);
    std::fputs("first", first.file);
    std::fputs("second", second.file);
    EXPECT_EQ(read_file(target), "before");
    ASSERT_TRUE(commit_output_file(first));
    EXPECT_EQ(read_file(target), "first");
    discard_output_file(second);
    EXPECT_EQ(read_file(target), "first");
    EXPECT_EQ(files_in(dir.path), only_target);

    // A device is written in place.
#ifdef _WIN32
    const char *device = "NUL";
#else
    const char *device = "/dev/null";
#endif
    ASSERT_TRUE(open_output_file(native_file_system(), first, device));
    EXPECT_STREQ(first.temporary, "");
    std::fputs("gone", first.file);
    EXPECT_TRUE(commit_output_file(first));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(open_output_file(native_file_system(), first, dir.path.c_str()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(dir.path + ": cannot write: it is a directory\n"), std::string::npos) << err;
    EXPECT_EQ(files_in(dir.path), only_target);
}

}  // namespace
