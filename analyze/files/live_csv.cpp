#include "analyze/files/live_csv.h"
#include "analyze/files/terminal_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A year of rows would not fit: they are kept only while they cannot be
// written.
constexpr size_t KEPT_SIZE = size_t{1} << 18;

}  // namespace

bool LiveCsv::begin(FileSystem &system, const char *target, const char *path, std::string_view header) {
    system_ = &system;
    target_ = target;
    path_ = path;
    header_ = header;
    file_.reset();
    kept_ = std::make_unique<char[]>(KEPT_SIZE);
    kept_length_ = 0;
    rows_lost_ = 0;
    reported_error_ = 0;
    incomplete_ = false;
    return reopen_if_gone();
}

void LiveCsv::report_once(int error, const char *what) {
    if (error != reported_error_) {
        std::fprintf(stderr, "tickwatch-analyze: %s: cannot write: %s; %s\n", terminal_text(target_).c_str(),
                     std::strerror(error), what);
    }
    reported_error_ = error;
}

// Opens the file by its name unless the one open is still the one by that
// name (on Windows, where files have no identity, while the name is there).
bool LiveCsv::reopen_if_gone() {
    FileStatus by_name = {};
    const bool named = system_->status(path_, by_name);
    if (file_ != nullptr && named &&
        (!by_name.has_identity || (by_name.device == opened_.device && by_name.inode == opened_.inode))) {
        return true;
    }
    file_.reset();
    file_ = system_->open_to_append(path_);
    if (file_ == nullptr || !file_->status(opened_)) {
        report_once(errno, "the rows are kept until it can be");
        file_.reset();
        return false;
    }
    if (opened_.size == 0 && std::string_view(kept_.get(), kept_length_).substr(0, header_.size()) != header_) {
        // A new file: its header goes before the rows kept.
        if (kept_length_ + header_.size() > KEPT_SIZE) {
            return false;
        }
        std::memmove(kept_.get() + header_.size(), kept_.get(), kept_length_);
        std::memcpy(kept_.get(), header_.data(), header_.size());
        kept_length_ += header_.size();
    }
    return true;
}

char *LiveCsv::row_space(size_t length) {
    if (kept_length_ + length > KEPT_SIZE && !flush()) {
        ++rows_lost_;
        return nullptr;
    }
    return kept_.get() + kept_length_;
}

bool LiveCsv::flush() {
    if (kept_length_ == 0 || !reopen_if_gone()) {
        return kept_length_ == 0;
    }
    FileStatus before = {};
    if (!file_->status(before)) {
        report_once(errno, "the rows are kept until it can be");
        return false;
    }
    const long long written = file_->write(kept_.get(), kept_length_);
    const int error = written < 0 ? errno : ENOSPC;  // a short write: no room for the rest
    size_t whole = 0;
    if (written >= 0) {
        // What reached the file, up to its last whole row.
        for (auto i = static_cast<size_t>(written); i > 0; --i) {
            if (kept_[i - 1] == '\n') {
                whole = i;
                break;
            }
        }
    }
    if (written > 0 && static_cast<size_t>(written) != whole && !file_->truncate(before.size + whole)) {
        report_once(errno, "a row is left cut short in it");
    }
    std::memmove(kept_.get(), kept_.get() + whole, kept_length_ - whole);
    kept_length_ -= whole;
    if (kept_length_ > 0) {
        report_once(error, "the rows are kept and written again at the next poll");
        return false;
    }
    if (rows_lost_ > 0) {
        std::fprintf(stderr, "tickwatch-analyze: %s: written again; %llu rows lost while it could not be\n",
                     terminal_text(target_).c_str(), static_cast<unsigned long long>(rows_lost_));
        incomplete_ = true;
    } else if (reported_error_ != 0) {
        std::fprintf(stderr, "tickwatch-analyze: %s: written again, no row lost\n", terminal_text(target_).c_str());
    }
    reported_error_ = 0;
    rows_lost_ = 0;
    return true;
}

bool LiveCsv::end() {
    const bool written = flush();
    if (!written) {
        std::fprintf(stderr, "tickwatch-analyze: %s: cannot write: %llu bytes of rows never written\n",
                     terminal_text(target_).c_str(), static_cast<unsigned long long>(kept_length_));
    }
    file_.reset();
    return written && !incomplete_;
}
