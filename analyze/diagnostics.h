// What tickwatch-analyze says on standard error as it reads: the lines it
// leaves out, the samples out of step, and each log's counts at its end.
#pragma once

#include <cstdint>

#include "analyze/pipeline.h"

// Lines not understood are named up to this many per file, and counted.
constexpr uint64_t MAX_SHOWN_WARNINGS = 5;

// Each line left out, up to MAX_SHOWN_WARNINGS a file.
void tell_skipped_line(const SkippedLine &line);
// The first sample out of step in a file, when it comes.
void tell_out_of_step(const OutOfStepSample &sample);
// The end of a log's reading: its lines not understood beyond those named,
// and how many samples were out of step.
void tell_file_counts(const char *name, const FileCounts &counts);
// A followed log's last line, which never got its end, left out.
void tell_partial_line_left_out(const char *name);
