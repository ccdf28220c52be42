// Fuzzes the reading of a log: the input is the log file. A line taken for a
// report line must be the very line tickwatch writes for the values read,
// and read alike by the reader of the usual layout and the general one;
// and nothing that follows in the analyzer's own pipeline (statistics,
// stability, episodes, charts, figures, the file's summary) nor in its
// outputs (CSV, text and JSON summary, chart, report, metrics) may go wrong on whatever values such
// lines hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "analyze/files/log_reader.h"
#include "analyze/parse/log_line.h"
#include "analyze/pipeline.h"
#include "analyze/report/csv_output.h"
#include "analyze/report/html_report.h"
#include "analyze/report/json_summary.h"
#include "analyze/report/metrics.h"
#include "analyze/report/svg_chart.h"
#include "analyze/report/text_summary.h"
#include "tests/support/fake_file_system.h"
#include "tests/support/report_text.h"

namespace {

std::FILE *discard = nullptr;
CsvWriter csv;

// Each row and each run written as they come.
struct Writer : PipelineListener {
    void sample_taken(const ReportFields &sample, int32_t run) override { csv.write_row(sample, run); }
    void run_ended(const RunRecord &run) override {
        write_run_text(discard, run);
        write_run_json(discard, run, run.run.number == 1);
    }
} writer;

const char *const files[] = {"fuzz.log"};

char block[READ_BLOCK_SIZE];
// Made once: its buffers are large.
std::unique_ptr<Pipeline> pipeline;

// The line as tickwatch's formatter writes the values read from it.
void check_read_back(const char *text, size_t length) {
    ReportFields sample;
    if (parse_log_line(text, length, sample) != LineKind::report) {
        return;
    }
    std::string line(text, length);
    while (line.back() == '\r') {
        line.pop_back();  // CR LF, or CR CR LF
    }
    if (!sample.marked && line.back() != ' ') {
        line += ' ';  // a trailing space lost is forgiven
    }
    if (format_parsed_report_line(sample) != line) {
        std::fprintf(stderr, "read back differently: \"%s\"\n", line.c_str());
        std::abort();
    }
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A line the usual layout's reader takes is read alike by the general one.
void check_paths_agree(const char *text, size_t length) {
    while (length > 0 && text[length - 1] == '\r') {
        --length;
    }
    ReportFields usual;
    const LineKind kind = parse_usual_report_line(text, length, usual);
    if (kind == LineKind::unknown) {
        return;
    }
    ReportFields general;
    if (parse_general_report_line(text, length, general) != kind || usual.utc_ms != general.utc_ms ||
        !same_bits(usual.system_ms, general.system_ms) || !same_bits(usual.counter_ms, general.counter_ms) ||
        !same_bits(usual.difference_ms, general.difference_ms) || usual.adjustment != general.adjustment ||
        usual.adjustment_offset != general.adjustment_offset || usual.marked != general.marked ||
        usual.leap_second != general.leap_second) {
        std::fprintf(stderr, "read otherwise by the general reader: \"%.*s\"\n", static_cast<int>(length), text);
        std::abort();
    }
}

void write_outputs(const AnalysisSnapshot &s) {
    end_json(discard, s);
    write_total_text(discard, s);
    if (s.total->samples == 0) {
        return;
    }
    write_svg_chart(discard, s);
    write_html_report(discard, s, 0);
    write_metrics(discard, s);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    discard = std::fopen("/dev/null", "w");
    pipeline = std::make_unique<Pipeline>(PipelineSettings{true, true, TimeWindow{}, StabilityIntervals::all, files, 1},
                                          writer);
    return discard == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FakeFileSystem system;
    system.write("fuzz.log", std::string(reinterpret_cast<const char *>(data), size));
    const std::unique_ptr<File> log = system.open_to_read("fuzz.log");
    pipeline->restart();
    pipeline->begin_file("fuzz.log");
    csv.begin(discard);
    LogReader reader;
    start_reading(reader, log.get(), block);
    const char *text = nullptr;
    size_t length = 0;
    for (ReadResult result; (result = read_line(reader, text, length)) != ReadResult::end;) {
        if (result == ReadResult::line) {
            check_read_back(text, length);
            check_paths_agree(text, length);
            pipeline->feed_line(std::string_view(text, length), reader.line_number);
        } else if (result == ReadResult::cut_short) {
            check_read_back(text, length);
            pipeline->skip_line(LineIssue::no_line_end, reader.line_number);
        } else if (result == ReadResult::too_long) {
            pipeline->skip_line(LineIssue::too_long, reader.line_number);
        }
    }
    // A snapshot with the last run still open, as --follow takes them (its
    // figures only: the outputs are written once, at the end).
    write_total_text(discard, pipeline->snapshot());
    pipeline->end_file();
    csv.end();
    write_outputs(pipeline->snapshot());
    return 0;
}
