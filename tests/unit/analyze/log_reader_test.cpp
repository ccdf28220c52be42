// Reading a log in blocks: every line whole, whatever the block edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analyze/files/log_reader.h"
#include "tests/support/fake_file_system.h"

namespace {

// Reads all of text through a LogReader.
struct ReadBack {
    std::vector<std::pair<ReadResult, std::string>> lines;
    std::vector<uint64_t> numbers;
    const char *looks_like;  // what_it_looks_like
};

ReadBack read_back(const std::string &text) {
    FakeFileSystem files;
    files.write("a.log", text);
    const std::unique_ptr<File> file = files.open_to_read("a.log");
    auto block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    LogReader reader;
    start_reading(reader, file.get(), block.get());
    ReadBack back;
    for (;;) {
        const char *line = nullptr;
        size_t length = 0;
        const ReadResult result = read_line(reader, line, length);
        if (result == ReadResult::end || result == ReadResult::error) {
            break;
        }
        back.lines.emplace_back(result, result == ReadResult::too_long ? "" : std::string(line, length));
        back.numbers.push_back(reader.line_number);
    }
    back.looks_like = what_it_looks_like(reader);
    return back;
}

TEST(AnalyzeLogReader, ReturnsEveryLineWholeAcrossBlocksSkippingOverlongOnes) {
    // Lines of every length up to the limit, so that the blocks end at
    // every place in a line; a few far too long, one as long as a block.
    std::string text;
    std::vector<std::string> expected;
    std::mt19937 random(6);
    while (text.size() < 3 * READ_BLOCK_SIZE) {
        const size_t length = expected.size() % 97 == 50 ? READ_BLOCK_SIZE + 3 : random() % MAX_LINE_LENGTH;
        std::string line(length, static_cast<char>('a' + expected.size() % 26));
        text += line + (expected.size() % 2 == 0 ? "\r\n" : "\n");
        expected.push_back(length > MAX_LINE_LENGTH ? "" : line + (expected.size() % 2 == 0 ? "\r" : ""));
    }
    text += "cut";
    const ReadBack back = read_back(text);
    ASSERT_EQ(back.lines.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        const bool too_long = expected[i].empty() && i % 97 == 50;
        ASSERT_EQ(back.lines[i].first, too_long ? ReadResult::too_long : ReadResult::line) << i;
        ASSERT_EQ(back.lines[i].second, expected[i]) << i;
        ASSERT_EQ(back.numbers[i], i + 1);
    }
    EXPECT_EQ(back.lines.back(), std::pair(ReadResult::cut_short, std::string("cut")));

    // A byte order mark before the first line only.
    const ReadBack marked = read_back("\xEF\xBB\xBFone\n\xEF\xBB\xBFtwo\n");
    EXPECT_EQ(marked.lines[0].second, "one");
    EXPECT_EQ(marked.lines[1].second, "\xEF\xBB\xBFtwo");
    EXPECT_EQ(read_back("\xEF\xBB\xBF").lines[0], std::pair(ReadResult::cut_short, std::string()));

    EXPECT_TRUE(read_back("").lines.empty());
    EXPECT_EQ(read_back("\n\n").lines.size(), 2U);
    EXPECT_EQ(read_back(std::string(MAX_LINE_LENGTH + 1, 'x')).lines[0].first, ReadResult::too_long);
}

TEST(AnalyzeLogReader, ReadsWhatWindowsWritesAsTheSameLines) {
    // Across blocks, in UTF-16 with either byte order after its mark, with
    // characters of every UTF-8 length; and with CR alone as line ends.
    const std::pair<const char *, std::u16string> pieces[] = {{"Kestivar ", u"Kestivar "},
                                                              {"\xC3\xA9", u"\u00E9"},
                                                              {"\xE2\x82\xAC", u"\u20AC"},
                                                              {"\xF0\x9F\x98\x80", u"\U0001F600"}};
    std::string utf8;
    std::u16string utf16;
    for (size_t i = 0; utf8.size() < READ_BLOCK_SIZE + READ_BLOCK_SIZE / 4; ++i) {
        utf8 += pieces[i % 4].first + std::string(i % 41 == 0 ? "\n" : "");
        utf16 += pieces[i % 4].second + std::u16string(i % 41 == 0 ? u"\n" : u"");
    }
    std::string little = "\xFF\xFE";
    std::string big = "\xFE\xFF";
    for (const char16_t unit : utf16) {
        little += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        big += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
    std::string cr_only = utf8;
    std::replace(cr_only.begin(), cr_only.end(), '\n', '\r');
    const ReadBack expected = read_back(utf8);
    EXPECT_EQ(read_back(little).lines, expected.lines);
    EXPECT_EQ(read_back(big).lines, expected.lines);
    EXPECT_EQ(read_back(cr_only).lines, expected.lines);
    EXPECT_EQ(read_back("a\rb\nc\n").lines.size(), 2U) << "a stray CR among LF lines";
    EXPECT_EQ(read_back(std::string("\xFF\xFE\x3D\xD8\n\x00", 6)).lines[0].second, "\xEF\xBF\xBD")
        << "a surrogate alone";

    EXPECT_STREQ(read_back(little.substr(2)).looks_like, "UTF-16 without a byte order mark?");
}

}  // namespace
