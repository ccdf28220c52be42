// A log read ahead in a thread of its own: the pipeline makes the same of
// it as of the lines read in turn, stops when asked, and tells a read error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analyze/pipeline.h"
#include "analyze/read_ahead.h"
#include "clock/log_format.h"
#include "tests/support/fake_file_system.h"
#include "tests/support/report_text.h"

namespace {

// Over four batches: runs with steps, a line of each kind left out, and
// enough long ones quoted that their text ends batches before their lines
// do; last, a line without its end.
std::string varied_log() {
    std::string text;
    for (int i = 0; i < 4 * BATCH_LINES; ++i) {
        text += i % 4000 == 0 ? LOG_BANNER_PREFIX "1.6\n" : "";
        text += i % 97 == 0 ? "garbage " + std::string(static_cast<size_t>(i % 3000), 'g') + "\n" : "";
        if (i == 5000) {
            text += std::string(MAX_LINE_LENGTH + 10, 'x') + "\n" + "2024-03-05 13:39:0" LOG_BANNER_PREFIX "1.6\n" +
                    "2024-03-05 13:39:01.0015:  999.8502  999.8496  +31.2488  156250 (+0) ><\n" +
                    "2024-03-05 13:39:01.0015: 1000.0000  999.9813   +0.0187  156250 (+0) ><\n" +
                    format_parsed_report_line({0, 0, 1e300, -1e300, 156250, 0, true}) + "\n";
        }
        const double difference_ms = i % 700 == 0 ? 500.0 : 0.0001 * ((i * 7919) % 301 - 150);
        text += format_parsed_report_line({1709645940015 + i * int64_t{1000}, 1000.0 + difference_ms, 1000.0,
                                           difference_ms, 156250, 0, difference_ms > MARKER_THRESHOLD_MS}) +
                "\n";
    }
    return text + "2024-03-05 13:39:00.0015: 1000.0";
}

// Everything the pipeline told, and the stability sums' bytes: the same
// only if every figure is the same to the bit.
struct Record : PipelineListener {
    std::string told;
    void sample_taken(const ReportFields &s, int32_t run) override {
        told += std::to_string(run) + ":" + std::to_string(s.utc_ms) + " ";
    }
    void run_ended(const RunRecord &r) override { told += "r" + std::to_string(r.run.last_line) + " "; }
    void line_skipped(const SkippedLine &l) override { told += std::to_string(l.number) + std::string(l.text) + " "; }
};

struct Outcome {
    bool read;
    int error_number;
    uint64_t reports;
    std::string told;
    std::vector<unsigned char> stability;
};

Outcome read_log(File &file, bool ahead, bool (*stop)() = nullptr) {
    auto block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    LogReader reader;
    start_reading(reader, &file, block.get());
    Record record;
    Pipeline pipeline(PipelineSettings{}, record);
    pipeline.begin_file("x.log");
    errno = 0;
    Outcome out = {};
    out.read = ahead ? pipeline.read_lines_ahead(reader, stop) : pipeline.read_lines(reader, stop);
    out.error_number = errno;
    out.reports = pipeline.end_file().reports;
    out.told = record.told;
    const StabilitySums &sums = pipeline.snapshot().total->phase.stability;
    out.stability.assign(reinterpret_cast<const unsigned char *>(&sums),
                         reinterpret_cast<const unsigned char *>(&sums) + sizeof sums);
    return out;
}

Outcome read_varied_log(bool ahead, bool (*stop)() = nullptr) {
    FakeFileSystem files;
    files.write("x.log", varied_log());
    return read_log(*files.open_to_read("x.log"), ahead, stop);
}

// A file whose reads after its first block fail (a block's room is read
// whole: fewer bytes would be its end).
class FailingFile final : public File {
  public:
    bool read(char *data, size_t size, size_t &count) override {
        count = given_ < READ_BLOCK_SIZE / 2 && size <= text_.size() - given_ ? size : 0;
        std::memcpy(data, text_.data() + given_, count);
        given_ += count;
        errno = count == 0 ? EIO : 0;
        return count > 0;
    }
    long long write(const char * /*data*/, size_t /*size*/) override { return -1; }
    bool seek(uint64_t /*offset*/) override { return false; }
    bool status(FileStatus & /*status*/) override { return false; }
    bool truncate(uint64_t /*length*/) override { return false; }
    std::FILE *stream() override { return nullptr; }
    bool close() override { return true; }

  private:
    std::string text_ = varied_log();
    size_t given_ = 0;
};

TEST(ReadAhead, ThePipelineMakesTheSameOfALogAsReadInTurn) {
    const Outcome in_turn = read_varied_log(false);
    const Outcome ahead = read_varied_log(true);
    EXPECT_TRUE(in_turn.read);
    EXPECT_EQ(in_turn.reports, uint64_t{4} * BATCH_LINES);
    EXPECT_TRUE(ahead.read);
    EXPECT_EQ(ahead.reports, in_turn.reports);
    EXPECT_EQ(ahead.told, in_turn.told);
    EXPECT_EQ(ahead.stability, in_turn.stability);

    FailingFile failing_in_turn;
    FailingFile failing_ahead;
    const Outcome failed_in_turn = read_log(failing_in_turn, false);
    const Outcome failed_ahead = read_log(failing_ahead, true);
    EXPECT_FALSE(failed_in_turn.read);
    EXPECT_GT(failed_in_turn.reports, uint64_t{BATCH_LINES}) << "the lines of the first read";
    EXPECT_FALSE(failed_ahead.read);
    EXPECT_EQ(failed_ahead.error_number, EIO);
    EXPECT_EQ(failed_ahead.reports, failed_in_turn.reports);
    EXPECT_EQ(failed_ahead.told, failed_in_turn.told);
}

TEST(ReadAhead, StopsAtTheLineWhereItIsAskedTo) {
    static int asked = 0;
    const Outcome stopped = read_varied_log(true, [] { return ++asked > 5000; });
    asked = 0;
    const Outcome in_turn = read_varied_log(false, [] { return ++asked > 5000; });
    EXPECT_TRUE(stopped.read);
    EXPECT_EQ(stopped.told, in_turn.told);
    EXPECT_LT(stopped.reports, uint64_t{5000});
}

}  // namespace
