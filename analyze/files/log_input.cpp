#include "analyze/files/log_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "analyze/files/output_file.h"

namespace {

char first_problem_text[512];

}  // namespace

void report_problem(const char *name, const char *problem, const char *reason) {
    const char *separator = *reason != '\0' ? ": " : "";
    std::fprintf(stderr, "tickwatch-analyze: %s: %s%s%s\n", name, problem, separator, reason);
    if (first_problem_text[0] == '\0') {
        std::snprintf(first_problem_text, sizeof first_problem_text, "%s: %s%s%s", name, problem, separator, reason);
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
