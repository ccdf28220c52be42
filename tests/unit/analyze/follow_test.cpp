// Following a growing log by its name across renames and rewrites.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analyze/files/follow.h"
#include "analyze/files/log_reader.h"
#include "tests/support/child_process.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

// A log in a directory of its own, written and renamed as tickwatch and
// rotation tools do, and followed by its name.
class AnalyzeFollow : public ::testing::Test {
  protected:
    // A directory of each test's own: CTest runs the tests side by side.
    void SetUp() override {
        path = (dir / "clock.log").string();
        start_following(log, path.c_str(), block.get());
    }

    void write(const char *mode, const std::string &text) const {
        std::FILE *file = std::fopen(path.c_str(), mode);
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

    // One poll: what it found, and the whole lines it read.
    PollResult poll(std::vector<std::string> &lines) {
        lines.clear();
        std::FILE *file = nullptr;
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
            std::fclose(file);  // the log may be renamed between polls
        }
        return result;
    }

    ScratchDirectory scratch;
    std::filesystem::path dir = scratch.path;
    std::string path;
    std::unique_ptr<char[]> block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    FollowedLog log;
    bool dropped = false;
};

using Lines = std::vector<std::string>;

TEST_F(AnalyzeFollow, ReadsWhatIsNewAndWaitsForALineToEnd) {
    Lines lines;
    EXPECT_EQ(poll(lines), PollResult::unavailable);
    EXPECT_EQ(log.error, ENOENT);
    write("wb", "one\r\ntw");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines, Lines{"one\r"});
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{});
    write("ab", "o\r\nthree\r\n");
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, (Lines{"two\r", "three\r"}));
    EXPECT_EQ(log.reader.line_number, 3U);
    // A line too long for a log, written in parts, is skipped once whole.
    write("ab", std::string(MAX_LINE_LENGTH + 10, 'x'));
    EXPECT_EQ(poll(lines), PollResult::same_file);
    write("ab", "xx\nfour\n");
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{"four"});
    EXPECT_EQ(log.reader.line_number, 5U);
}

TEST_F(AnalyzeFollow, ANewFileUnderTheNameIsReadFromItsStart) {
    Lines lines;
    const std::string first = "2024-03-05 13:39:00.0015 the first line, whose time no other log has\r\n";
    write("wb", first + "half a li");
    poll(lines);
    // Renamed away, and a new log in its place before the next poll.
    std::filesystem::rename(path, path + ".1");
    write("wb", "new\r\n");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_TRUE(dropped) << "the old log's last line never ended";
    EXPECT_EQ(lines, Lines{"new\r"});
    EXPECT_EQ(log.reader.line_number, 1U);

    // Deleted, and for a while nothing by the name.
    std::filesystem::remove(path);
    EXPECT_EQ(poll(lines), PollResult::unavailable);
    write("wb", first);
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_FALSE(dropped);

    // Emptied in place: the same file truncated, read on from its new end.
    write("wb", "");
    EXPECT_EQ(poll(lines), PollResult::truncated);
    write("ab", first);
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{first.substr(0, first.size() - 1)});

    // The same file, longer, but other first bytes: what Windows shows of a
    // new file where inodes tell nothing.
    write("r+b", "2024-03-06");
    write("ab", "more\r\n");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines.size(), 2U);
}

TEST_F(AnalyzeFollow, ATruncatedOrRewrittenLogIsNotReadTwice) {
    Lines lines;
    std::string text;
    for (int i = 0; i < 20; ++i) {
        text += "2024-03-05 13:39:" + std::to_string(10 + i) + ".0015 a line long enough to pass the first bytes\r\n";
    }
    write("wb", text);
    poll(lines);
    EXPECT_EQ(lines.size(), 20U);

    // Truncated in place to its first ten lines: nothing read again.
    const size_t ten_lines = text.size() / 2;
    std::filesystem::resize_file(path, ten_lines);
    EXPECT_EQ(poll(lines), PollResult::truncated);
    EXPECT_EQ(lines, Lines{});
    write("ab", "after\n");
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{"after"});
    EXPECT_EQ(log.reader.line_number, 11U);

    // The same content under a new inode, as sed -i leaves it: read on.
    std::string content = text.substr(0, ten_lines) + "after\n";
    const std::string rewritten = path + ".new";
    std::FILE *file = std::fopen(rewritten.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    std::filesystem::rename(rewritten, path);
    write("ab", "more\n");
    EXPECT_EQ(poll(lines), PollResult::same_file);
    EXPECT_EQ(lines, Lines{"more"});

    // A new inode whose first bytes and length agree, but not what follows.
    content += "more\n";
    content[content.size() - 20] = '#';
    file = std::fopen(rewritten.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    std::filesystem::rename(rewritten, path);
#ifndef _WIN32
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines.size(), 12U);
#endif
}

#ifndef _WIN32
TEST_F(AnalyzeFollow, ANameThatIsNoLongerARegularFileIsSkippedWithoutBlocking) {
    Lines lines;
    write("wb", "one\n");
    poll(lines);
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    // Opening a FIFO to read it would wait for a writer.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(poll(lines), PollResult::not_regular);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/zero", path);
    EXPECT_EQ(poll(lines), PollResult::not_regular);
    std::filesystem::remove(path);
    write("wb", "two\n");
    EXPECT_EQ(poll(lines), PollResult::new_file);
    EXPECT_EQ(lines, Lines{"two"});
}
#endif

}  // namespace
