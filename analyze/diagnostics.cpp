#include "analyze/diagnostics.h"

#include <cstdio>

#include "analyze/files/terminal_text.h"
#include "analyze/report/escape.h"

namespace {

const char *issue_text(LineIssue issue) {
    switch (issue) {
    case LineIssue::too_long:
        return "a line too long for a log, skipped";
    case LineIssue::cut_then_banner:
        return "a line cut short, then a new run";
    case LineIssue::not_understood:
        return "not a report line or a message of tickwatch";
    case LineIssue::wrong_difference:
        return "a difference that is not the system time's advance minus the counter's";
    case LineIssue::wrong_marker:
        return "a marker that disagrees with the difference";
    case LineIssue::out_of_range:
        return "a value beyond any that tickwatch writes";
    case LineIssue::no_line_end:
        break;
    }
    return "the last line has no line end (cut short?), left out";
}

}  // namespace

void tell_skipped_line(const SkippedLine &line) {
    const auto number = static_cast<unsigned long long>(line.number);
    if (line.issue == LineIssue::no_line_end) {
        std::fprintf(stderr, "tickwatch-analyze: %s:%llu: %s\n", terminal_text(line.file).c_str(), number,
                     issue_text(line.issue));
        return;
    }
    if (line.not_understood > MAX_SHOWN_WARNINGS) {
        return;
    }
    size_t length = line.text.size();
    while (length > 0 && line.text[length - 1] == '\r') {
        --length;
    }
    char excerpt[64];
    printable_excerpt(excerpt, sizeof excerpt, line.text.data(), length);
    std::fprintf(stderr, "tickwatch-analyze: %s:%llu: %s%s%s%s\n", terminal_text(line.file).c_str(), number,
                 issue_text(line.issue), length > 0 ? ": \"" : "", excerpt, length > 0 ? "\"" : "");
}

void tell_out_of_step(const OutOfStepSample &sample) {
    if (sample.out_of_step == 1) {
        std::fprintf(stderr,
                     "tickwatch-analyze: %s:%llu: a sample %.0f ms after the line before, though its system time "
                     "advanced %.4f ms: two tickwatch writing to one log?\n",
                     terminal_text(sample.file).c_str(), static_cast<unsigned long long>(sample.number),
                     sample.after_ms, sample.system_ms);
    }
}

void tell_file_counts(const char *name, const FileCounts &counts) {
    if (counts.not_understood > MAX_SHOWN_WARNINGS) {
        std::fprintf(stderr, "tickwatch-analyze: %s: %llu lines not understood, the first %llu named above\n",
                     terminal_text(name).c_str(), static_cast<unsigned long long>(counts.not_understood),
                     static_cast<unsigned long long>(MAX_SHOWN_WARNINGS));
    }
    if (counts.out_of_step > 0) {
        std::fprintf(stderr,
                     "tickwatch-analyze: %s: %llu samples out of step with the line before them, the first named "
                     "above; the runs they are in mix the samples of two tickwatch\n",
                     terminal_text(name).c_str(), static_cast<unsigned long long>(counts.out_of_step));
    }
}

void tell_partial_line_left_out(const char *name) {
    std::fprintf(stderr, "tickwatch-analyze: %s: %s\n", terminal_text(name).c_str(),
                 issue_text(LineIssue::no_line_end));
}
