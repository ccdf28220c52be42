#include "analyze/read_ahead.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include "analyze/pipeline.h"

void fill_batch(LogReader &reader, LineBatch &batch) {
    batch.count = 0;
    batch.text_used = 0;
    batch.at_end = false;
    batch.failed = false;
    batch.error_number = 0;
    // (Stops while a line of the longest still fits its text.)
    while (batch.count < BATCH_LINES && batch.text_used + MAX_LINE_LENGTH <= BATCH_TEXT) {
        const char *text = nullptr;
        size_t length = 0;
        const ReadResult result = read_line(reader, text, length);
        if (result == ReadResult::end || result == ReadResult::error) {
            batch.at_end = true;
            batch.failed = result == ReadResult::error;
            batch.error_number = batch.failed ? errno : 0;
            return;
        }
        ParsedLine &line = batch.lines[batch.count++];
        line.number = reader.line_number;
        line.result = result;
        line.text_offset = 0;
        line.text_length = 0;
        if (result != ReadResult::line) {
            continue;
        }
        line.kind = parse_log_line(text, length, line.sample);
        LineIssue issue = {};
        if (left_out_for(line.kind, issue)) {
            std::memcpy(batch.text + batch.text_used, text, length);
            line.text_offset = static_cast<uint32_t>(batch.text_used);
            line.text_length = static_cast<uint32_t>(length);
            batch.text_used += length;
        }
    }
}

bool reading_ahead_pays(File &file) {
    FileStatus status = {};
    const bool small = file.status(status) && status.kind == FileKind::regular && status.size <= READ_BLOCK_SIZE;
    return !small && std::thread::hardware_concurrency() >= 2;
}

ReadAhead::ReadAhead(LogReader &reader) : reader_(reader), batches_(std::make_unique<LineBatch[]>(BATCHES)) {
    started_ = pthread_create(&thread_, nullptr, &ReadAhead::run, this) == 0;
}

ReadAhead::~ReadAhead() {
    if (!started_) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    emptied_.notify_one();
    pthread_join(thread_, nullptr);
}

void *ReadAhead::run(void *self) {
    static_cast<ReadAhead *>(self)->read();
    return nullptr;
}

void ReadAhead::read() {
    for (;;) {
        LineBatch *batch = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // Room while fewer than all are filled and not given back (the
            // one being taken counts as not given back).
            emptied_.wait(lock, [this] { return stopping_ || filled_count_ - taken_count_ < BATCHES; });
            if (stopping_) {
                return;
            }
            batch = &batches_[static_cast<size_t>(filled_count_ % BATCHES)];
        }
        fill_batch(reader_, *batch);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++filled_count_;
        }
        filled_.notify_one();
        if (batch->at_end) {
            return;
        }
    }
}

const LineBatch &ReadAhead::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (taking_) {
        ++taken_count_;
        emptied_.notify_one();
    }
    taking_ = true;
    filled_.wait(lock, [this] { return filled_count_ > taken_count_; });
    return batches_[static_cast<size_t>(taken_count_ % BATCHES)];
}
