// The outputs as one set: replaced together or not at all, and nothing
// left behind, however the set ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analyze/files/output_set.h"
#include "tests/support/child_process.h"

namespace {

TEST(AnalyzeOutputSet, TargetsAreReplacedTogetherOrNotAtAllAndNothingIsLeftBehind) {
    ScratchDirectory dir;
    const std::string csv = dir.file("a.csv");
    const std::string svg = dir.file("b.svg");
    write_file(csv, "old");
    {
        OutputSet outputs;
        outputs.name(OutputKind::csv, csv.c_str());
        outputs.name(OutputKind::svg, svg.c_str());
        EXPECT_FALSE(outputs.wanted(OutputKind::html));
        const char *targets[OUTPUT_KINDS];
        ASSERT_EQ(outputs.targets(targets), 2);
        EXPECT_EQ(targets[1], svg.c_str());
        ASSERT_TRUE(outputs.open_all());
        std::fputs("new", outputs.file(OutputKind::csv));
        EXPECT_EQ(files_in(dir.path).size(), 3U) << "the target and two temporaries";
        EXPECT_FALSE(outputs.commit_all(false));
        EXPECT_EQ(files_in(dir.path), std::vector<std::string>({"a.csv"}));
        EXPECT_EQ(read_file(csv), "old");

        // Opened again, and gone with the set: as a run that ends early.
        ASSERT_TRUE(outputs.open_all());
        std::fputs("new", outputs.file(OutputKind::csv));
    }
    EXPECT_EQ(files_in(dir.path), std::vector<std::string>({"a.csv"}));
    EXPECT_EQ(read_file(csv), "old");

    // One committed on its own (as --follow does at each interval), then
    // the set; and one that cannot be opened takes the others back.
    OutputSet outputs;
    outputs.name(OutputKind::csv, csv.c_str());
    outputs.name(OutputKind::svg, svg.c_str());
    ASSERT_TRUE(outputs.open_all());
    std::fputs("chart 1", outputs.file(OutputKind::svg));
    ASSERT_TRUE(outputs.commit(OutputKind::svg));
    EXPECT_EQ(outputs.file(OutputKind::svg), nullptr);
    EXPECT_EQ(read_file(svg), "chart 1");
    ASSERT_TRUE(outputs.open(OutputKind::svg));
    std::fputs("chart 2", outputs.file(OutputKind::svg));
    std::fputs("rows", outputs.file(OutputKind::csv));
    EXPECT_TRUE(outputs.commit_all(true));
    EXPECT_EQ(read_file(svg), "chart 2");
    EXPECT_EQ(read_file(csv), "rows");

    const std::string missing = dir.file("missing/c.html");
    outputs.name(OutputKind::html, missing.c_str());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(outputs.open_all());
    EXPECT_NE(testing::internal::GetCapturedStderr().find(missing + ": cannot write: "), std::string::npos);
    EXPECT_EQ(files_in(dir.path), std::vector<std::string>({"a.csv", "b.svg"}));
}

}  // namespace
