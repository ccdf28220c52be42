#include "analyze/report/csv_output.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

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

// Appends the row to the pending ones; there must be room for it.
void format_row(const ReportFields &sample, int32_t run) {
    char *row = pending + pending_length;
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
    pending_length += static_cast<size_t>(p - row);
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
    format_row(sample, run);
}

void flush_csv(std::FILE *out) { flush_pending(out); }

bool end_csv(std::FILE *out) {
    flush_pending(out);
    return std::fflush(out) == 0 && std::ferror(out) == 0;
}

namespace {

#ifdef _WIN32
using FileStatus = struct _stat64;
int status_of(const char *name, FileStatus &status) { return _stat64(name, &status); }
int status_of(int descriptor, FileStatus &status) { return _fstat64(descriptor, &status); }
int open_to_append(const char *name) {
    return _open(name, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long long write_some(int descriptor, const char *data, size_t length) {
    return _write(descriptor, data, static_cast<unsigned>(length));
}
bool cut_to(int descriptor, uint64_t length) { return _chsize_s(descriptor, static_cast<__int64>(length)) == 0; }
void close_file(int descriptor) { _close(descriptor); }
#else
using FileStatus = struct stat;
int status_of(const char *name, FileStatus &status) { return stat(name, &status); }
int status_of(int descriptor, FileStatus &status) { return fstat(descriptor, &status); }
int open_to_append(const char *name) { return open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666); }
long long write_some(int descriptor, const char *data, size_t length) { return write(descriptor, data, length); }
bool cut_to(int descriptor, uint64_t length) { return ftruncate(descriptor, static_cast<off_t>(length)) == 0; }
void close_file(int descriptor) { close(descriptor); }
#endif

void report_once(LiveCsv &csv, int error, const char *what) {
    if (error != csv.reported_error) {
        std::fprintf(stderr, "tickwatch-analyze: %s: cannot write: %s; %s\n", csv.target, std::strerror(error), what);
    }
    csv.reported_error = error;
}

// Opens the file by its name unless the one open is still the one by that
// name (on Windows, where there are no inodes, while the name is there).
bool reopen_if_gone(LiveCsv &csv) {
    FileStatus by_name = {};
    const bool named = status_of(csv.path, by_name) == 0;
    if (csv.descriptor >= 0 && named &&
        (static_cast<uint64_t>(by_name.st_dev) == csv.device && static_cast<uint64_t>(by_name.st_ino) == csv.inode)) {
        return true;
    }
    if (csv.descriptor >= 0) {
        close_file(csv.descriptor);
        csv.descriptor = -1;
    }
    const int descriptor = open_to_append(csv.path);
    FileStatus opened = {};
    if (descriptor < 0 || status_of(descriptor, opened) != 0) {
        report_once(csv, errno, "the rows are kept until it can be");
        if (descriptor >= 0) {
            close_file(descriptor);
        }
        return false;
    }
    csv.descriptor = descriptor;
    csv.device = static_cast<uint64_t>(opened.st_dev);
    csv.inode = static_cast<uint64_t>(opened.st_ino);
    if (opened.st_size == 0 &&
        !(pending_length >= sizeof CSV_HEADER - 1 && std::memcmp(pending, CSV_HEADER, sizeof CSV_HEADER - 1) == 0)) {
        // A new file: its header goes before the rows kept.
        const size_t header = sizeof CSV_HEADER - 1;
        if (pending_length + header > sizeof pending) {
            return false;
        }
        std::memmove(pending + header, pending, pending_length);
        std::memcpy(pending, CSV_HEADER, header);
        pending_length += header;
    }
    return true;
}

}  // namespace

bool begin_live_csv(LiveCsv &csv, const char *target, const char *path) {
    csv = LiveCsv{};
    csv.target = target;
    csv.path = path;
    csv.descriptor = -1;
    pending_length = 0;
    return reopen_if_gone(csv);
}

void write_live_csv_row(LiveCsv &csv, const ReportFields &sample, int32_t run) {
    if (pending_length + MAX_ROW_LENGTH > sizeof pending && !flush_live_csv(csv)) {
        ++csv.rows_lost;
        return;
    }
    format_row(sample, run);
}

bool flush_live_csv(LiveCsv &csv) {
    if (pending_length == 0 || !reopen_if_gone(csv)) {
        return pending_length == 0;
    }
    FileStatus before = {};
    if (status_of(csv.descriptor, before) != 0) {
        report_once(csv, errno, "the rows are kept until it can be");
        return false;
    }
    const long long written = write_some(csv.descriptor, pending, pending_length);
    const int error = written < 0 ? errno : ENOSPC;  // a short write: no room for the rest
    size_t whole = 0;
    if (written >= 0) {
        // What reached the file, up to its last whole row.
        for (auto i = static_cast<size_t>(written); i > 0; --i) {
            if (pending[i - 1] == '\n') {
                whole = i;
                break;
            }
        }
    }
    if (written > 0 && static_cast<size_t>(written) != whole &&
        !cut_to(csv.descriptor, static_cast<uint64_t>(before.st_size) + whole)) {
        report_once(csv, errno, "a row is left cut short in it");
    }
    std::memmove(pending, pending + whole, pending_length - whole);
    pending_length -= whole;
    if (pending_length > 0) {
        report_once(csv, error, "the rows are kept and written again at the next poll");
        return false;
    }
    if (csv.rows_lost > 0) {
        std::fprintf(stderr, "tickwatch-analyze: %s: written again; %llu rows lost while it could not be\n", csv.target,
                     static_cast<unsigned long long>(csv.rows_lost));
        csv.incomplete = true;
    } else if (csv.reported_error != 0) {
        std::fprintf(stderr, "tickwatch-analyze: %s: written again, no row lost\n", csv.target);
    }
    csv.reported_error = 0;
    csv.rows_lost = 0;
    return true;
}

bool end_live_csv(LiveCsv &csv) {
    const bool written = flush_live_csv(csv);
    if (!written) {
        std::fprintf(stderr, "tickwatch-analyze: %s: cannot write: %llu bytes of rows never written\n", csv.target,
                     static_cast<unsigned long long>(pending_length));
    }
    if (csv.descriptor >= 0) {
        close_file(csv.descriptor);
        csv.descriptor = -1;
    }
    return written && !csv.incomplete;
}
