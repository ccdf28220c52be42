// A log read and its lines parsed a batch ahead, in a thread of its own,
// while the pipeline takes the lines before: on two processors the reading
// costs the pipeline no time of its own. The lines come in the order read,
// parsed by the same code as one at a time, so that nothing the pipeline
// makes of them depends on the thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string_view>

#include "analyze/files/log_reader.h"
#include "analyze/parse/log_line.h"

struct ParsedLine {
    ReportFields sample;  // with kind report
    uint64_t number;
    ReadResult result;  // line, too_long or cut_short
    LineKind kind;      // with ReadResult::line
    // Where the batch keeps its text: only for the lines the pipeline
    // leaves out (left_out_for), which it quotes; else empty.
    uint32_t text_offset;
    uint32_t text_length;
};

constexpr int BATCH_LINES = 4096;
// Room for the quoted lines' text: at least one line of the longest.
constexpr size_t BATCH_TEXT = 16 * MAX_LINE_LENGTH;

struct LineBatch {
    int count;
    // The reader's end follows the lines: the file's end, or a read error
    // (error_number its errno).
    bool at_end;
    bool failed;
    int error_number;
    size_t text_used;
    ParsedLine lines[BATCH_LINES];
    char text[BATCH_TEXT];
};

inline std::string_view text_of(const LineBatch &batch, const ParsedLine &line) {
    return {batch.text + line.text_offset, line.text_length};
}

// Reads and parses the reader's next lines into batch, until it is full or
// the reader is at its end.
void fill_batch(LogReader &reader, LineBatch &batch);

// Whether reading ahead pays: where there are two processors or more, for
// a file larger than one block of the reader (a thread costs about as much
// as reading a few thousand lines), or one whose size is not known.
bool reading_ahead_pays(File &file);

// Reads ahead from its making to its end (or its unmaking, which stops and
// waits for the thread): the reader is the thread's meanwhile, if the
// system gave one.
class ReadAhead {
  public:
    explicit ReadAhead(LogReader &reader);
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;
    ~ReadAhead();

    // Whether the thread runs: the system may have none to give (a limit
    // on processes), and the reader is then the caller's.
    [[nodiscard]] bool started() const { return started_; }
    // The next batch, giving back the one before; the last has at_end.
    const LineBatch &next();

  private:
    static void *run(void *self);
    void read();

    static constexpr int BATCHES = 3;
    LogReader &reader_;
    std::unique_ptr<LineBatch[]> batches_;
    std::mutex mutex_;
    std::condition_variable filled_;
    std::condition_variable emptied_;
    uint64_t filled_count_ = 0;  // batches filled so far
    uint64_t taken_count_ = 0;   // of those, given back
    bool taking_ = false;        // one is being taken now
    bool stopping_ = false;
    // (Started by pthread_create, which says when it cannot, where
    // std::thread would throw: the analyzer has no exceptions.)
    pthread_t thread_ = {};
    bool started_ = false;
};
