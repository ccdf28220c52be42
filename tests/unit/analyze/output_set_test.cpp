// The outputs as one set: replaced together or not at all, and nothing
// left behind, however the set ends and whatever the disk does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analyze/files/output_set.h"
#include "tests/support/fake_file_system.h"

namespace {

using Names = std::vector<std::string>;

TEST(AnalyzeOutputSet, TargetsAreReplacedTogetherOrNotAtAllAndNothingIsLeftBehind) {
    FakeFileSystem files;
    files.make_directory("out");
    files.write("out/a.csv", "old");
    {
        OutputSet outputs(files);
        outputs.name(OutputKind::csv, "out/a.csv");
        outputs.name(OutputKind::svg, "b.svg");
        EXPECT_FALSE(outputs.wanted(OutputKind::html));
        const char *targets[OUTPUT_KINDS];
        ASSERT_EQ(outputs.targets(targets), 2);
        EXPECT_STREQ(targets[1], "b.svg");
        ASSERT_TRUE(outputs.open_all());
        std::fputs("new", outputs.file(OutputKind::csv));
        EXPECT_EQ(files.files().size(), 3U) << "the target and two temporaries";
        EXPECT_FALSE(outputs.commit_all(false));
        EXPECT_EQ(files.files(), Names{"out/a.csv"});

        // Opened again, and gone with the set: as a run that ends early.
        ASSERT_TRUE(outputs.open_all());
        std::fputs("new", outputs.file(OutputKind::csv));
    }
    EXPECT_EQ(files.files(), Names{"out/a.csv"});
    EXPECT_EQ(files.text("out/a.csv"), "old");

    // One committed on its own (as --follow does at each interval), then
    // the set.
    OutputSet outputs(files);
    outputs.name(OutputKind::csv, "out/a.csv");
    outputs.name(OutputKind::svg, "b.svg");
    ASSERT_TRUE(outputs.open_all());
    std::fputs("chart 1", outputs.file(OutputKind::svg));
    ASSERT_TRUE(outputs.commit(OutputKind::svg));
    EXPECT_EQ(outputs.file(OutputKind::svg), nullptr);
    EXPECT_EQ(files.text("b.svg"), "chart 1");
    ASSERT_TRUE(outputs.open(OutputKind::svg));
    std::fputs("chart 2", outputs.file(OutputKind::svg));
    std::fputs("rows", outputs.file(OutputKind::csv));
    EXPECT_TRUE(outputs.commit_all(true));
    EXPECT_EQ(files.text("out/a.csv"), "rows");

    // A disk full when the temporaries are written out, their directory
    // gone before they replace the targets, or one that cannot be opened:
    // none replaced, none left.
    testing::internal::CaptureStderr();
    ASSERT_TRUE(outputs.open_all());
    std::fputs("new rows", outputs.file(OutputKind::csv));
    files.room = 4;
    EXPECT_FALSE(outputs.commit_all(true));
    EXPECT_EQ(files.files(), (Names{"b.svg", "out/a.csv"}));
    files.room = UINT64_MAX;
    ASSERT_TRUE(outputs.open_all());
    files.remove_directory("out");
    EXPECT_FALSE(outputs.commit_all(true));
    files.make_directory("out");
    outputs.name(OutputKind::html, "missing/c.html");
    EXPECT_FALSE(outputs.open_all());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tickwatch-analyze: out/a.csv: cannot write: No space left on device\n"
              "tickwatch-analyze: out/a.csv: cannot write: No such file or directory\n"
              "tickwatch-analyze: missing/c.html: cannot write: No such file or directory\n");
    EXPECT_EQ(files.files(), Names{"b.svg"});
    EXPECT_EQ(files.text("b.svg"), "chart 2");
}

}  // namespace
