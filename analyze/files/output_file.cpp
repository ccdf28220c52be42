#include "analyze/files/output_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "analyze/files/log_input.h"

namespace {

// Numbers the temporaries of one run.
unsigned temporary_serial = 0;

// Two names of files that need not exist yet: the same when they are the
// same file, or name the same entry of the same directory.
bool same_output(FileSystem &system, const char *a, const char *b) {
    const Sameness sameness = system.same_file(a, b);
    if (sameness != Sameness::unknown) {
        return sameness == Sameness::same;
    }
    const char *leaf_a = file_name_of(a);
    const char *leaf_b = file_name_of(b);
    if (!same_file_name(leaf_a, leaf_b)) {
        return false;
    }
    // The directories: "." for none, the root for "/x".
    char directory_a[OUTPUT_PATH_SIZE];
    char directory_b[OUTPUT_PATH_SIZE];
    std::snprintf(directory_a, sizeof directory_a, "%.*s.", static_cast<int>(leaf_a - a), a);
    std::snprintf(directory_b, sizeof directory_b, "%.*s.", static_cast<int>(leaf_b - b), b);
    return system.same_file(directory_a, directory_b) == Sameness::same;
}

bool open_in_place(OutputFile &output) {
    output.temporary[0] = '\0';
    output.opened = output.system->open_to_write(output.target);
    output.file = output.opened != nullptr ? output.opened->stream() : nullptr;
    if (output.file == nullptr) {
        report_problem(output.target, "cannot write", std::strerror(errno));
        output.opened.reset();
    }
    return output.file != nullptr;
}

}  // namespace

bool same_output_name(FileSystem &system, const char *a, const char *b) { return same_output(system, a, b); }

bool check_output_names(FileSystem &system, const char *const *outputs, int output_count, const char *const *logs,
                        int log_count) {
    bool distinct = true;
    for (int i = 0; i < output_count; ++i) {
        for (int j = 0; j < log_count; ++j) {
            if (system.same_file(outputs[i], logs[j]) == Sameness::same) {
                char what[OUTPUT_PATH_SIZE + 64];
                std::snprintf(what, sizeof what, "the output is the same file as the log %s",
                              is_standard_input(logs[j]) ? "on standard input" : logs[j]);
                report_problem(outputs[i], what, "");
                distinct = false;
            }
        }
        for (int j = 0; j < i; ++j) {
            if (same_output(system, outputs[i], outputs[j])) {
                char what[OUTPUT_PATH_SIZE + 64];
                std::snprintf(what, sizeof what, "the same file as the output %s: each output needs a file of its own",
                              outputs[j]);
                report_problem(outputs[i], what, "");
                distinct = false;
            }
        }
    }
    return distinct;
}

bool open_output_file(FileSystem &system, OutputFile &output, const char *target) {
    output.system = &system;
    output.target = target;
    output.temporary[0] = '\0';
    output.opened.reset();
    output.file = nullptr;
    if (std::strlen(target) >= sizeof output.destination) {
        report_problem(target, "cannot write", std::strerror(ENAMETOOLONG));
        return false;
    }
    std::snprintf(output.destination, sizeof output.destination, "%s", target);
    FileStatus status = {};
    const bool exists = system.status(target, status);
    if (exists && status.kind == FileKind::directory) {
        report_problem(target, "cannot write", "it is a directory");
        return false;
    }
    if (exists && !system.may_write(target)) {
        report_problem(target, "cannot write", std::strerror(errno));
        return false;
    }
    if (exists && status.kind != FileKind::regular) {
        // A device or a pipe: nothing there to keep.
        return open_in_place(output);
    }
    // Through a link to the file it names, which the rename then replaces.
    if (exists) {
        system.resolve_link(target, output.destination, sizeof output.destination);
    }
    // Beside the target, so that the rename stays within one file system;
    // named by the process, so that two runs at once never share one.
    std::unique_ptr<File> created;
    for (int attempt = 0; attempt < 100 && created == nullptr; ++attempt) {
        const int length = std::snprintf(output.temporary, sizeof output.temporary, "%s.%lu-%u.tmp", output.destination,
                                         system.process_id(), temporary_serial++);
        if (length < 0 || static_cast<size_t>(length) >= sizeof output.temporary) {
            errno = ENAMETOOLONG;
            break;
        }
        created = system.create_new(output.temporary, exists ? &status : nullptr);
        if (created == nullptr && errno != EEXIST) {
            break;
        }
    }
    FileStatus opened = {};
    if (created != nullptr && created->status(opened) && opened.kind != FileKind::regular) {
        // Windows's device names (NUL, CON) name the device whatever
        // follows them, and are not found by name beforehand.
        created.reset();
        return open_in_place(output);
    }
    if (created != nullptr) {
        output.file = created->stream();
    }
    if (output.file == nullptr) {
        const int error = errno;
        if (created != nullptr) {
            created.reset();
            system.remove(output.temporary);
        }
        output.temporary[0] = '\0';
        report_problem(target, "cannot write", std::strerror(error));
        return false;
    }
    output.opened = std::move(created);
    return true;
}

bool finish_output_file(OutputFile &output) {
    if (output.opened == nullptr) {
        return true;
    }
    const char *reason = nullptr;
    if (std::fflush(output.file) != 0) {
        reason = std::strerror(errno);
    } else if (std::ferror(output.file) != 0) {
        reason = "a write failed";
    }
    if (!output.opened->close() && reason == nullptr) {
        reason = std::strerror(errno);
    }
    output.opened.reset();
    output.file = nullptr;
    if (reason != nullptr) {
        report_problem(output.target, "cannot write", reason);
        discard_output_file(output);
        return false;
    }
    return true;
}

bool commit_output_file(OutputFile &output) {
    if (!finish_output_file(output)) {
        return false;
    }
    char reason[256];
    if (output.temporary[0] != '\0' &&
        !output.system->replace(output.temporary, output.destination, reason, sizeof reason)) {
        report_problem(output.target, "cannot write", reason);
        discard_output_file(output);
        return false;
    }
    output.temporary[0] = '\0';
    return true;
}

void discard_output_file(OutputFile &output) {
    output.opened.reset();
    output.file = nullptr;
    if (output.temporary[0] != '\0') {
        output.system->remove(output.temporary);
        output.temporary[0] = '\0';
    }
}
