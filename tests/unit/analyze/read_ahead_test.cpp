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

// Every line a log may hold, over several batches: runs of report lines
// with steps, lines left out and quoted (enough, and long enough, that
// their text ends batches before their lines do), a line too long, and a
// last line without its end.
std::string varied_log() {
    std::string text;
    int64_t utc_ms = 1709645940015;
    for (int i = 0; i < 4 * BATCH_LINES; ++i) {
        if (i % 4000 == 0) {
            text += LOG_BANNER_PREFIX "1.6\n";
        }
        if (i % 97 == 0) {
            text += "garbage " + std::string(static_cast<size_t>(i % 3000), 'g') + "\n";
        }
        if (i == 5000) {
            // One line of each kind left out.
            text += std::string(MAX_LINE_LENGTH + 10, 'x') + "\n";
            text += "2024-03-05 13:39:0" LOG_BANNER_PREFIX "1.6\n";
            text += "2024-03-05 13:39:01.0015:  999.8502  999.8496  +31.2488  156250 (+0) ><\n";
            text += "2024-03-05 13:39:01.0015: 1000.0000  999.9813   +0.0187  156250 (+0) ><\n";
            ReportFields huge = {};
            huge.counter_ms = 1e300;
            huge.difference_ms = -1e300;
            huge.adjustment = 156250;
            huge.marked = true;
            text += format_parsed_report_line(huge) + "\n";
        }
        ReportFields fields = {};
        const double difference_ms = i % 700 == 0 ? 500.0 : 0.0001 * ((i * 7919) % 301 - 150);
        utc_ms += 1000;
        fields.utc_ms = utc_ms;
        fields.counter_ms = 1000.0;
        fields.system_ms = 1000.0 + difference_ms;
        fields.difference_ms = fields.system_ms - fields.counter_ms;
        fields.adjustment = 156250;
        fields.marked = difference_ms > MARKER_THRESHOLD_MS;
        text += format_parsed_report_line(fields) + "\n";
    }
    return text + "2024-03-05 13:39:00.0015: 1000.0";
}

// What the pipeline told and gathered, as text, and the stability sums'
// bytes: the same only if every figure is the same to the bit.
struct Record : PipelineListener {
    std::string told;
    void sample_taken(const ReportFields &sample, int32_t run) override {
        told += "s" + std::to_string(run) + ":" + std::to_string(sample.utc_ms) + " ";
    }
    void run_ended(const RunRecord &record) override { told += "r" + std::to_string(record.run.last_line) + " "; }
    void line_skipped(const SkippedLine &line) override {
        told += "k" + std::to_string(line.number) + ":" + std::string(line.text) + " ";
    }
};

struct Outcome {
    bool read;
    int error_number;
    uint64_t reports;
    std::string told;
    std::vector<unsigned char> stability;
};

// A file whose reads after its first block fail (a block's room is read
// whole: fewer bytes would be its end).
class FailingFile final : public File {
  public:
    explicit FailingFile(std::string text) : text_(std::move(text)) {}
    bool read(char *data, size_t size, size_t &count) override {
        count = 0;
        if (given_ >= READ_BLOCK_SIZE / 2 || size > text_.size() - given_) {
            errno = EIO;
            return false;
        }
        std::memcpy(data, text_.data() + given_, size);
        given_ += size;
        count = size;
        return true;
    }
    long long write(const char * /*data*/, size_t /*size*/) override { return -1; }
    bool seek(uint64_t /*offset*/) override { return false; }
    bool status(FileStatus & /*status*/) override { return false; }
    bool truncate(uint64_t /*length*/) override { return false; }
    std::FILE *stream() override { return nullptr; }
    bool close() override { return true; }

  private:
    std::string text_;
    size_t given_ = 0;
};

Outcome read_log(File &file, bool ahead, bool (*stop)() = nullptr) {
    auto block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    LogReader reader;
    start_reading(reader, &file, block.get());
    Record record;
    Pipeline pipeline(PipelineSettings{}, record);
    pipeline.begin_file("x.log");
    errno = 0;
    Outcome outcome = {};
    outcome.read = ahead ? pipeline.read_lines_ahead(reader, stop) : pipeline.read_lines(reader, stop);
    outcome.error_number = errno;
    outcome.reports = pipeline.end_file().reports;
    outcome.told = record.told;
    const StabilitySums &sums = pipeline.snapshot().total->phase.stability;
    const auto *bytes = reinterpret_cast<const unsigned char *>(&sums);
    outcome.stability.assign(bytes, bytes + sizeof sums);
    return outcome;
}

Outcome read_named(const char *name, bool ahead, bool (*stop)() = nullptr) {
    static FakeFileSystem files;
    static const bool written = (files.write("x.log", varied_log()), true);
    static_cast<void>(written);
    const std::unique_ptr<File> file = files.open_to_read(name);
    return read_log(*file, ahead, stop);
}

TEST(ReadAhead, ThePipelineMakesTheSameOfALogAsReadInTurn) {
    const Outcome in_turn = read_named("x.log", false);
    const Outcome ahead = read_named("x.log", true);
    EXPECT_TRUE(in_turn.read);
    EXPECT_EQ(in_turn.reports, uint64_t{4} * BATCH_LINES);
    EXPECT_TRUE(ahead.read);
    EXPECT_EQ(ahead.reports, in_turn.reports);
    EXPECT_EQ(ahead.told, in_turn.told);
    EXPECT_EQ(ahead.stability, in_turn.stability);

    FailingFile failing_in_turn(varied_log());
    FailingFile failing_ahead(varied_log());
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
    const Outcome stopped = read_named("x.log", true, [] { return ++asked > 5000; });
    EXPECT_TRUE(stopped.read);
    asked = 0;
    const Outcome in_turn = read_named("x.log", false, [] { return ++asked > 5000; });
    EXPECT_EQ(stopped.reports, in_turn.reports);
    EXPECT_EQ(stopped.told, in_turn.told);
    EXPECT_LT(stopped.reports, uint64_t{5000});
}

}  // namespace
