#include "analyze/report/csv_output.h"

#include "analyze/accumulate/statistics.h"
#include "analyze/parse/utc_time.h"
#include "analyze/report/number_text.h"

namespace {

constexpr size_t PENDING_SIZE = size_t{1} << 18;
constexpr size_t MAX_ROW_LENGTH = 512;

const char CSV_HEADER[] =
    "utc_time,run,system_ms,counter_ms,difference_ms,rate_ppm,adjustment,increment,adjustment_ppm,step\n";

// Puts the row at row, where there must be room for it; returns its end.
char *put_row(char *row, const ReportFields &sample, int32_t run, CivilDayCache &day) {
    char *p = row;
    // Nothing for a time not known.
    if (sample.leap_second) {
        // As the log has it, not as the next second's.
        CivilTime time = civil_from_ms(sample.utc_ms - 1000, day);
        time.second = 60;
        p = put_iso_time(p, time);
    } else if (sample.utc_ms != UNKNOWN_TIME_MS) {
        p = put_iso_time(p, civil_from_ms(sample.utc_ms, day));
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

void CsvWriter::begin(std::FILE *out) {
    out_ = out;
    if (!pending_) {
        pending_ = std::make_unique<char[]>(PENDING_SIZE);
    }
    pending_length_ = 0;
    // The blocks go straight to the file, not through another buffer.
    std::setvbuf(out, nullptr, _IONBF, 0);
    std::fputs(CSV_HEADER, out);
}

bool CsvWriter::begin_live(FileSystem &system, const char *target, const char *path) {
    live_open_ = live_.begin(system, target, path, std::string_view(CSV_HEADER, sizeof CSV_HEADER - 1));
    return live_open_;
}

void CsvWriter::write_row(const ReportFields &sample, int32_t run) {
    if (live_open_) {
        char *row = live_.row_space(MAX_ROW_LENGTH);
        if (row != nullptr) {
            live_.add_row(put_row(row, sample, run, day_));
        }
        return;
    }
    if (out_ == nullptr) {
        return;
    }
    if (pending_length_ + MAX_ROW_LENGTH > PENDING_SIZE) {
        flush();
    }
    pending_length_ =
        static_cast<size_t>(put_row(pending_.get() + pending_length_, sample, run, day_) - pending_.get());
}

void CsvWriter::flush() {
    if (live_open_) {
        live_.flush();
    } else if (out_ != nullptr) {
        std::fwrite(pending_.get(), 1, pending_length_, out_);
        pending_length_ = 0;
    }
}

bool CsvWriter::end() {
    if (live_open_) {
        live_open_ = false;
        return live_.end();
    }
    if (out_ == nullptr) {
        return true;
    }
    flush();
    std::FILE *out = out_;
    out_ = nullptr;
    return std::fflush(out) == 0 && std::ferror(out) == 0;
}
