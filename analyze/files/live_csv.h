// With --follow, the CSV: appended to as the rows come, each whole or not
// at all. The rows are kept and written at each flush, unbuffered, whole
// rows at a time; a write cut short (a full disk) is taken back to the last
// whole row, reported when it happens, and the rows not written are kept
// (in bounded memory: past it, rows are dropped and counted) and written at
// the next flush. The file is reopened by its name when the name no longer
// leads to it (deleted, or its directory removed and made again), and a
// new file gets the header first. What a row holds is report/csv_output's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "analyze/files/system.h"

class LiveCsv {
  public:
    // Opens path (made empty beforehand) to append to; the header is the
    // first row kept. target is the name as reported. False, reported, if
    // it cannot be opened.
    bool begin(FileSystem &system, const char *target, const char *path, std::string_view header);
    // Where the next row goes, which takes at most length bytes; nullptr
    // when the rows kept fill their room and cannot be written: that row is
    // lost, and counted.
    char *row_space(size_t length);
    // The row put at row_space ends before end.
    void add_row(const char *end) { kept_length_ = static_cast<size_t>(end - kept_.get()); }
    // Writes the rows kept; false while some are still kept.
    bool flush();
    // The last flush, and closes the file; false, reported, if rows were
    // never written.
    bool end();

  private:
    bool reopen_if_gone();
    void report_once(int error, const char *what);

    FileSystem *system_ = nullptr;
    const char *target_ = nullptr;
    const char *path_ = nullptr;  // the file written (a link's target)
    std::string_view header_;
    std::unique_ptr<File> file_;  // nullptr while none is open
    FileStatus opened_ = {};      // which file that is
    std::unique_ptr<char[]> kept_;
    size_t kept_length_ = 0;
    uint64_t rows_lost_ = 0;   // dropped while the kept rows filled their room, since the last report
    int reported_error_ = 0;   // errno last reported, until a write succeeds
    bool incomplete_ = false;  // rows were lost
};
