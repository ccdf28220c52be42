#include "analyze/files/log_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "analyze/files/log_reader.h"
#include "analyze/files/output_file.h"
#include "analyze/files/terminal_text.h"
#include "analyze/parse/log_line.h"

namespace {

char first_problem_text[512];

}  // namespace

void report_problem(const char *name, const char *problem, const char *reason) {
    // (The problem and its reason may name files too: the whole is shown as safe.)
    const char *separator = *reason != '\0' ? ": " : "";
    const std::string shown = terminal_text((std::string(name) + ": " + problem + separator + reason).c_str());
    std::fprintf(stderr, "tickwatch-analyze: %s\n", shown.c_str());
    if (first_problem_text[0] == '\0') {
        std::snprintf(first_problem_text, sizeof first_problem_text, "%s", shown.c_str());
    }
}

const char *first_problem() { return first_problem_text; }

const char *shown_log_name(const char *name) { return is_standard_input(name) ? "standard input" : name; }

// Every log is checked before any is read: a typo in the last name should
// not cost the reading of all the others.
bool check_readable(FileSystem &system, const char *name) {
    if (is_standard_input(name)) {
        return true;
    }
    FileStatus status = {};
    if (!system.status(name, status)) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    if (status.kind == FileKind::directory) {
        report_problem(name, "cannot read", "it is a directory");
        return false;
    }
    if (!system.may_read(name)) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    return true;
}

// One not there yet is told by its name.
bool check_followable(FileSystem &system, const char *name, const char *const *outputs, int output_count) {
    FileStatus status = {};
    if (system.status(name, status)) {
        if (status.kind != FileKind::regular && !is_standard_input(name)) {
            report_problem(name, "cannot follow", "not a regular file");
            return false;
        }
        return check_readable(system, name);
    }
    if (errno != ENOENT) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    for (int i = 0; i < output_count; ++i) {
        if (same_output_name(system, outputs[i], name)) {
            report_problem(outputs[i], "the output is the same file as the log", name);
            return false;
        }
    }
    return true;
}

std::unique_ptr<File> open_log(FileSystem &system, const char *name) {
    if (is_standard_input(name)) {
        return system.standard_input();
    }
    std::unique_ptr<File> file = system.open_to_read(name);
    if (file == nullptr) {
        report_problem(name, "cannot read", std::strerror(errno));
    }
    return file;
}

bool begins_as_log(FileSystem &system, const char *name) {
    FileStatus status = {};
    if (is_standard_input(name) || !system.status(name, status) || status.kind != FileKind::regular) {
        return false;
    }
    std::unique_ptr<File> file = system.open_without_waiting(name);
    if (file == nullptr) {
        return false;
    }
    const auto block = std::make_unique<char[]>(READ_BLOCK_SIZE);
    LogReader reader;
    start_reading(reader, file.get(), block.get());
    // A log begins with its banner, after an empty line or two at most; one
    // cut at a rotation with report lines.
    constexpr int LINES_LOOKED_AT = 4;
    for (int i = 0; i < LINES_LOOKED_AT; ++i) {
        const char *text = nullptr;
        size_t length = 0;
        const ReadResult result = read_line(reader, text, length);
        if (result != ReadResult::line && result != ReadResult::cut_short) {
            return false;
        }
        ReportFields report = {};
        const LineKind kind = parse_log_line(text, length, report);
        if (kind == LineKind::banner || kind == LineKind::cut_then_banner || kind == LineKind::report) {
            return true;
        }
    }
    return false;
}
