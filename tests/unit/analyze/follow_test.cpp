// Following a growing log by its name across renames and rewrites.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "analyze/files/follow.h"
#include "analyze/files/log_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_file_system.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using Lines = std::vector<std::string>;

// A log in a directory of its own, written and renamed as tickwatch and
// rotation tools do, and followed by its name.
class AnalyzeFollow : public ::testing::Test {
  protected:
    void SetUp() override {
        files.make_directory("logs");
        start_following(log, files, path, block.get());
    }

    // One poll: what it found, and the whole lines it read.
    PollResult poll(Lines &lines) {
        lines.clear();
        std::unique_ptr<File> file;
        const PollResult result = poll_followed_log(log, file, dropped);
        if (file != nullptr) {
            const char *text = nullptr;
            size_t length = 0;
            for (ReadResult read;
                 (read = read_line(log.reader, text, length)) != ReadResult::end && read != ReadResult::error;) {
                EXPECT_NE(read, ReadResult::cut_short);
                if (read == ReadResult::line) {
                    lines.emplace_back(text, length);
                }
            }
        }
        return result;
    }

    FakeFileSystem files;
    const char *path = "logs/clock.log";
    std::unique_ptr<char[]> block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    FollowedLog log;
    bool dropped = false;
};

TEST_F(AnalyzeFollow, ReadsWhatIsNewAndWaitsForALineToEnd) {
    Lines lines;
    EXPECT_EQ(poll(lines), PollResult::unavailable);
    EXPECT_EQ(log.error, ENOENT);
    files.write(path, "one\r\ntw");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines, Lines{"one\r"});
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{});
    files.write(path, "o\r\nthree\r\n", true);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, (Lines{"two\r", "three\r"}));
    EXPECT_EQ(log.reader.line_number, 3U);
    // A line too long for a log, written in parts, is skipped once whole.
    files.write(path, std::string(MAX_LINE_LENGTH + 10, 'x'), true);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    files.write(path, "xx\nfour\n", true);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{"four"});
    EXPECT_EQ(log.reader.line_number, 5U);
}

TEST_F(AnalyzeFollow, ANewFileUnderTheNameIsReadFromItsStart) {
    Lines lines;
    const std::string first = "2024-03-05 13:39:00.0015 the first line, whose time no other log has\r\n";
    files.write(path, first + "half a li");
    poll(lines);
    // Renamed away, and a new log in its place before the next poll.
    ASSERT_TRUE(files.replace(path, "logs/clock.log.1", nullptr, 0));
    files.write(path, "new\r\n");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_TRUE(dropped) << "the old log's last line never ended";
    EXPECT_EQ(lines, Lines{"new\r"});
    EXPECT_EQ(log.reader.line_number, 1U);

    // Gone with its directory, and for a while nothing by the name; then a
    // pipe by the name, never read.
    files.remove_directory("logs");
    EXPECT_EQ(poll(lines), PollResult::unavailable);
    EXPECT_EQ(log.error, ENOENT);
    files.make_directory("logs");
    files.make_fifo(path);
    EXPECT_EQ(poll(lines), PollResult::not_regular);
    ASSERT_TRUE(files.remove(path));
    files.write(path, first);
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_FALSE(dropped);

    // Emptied in place: the same file truncated, read on from its new end.
    files.write(path, "");
    EXPECT_EQ(poll(lines), PollResult::truncated);
    files.write(path, first, true);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{first.substr(0, first.size() - 1)});

    // The same file, longer, but other first bytes: what Windows shows of a
    // new file where inodes tell nothing.
    files.write(path, "2024-03-06" + first.substr(10) + "more\r\n");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines.size(), 2U);
}

TEST_F(AnalyzeFollow, ATruncatedOrRewrittenLogIsNotReadTwice) {
    Lines lines;
    std::string text;
    for (int i = 0; i < 20; ++i) {
        text += "2024-03-05 13:39:" + std::to_string(10 + i) + ".0015 a line long enough to pass the first bytes\r\n";
    }
    files.write(path, text);
    poll(lines);
    EXPECT_EQ(lines.size(), 20U);

    // Truncated in place to its first ten lines: nothing read again.
    const size_t ten_lines = text.size() / 2;
    files.write(path, text.substr(0, ten_lines));
    EXPECT_EQ(poll(lines), PollResult::truncated);
    EXPECT_EQ(lines, Lines{});
    files.write(path, "after\n", true);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{"after"});
    EXPECT_EQ(log.reader.line_number, 11U);

    // The same content under a new inode, as sed -i leaves it: read on.
    std::string content = text.substr(0, ten_lines) + "after\n";
    files.write("logs/clock.log.new", content);
    ASSERT_TRUE(files.replace("logs/clock.log.new", path, nullptr, 0));
    files.write(path, "more\n", true);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{"more"});

    // A new inode whose first bytes and length agree, but not what follows.
    content += "more\n";
    content[content.size() - 20] = '#';
    files.write("logs/clock.log.new", content);
    ASSERT_TRUE(files.replace("logs/clock.log.new", path, nullptr, 0));
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines.size(), 12U);
}

#ifndef _WIN32
// The real system's pipe: opening one to read it would wait for a writer
// (here, until the test times out).
TEST_F(AnalyzeFollow, APipeOfTheRealSystemIsSkippedWithoutWaiting) {
    ScratchDirectory dir;
    const std::string name = dir.file("clock.log");
    ASSERT_EQ(mkfifo(name.c_str(), 0600), 0);
    start_following(log, native_file_system(), name.c_str(), block.get());
    Lines lines;
    EXPECT_EQ(poll(lines), PollResult::not_regular);
}
#endif

}  // namespace
