#include "analyze/files/log_input.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "analyze/files/log_reader.h"
#include "analyze/files/output_file.h"

void report_problem(const char *name, const char *problem, const char *reason) {
    std::fprintf(stderr, "tickwatch-analyze: %s: %s%s%s\n", name, problem, *reason != '\0' ? ": " : "", reason);
}

bool is_standard_input(const char *name) { return std::strcmp(name, "-") == 0; }

const char *shown_log_name(const char *name) { return is_standard_input(name) ? "standard input" : name; }

// Every log is checked before any is read: a typo in the last name should
// not cost the reading of all the others.
bool check_readable(const char *name) {
    if (is_standard_input(name)) {
        return true;
    }
    FileKind kind = FileKind::other;
    if (!find_file(name, kind)) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    if (kind == FileKind::directory) {
        report_problem(name, "cannot read", "it is a directory");
        return false;
    }
#ifdef _WIN32
    const bool may_read = _access(name, 4) == 0;
#else
    const bool may_read = access(name, R_OK) == 0;
#endif
    if (!may_read) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    return true;
}

// One not there yet is told by its name.
bool check_followable(const char *name, const char *const *outputs, int output_count) {
    FileKind kind = FileKind::other;
    if (find_file(name, kind)) {
        if (kind != FileKind::regular && !is_standard_input(name)) {
            report_problem(name, "cannot follow", "not a regular file");
            return false;
        }
        return check_readable(name);
    }
    if (errno != ENOENT) {
        report_problem(name, "cannot read", std::strerror(errno));
        return false;
    }
    for (int i = 0; i < output_count; ++i) {
        if (same_output_name(outputs[i], name)) {
            report_problem(outputs[i], "the output is the same file as the log", name);
            return false;
        }
    }
    return true;
}

std::FILE *open_log(const char *name) {
    if (is_standard_input(name)) {
#ifdef _WIN32
        // CR LF as it is, and no end at a Ctrl+Z.
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        return stdin;
    }
    std::FILE *file = std::fopen(name, "rb");
    if (file == nullptr) {
        report_problem(name, "cannot read", std::strerror(errno));
    }
    return file;
}

void close_log(std::FILE *file) {
    if (file != stdin) {
        std::fclose(file);
    }
}
