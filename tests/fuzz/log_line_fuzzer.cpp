// Fuzzes the reading of a log: the input is the log file. A line taken for a
// report line must be the very line tickwatch writes for the values read;
// and nothing that follows (statistics, stability, chart, CSV, text and JSON
// summary, drawing) may go wrong on whatever values such lines hold.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "analyze/accumulate/chart_data.h"
#include "analyze/accumulate/statistics.h"
#include "analyze/output/csv_output.h"
#include "analyze/output/json_summary.h"
#include "analyze/output/svg_chart.h"
#include "analyze/output/text_summary.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/log_reader.h"
#include "tests/support/report_text.h"

static char block[READ_BLOCK_SIZE];
static ChartData chart;
static PhaseSegment phase_segment;
static DifferenceCounts differences;
static std::FILE *discard = nullptr;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    discard = std::fopen("/dev/null", "w");
    return discard == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::FILE *log = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (log == nullptr) {
        return 0;  // (an empty input, on some C libraries)
    }
    LogReader reader;
    start_reading(reader, log, block);
    LogRun run = {1, "fuzz.log", 1, 1, {}};
    start_statistics(run.statistics, &phase_segment, &differences);
    start_chart(chart);
    begin_csv(discard);

    const char *text = nullptr;
    size_t length = 0;
    for (ReadResult result; (result = read_line(reader, text, length)) != ReadResult::end;) {
        if (result != ReadResult::line && result != ReadResult::cut_short) {
            continue;
        }
        ReportFields sample;
        if (parse_log_line(text, length, sample) != LineKind::report) {
            continue;
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
        add_sample(run.statistics, sample);
        add_to_chart(chart, sample, 1, run.statistics.samples == 1);
        write_csv_row(discard, sample, 1);
    }
    std::fclose(log);
    end_csv(discard);
    if (run.statistics.samples > 0) {
        write_run_text(discard, run);
        write_run_json(discard, run, true);
    }
    if (chart.samples > 0) {
        write_svg_chart(discard, chart, "fuzz.log");
    }
    return 0;
}
