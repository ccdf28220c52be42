// One CSV row per sample, for a spreadsheet or a data-frame library.
#pragma once

#include <cstdint>
#include <cstdio>

#include "analyze/files/live_csv.h"
#include "analyze/files/system.h"
#include "analyze/parse/log_line.h"

void begin_csv(std::FILE *out);
void write_csv_row(std::FILE *out, const ReportFields &sample, int32_t run);
// Writes the rows held back, for whoever reads the file as it grows.
void flush_csv(std::FILE *out);
// Writes what is still held back; false if any write failed.
bool end_csv(std::FILE *out);

// With --follow: the rows straight to the file as they come, each whole or
// not at all (files/live_csv.h); a new file gets the header first.
bool begin_live_csv(LiveCsv &csv, FileSystem &system, const char *target, const char *path);
void write_live_csv_row(LiveCsv &csv, const ReportFields &sample, int32_t run);
