#include "analyze/files/output_set.h"

OutputSet::~OutputSet() { discard_all(); }

void OutputSet::name(OutputKind kind, const char *target) { targets_[index(kind)] = target; }

int OutputSet::targets(const char *out[OUTPUT_KINDS]) const {
    int count = 0;
    for (const char *target : targets_) {
        if (target != nullptr) {
            out[count++] = target;
        }
    }
    return count;
}

bool OutputSet::open_all() {
    for (int i = 0; i < OUTPUT_KINDS; ++i) {
        if (targets_[i] != nullptr && !open_output_file(system_, files_[i], targets_[i])) {
            discard_all();
            return false;
        }
    }
    return true;
}

bool OutputSet::open(OutputKind kind) { return open_output_file(system_, files_[index(kind)], targets_[index(kind)]); }

bool OutputSet::commit(OutputKind kind) { return commit_output_file(files_[index(kind)]); }

bool OutputSet::commit_all(bool succeeded) {
    bool finished = succeeded;
    for (OutputFile &output : files_) {
        finished = finished && finish_output_file(output);
    }
    if (!finished) {
        discard_all();
        return false;
    }
    for (OutputFile &output : files_) {
        if (finished) {
            finished = commit_output_file(output);
        } else {
            discard_output_file(output);
        }
    }
    return finished;
}

void OutputSet::discard_all() {
    for (OutputFile &output : files_) {
        discard_output_file(output);
    }
}
