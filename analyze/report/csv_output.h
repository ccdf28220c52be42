// One CSV row per sample, for a spreadsheet or a data-frame library.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/parse/log_line.h"

void begin_csv(std::FILE *out);
void write_csv_row(std::FILE *out, const ReportFields &sample, int32_t run);
// Writes the rows held back, for whoever reads the file as it grows.
void flush_csv(std::FILE *out);
// Writes what is still held back; false if any write failed.
bool end_csv(std::FILE *out);

// With --follow: the rows reach the file as they come, each whole or not
// at all. They are written unbuffered, whole rows at a time; a write cut
// short (a full disk) is taken back to the last whole row, reported when
// it happens, and the rows not written are kept (in bounded memory: past
// it, rows are dropped and counted) and written at the next flush. The
// file is reopened by its name when the name no longer leads to it
// (deleted, or its directory removed and made again), and a new file gets
// the header first.
struct LiveCsv {
    const char *target;  // as reported
    const char *path;    // the file written (a link's target)
    int descriptor;      // -1 while none is open
    uint64_t device;
    uint64_t inode;
    uint64_t rows_lost;  // dropped while the kept rows filled their room, since the last report
    int reported_error;  // errno last reported, until a write succeeds
    bool incomplete;     // rows were lost
};

// Opens path (made empty beforehand) to append to; the header is the first
// row kept. False, reported, if it cannot be opened.
bool begin_live_csv(LiveCsv &csv, const char *target, const char *path);
void write_live_csv_row(LiveCsv &csv, const ReportFields &sample, int32_t run);
// Writes the rows kept; false while some are still kept.
bool flush_live_csv(LiveCsv &csv);
// The last flush, and closes the file; false, reported, if rows were never written.
bool end_live_csv(LiveCsv &csv);
