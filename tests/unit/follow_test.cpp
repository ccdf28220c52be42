// Following a growing log by its name across renames and rewrites.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analyze/parse/follow.h"
#include "analyze/parse/log_reader.h"

namespace {

// A log in a directory of its own, written and renamed as tickwatch and
// rotation tools do, and followed by its name.
class AnalyzeFollow : public ::testing::Test {
  protected:
    void SetUp() override {
        std::error_code error;
        dir = std::filesystem::temp_directory_path(error) / ("tickwatch-follow-" + std::to_string(std::rand()));
        std::filesystem::create_directories(dir, error);
        path = (dir / "clock.log").string();
        start_following(log, path.c_str(), block.get());
    }
    void TearDown() override {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
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
        if (result != PollResult::unavailable) {
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

    std::filesystem::path dir;
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

    // Emptied in place: shorter than what was read.
    write("wb", "");
    EXPECT_EQ(poll(lines), PollResult::new_file);
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

}  // namespace
