// One CSV row per sample, for a spreadsheet or a data-frame library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "analyze/files/live_csv.h"
#include "analyze/files/system.h"
#include "analyze/parse/log_line.h"
#include "analyze/parse/utc_time.h"

// Writes the rows to a stream, gathered and written a block at a time (a
// year of samples is tens of millions of rows); or, with --follow, straight
// to the file as they come, each whole or not at all (files/live_csv.h), a
// new file getting the header first.
class CsvWriter {
  public:
    // The header, to out.
    void begin(std::FILE *out);
    // Opens path (made empty beforehand) to append to; target is the name
    // as reported. False, reported, if it cannot be opened.
    bool begin_live(FileSystem &system, const char *target, const char *path);
    [[nodiscard]] bool is_open() const { return out_ != nullptr || live_open_; }

    void write_row(const ReportFields &sample, int32_t run);
    // Writes the rows held back, for whoever reads the file as it grows.
    void flush();
    // Writes what is still held back, and closes a live file; false if any
    // write failed (or rows were never written).
    bool end();

  private:
    std::FILE *out_ = nullptr;
    std::unique_ptr<char[]> pending_;
    size_t pending_length_ = 0;
    LiveCsv live_;
    bool live_open_ = false;
    CivilDayCache day_ = NO_CIVIL_DAY;  // the rows come a second apart
};
