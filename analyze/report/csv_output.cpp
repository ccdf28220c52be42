#include "analyze/report/csv_output.h"

#include "analyze/accumulate/statistics.h"
#include "analyze/parse/utc_time.h"
#include "analyze/report/number_text.h"

// Rows are gathered here and written a block at a time: a year of samples
// is tens of millions of rows.
static char pending[1 << 18];
static size_t pending_length = 0;
constexpr size_t MAX_ROW_LENGTH = 512;

static void flush_pending(std::FILE *out) {
    std::fwrite(pending, 1, pending_length, out);
    pending_length = 0;
}

static const char CSV_HEADER[] =
    "utc_time,run,system_ms,counter_ms,difference_ms,rate_ppm,adjustment,increment,adjustment_ppm,step\n";

void begin_csv(std::FILE *out) {
    pending_length = 0;
    // The blocks go straight to the file, not through another buffer.
    std::setvbuf(out, nullptr, _IONBF, 0);
    std::fputs(CSV_HEADER, out);
}

static char *put_two_digits(char *out, unsigned value) {
    *out++ = static_cast<char>('0' + value / 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

// Nothing for a time not known.
static char *put_iso_time(char *out, int64_t utc_ms) {
    if (utc_ms == UNKNOWN_TIME_MS) {
        return out;
    }
    // Rows come a second apart: the date is mostly the previous row's.
    static int64_t last_day = INT64_MIN;
    static CivilTime t;
    const int64_t day = utc_ms >= 0 ? utc_ms / MS_PER_DAY : (utc_ms + 1) / MS_PER_DAY - 1;
    if (day != last_day) {
        t = civil_from_ms(utc_ms);
        last_day = day;
    } else {
        const auto ms = static_cast<unsigned>(utc_ms - day * MS_PER_DAY);
        t.hour = ms / 3'600'000;
        t.minute = ms / 60'000 % 60;
        t.second = ms / 1000 % 60;
        t.millisecond = ms % 1000;
    }
    if (t.year < 0 || t.year > 9999) {
        format_iso_time(out, ISO_TIME_SIZE, utc_ms);
        while (*out != '\0') {
            ++out;
        }
        return out;
    }
    const auto year = static_cast<unsigned>(t.year);
    out = put_two_digits(out, year / 100);
    out = put_two_digits(out, year % 100);
    *out++ = '-';
    out = put_two_digits(out, t.month);
    *out++ = '-';
    out = put_two_digits(out, t.day);
    *out++ = 'T';
    out = put_two_digits(out, t.hour);
    *out++ = ':';
    out = put_two_digits(out, t.minute);
    *out++ = ':';
    out = put_two_digits(out, t.second);
    *out++ = '.';
    *out++ = static_cast<char>('0' + t.millisecond / 100);
    out = put_two_digits(out, t.millisecond % 100);
    *out++ = 'Z';
    return out;
}

// Puts the row at row, where there must be room for it; returns its end.
static char *put_row(char *row, const ReportFields &sample, int32_t run) {
    char *p = put_iso_time(row, sample.utc_ms);
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
