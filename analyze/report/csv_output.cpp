#include "analyze/report/csv_output.h"

#include "analyze/accumulate/statistics.h"
#include "analyze/parse/utc_time.h"
#include "analyze/report/number_text.h"

namespace {

// Rows are gathered here and written a block at a time: a year of samples
// is tens of millions of rows.
char pending[1 << 18];
size_t pending_length = 0;
constexpr size_t MAX_ROW_LENGTH = 512;
// The date of the rows, which come a second apart.
CivilDayCache row_day = NO_CIVIL_DAY;

void flush_pending(std::FILE *out) {
    std::fwrite(pending, 1, pending_length, out);
    pending_length = 0;
}

const char CSV_HEADER[] =
    "utc_time,run,system_ms,counter_ms,difference_ms,rate_ppm,adjustment,increment,adjustment_ppm,step\n";

// Puts the row at row, where there must be room for it; returns its end.
char *put_row(char *row, const ReportFields &sample, int32_t run) {
    char *p = row;
    // Nothing for a time not known.
    if (sample.utc_ms != UNKNOWN_TIME_MS) {
        p = put_iso_time(p, civil_from_ms(sample.utc_ms, row_day));
    }
    *p++ = ',';
    p = put_integer(p, run);
    *p++ = ',';
    p = put_fixed(p, sample.system_ms, 4);
    *p++ = ',';
    p = put_fixed(p, sample.counter_ms, 4);
    *p++ = ',';
    p = put_fixed(p, sample.difference_ms, 4);
    *p++ = ',';
    double ppm = 0;
    if (sample_rate_ppm(sample, ppm)) {
        p = put_fixed(p, ppm, 3);
    }
    *p++ = ',';
    p = put_integer(p, sample.adjustment);
    *p++ = ',';
    const AdjustmentSetting setting = setting_of(sample);
    p = put_integer(p, setting.increment);
    *p++ = ',';
    if (slew_rate_ppm(setting, ppm)) {
        p = put_fixed(p, ppm, 3);
    }
    *p++ = ',';
    *p++ = sample.marked ? '1' : '0';
    *p++ = '\n';
    return p;
}

}  // namespace

void begin_csv(std::FILE *out) {
    pending_length = 0;
    // The blocks go straight to the file, not through another buffer.
    std::setvbuf(out, nullptr, _IONBF, 0);
    std::fputs(CSV_HEADER, out);
}

void write_csv_row(std::FILE *out, const ReportFields &sample, int32_t run) {
    if (pending_length + MAX_ROW_LENGTH > sizeof pending) {
        flush_pending(out);
    }
    pending_length = static_cast<size_t>(put_row(pending + pending_length, sample, run) - pending);
}

void flush_csv(std::FILE *out) { flush_pending(out); }

bool end_csv(std::FILE *out) {
    flush_pending(out);
    return std::fflush(out) == 0 && std::ferror(out) == 0;
}

bool begin_live_csv(LiveCsv &csv, FileSystem &system, const char *target, const char *path) {
    return csv.begin(system, target, path, std::string_view(CSV_HEADER, sizeof CSV_HEADER - 1));
}

void write_live_csv_row(LiveCsv &csv, const ReportFields &sample, int32_t run) {
    char *row = csv.row_space(MAX_ROW_LENGTH);
    if (row != nullptr) {
        csv.add_row(put_row(row, sample, run));
    }
}
