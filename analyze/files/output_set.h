// The outputs of one analysis (CSV, chart, report, metrics) as one object,
// each through its OutputFile: opened together before any log is read, so
// that one that cannot be written costs no reading, and replaced together
// only when all of them were written. Whatever is not committed when the
// set goes away is discarded: its target stays as it was.
#pragma once

#include <cstdio>

#include "analyze/files/output_file.h"
#include "analyze/files/system.h"

enum class OutputKind { csv, svg, html, metrics };
constexpr int OUTPUT_KINDS = 4;

class OutputSet {
  public:
    explicit OutputSet(FileSystem &system) : system_(system) {}
    OutputSet(const OutputSet &) = delete;
    OutputSet &operator=(const OutputSet &) = delete;
    ~OutputSet();

    // The file to write the output to (which must stay valid), or nullptr
    // for an output not asked for.
    void name(OutputKind kind, const char *target);
    [[nodiscard]] bool wanted(OutputKind kind) const { return targets_[index(kind)] != nullptr; }
    [[nodiscard]] const char *target(OutputKind kind) const { return targets_[index(kind)]; }
    // The targets of the outputs asked for, in OutputKind's order; returns
    // how many.
    int targets(const char *out[OUTPUT_KINDS]) const;

    // Opens a temporary for each output asked for, in OutputKind's order.
    // False, with the reason reported and those opened discarded, at the
    // first that cannot be written.
    bool open_all();
    // A new temporary for one, after it was committed; false, reported.
    bool open(OutputKind kind);
    // The open temporary, or nullptr.
    [[nodiscard]] std::FILE *file(OutputKind kind) const { return files_[index(kind)].file; }
    // The file that a commit replaces: the target, or the file its link names.
    [[nodiscard]] const char *destination(OutputKind kind) const { return files_[index(kind)].destination; }

    // Replaces one target with its temporary now; false, reported.
    bool commit(OutputKind kind);
    // With succeeded, writes out every temporary and then, if all were
    // written, replaces each target with its own; otherwise discards each.
    // Whether they were replaced.
    bool commit_all(bool succeeded);

  private:
    static int index(OutputKind kind) { return static_cast<int>(kind); }
    void discard_all();

    FileSystem &system_;
    const char *targets_[OUTPUT_KINDS] = {};
    OutputFile files_[OUTPUT_KINDS] = {};
};
