// The CSV written as the rows come: each row whole in the file, whatever
// the disk and the directories do, and every row written or counted.
#include <gtest/gtest.h>

#include <string>

#include "analyze/files/live_csv.h"
#include "tests/support/fake_file_system.h"

namespace {

const std::string HEADER = "time,value\n";

// Rows first, first + 1, ..., ten characters each.
std::string rows(int first, int count) {
    std::string text;
    for (int i = first; i < first + count; ++i) {
        text += "row " + std::string(5 - std::to_string(i).size(), ' ') + std::to_string(i) + "\n";
    }
    return text;
}

void add_rows(LiveCsv &csv, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        if (char *row = csv.row_space(16)) {
            csv.add_row(row + rows(i, 1).copy(row, 10));
        }
    }
}

class AnalyzeLiveCsv : public ::testing::Test {
  protected:
    void SetUp() override {
        files.make_directory("out");
        files.write("out/c.csv", "");
        testing::internal::CaptureStderr();
        ASSERT_TRUE(csv.begin(files, "c.csv", "out/c.csv", HEADER));
    }

    FakeFileSystem files;
    LiveCsv csv;
};

TEST_F(AnalyzeLiveCsv, AFullDiskCutsBackToWholeRowsAndTheRestFollowsOnceThereIsRoom) {
    add_rows(csv, 0, 2);
    EXPECT_TRUE(csv.flush());
    // Room for a row and a half: the half is taken back.
    files.room = 15;
    add_rows(csv, 2, 3);
    EXPECT_FALSE(csv.flush());
    EXPECT_EQ(files.text("out/c.csv"), HEADER + rows(0, 3));
    add_rows(csv, 5, 1);
    EXPECT_FALSE(csv.flush());
    EXPECT_EQ(files.text("out/c.csv"), HEADER + rows(0, 3));
    files.room = UINT64_MAX;
    EXPECT_TRUE(csv.flush());
    EXPECT_TRUE(csv.end());
    EXPECT_EQ(files.text("out/c.csv"), HEADER + rows(0, 6));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tickwatch-analyze: c.csv: cannot write: No space left on device; the rows are kept and written again "
              "at the next poll\n"
              "tickwatch-analyze: c.csv: written again, no row lost\n");
}

TEST_F(AnalyzeLiveCsv, ACsvGoneWithItsDirectoryIsMadeAgainHeaderFirstAndRowsPastTheRoomAreCounted) {
    add_rows(csv, 0, 1);
    EXPECT_TRUE(csv.flush());
    files.remove_directory("out");
    add_rows(csv, 1, 30000);
    EXPECT_FALSE(csv.flush());
    files.make_directory("out");
    EXPECT_TRUE(csv.flush());
    const std::string text = files.text("out/c.csv");
    const auto written = static_cast<int>((text.size() - HEADER.size()) / 10);
    EXPECT_EQ(text, HEADER + rows(1, written));
    EXPECT_GT(written, 1000);

    // Rotated: renamed away, and a new file by the name.
    ASSERT_TRUE(files.replace("out/c.csv", "out/c.csv.1", nullptr, 0));
    files.write("out/c.csv", "");
    add_rows(csv, 0, 1);
    EXPECT_TRUE(csv.flush());
    EXPECT_EQ(files.text("out/c.csv"), HEADER + rows(0, 1));

    // Gone again at the end: what is kept is told.
    files.remove_directory("out");
    add_rows(csv, 0, 1);
    EXPECT_FALSE(csv.end());
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string gone = "tickwatch-analyze: c.csv: cannot write: No such file or directory; the rows are kept "
                             "until it can be\n";
    EXPECT_EQ(err, gone + "tickwatch-analyze: c.csv: written again; " + std::to_string(30000 - written) +
                       " rows lost while it could not be\n" + gone +
                       "tickwatch-analyze: c.csv: cannot write: 10 bytes of rows never written\n");
}

}  // namespace
