// The report's plots of figures rather than of time: the stability (OADEV
// and MDEV against τ, log–log) and the histogram of the difference. Both
// are elements of a page.
#pragma once

#include <cstdio>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/file_summary.h"
#include "analyze/accumulate/stability.h"

void write_stability_plot(std::FILE *out, const StabilityPoint *points, int count);
void write_difference_histogram(std::FILE *out, const DifferenceCounts &counts);

// Several files side by side, each in its own colour: their OADEV against
// τ on one log–log plot, and their distributions of the difference as the
// share of each file's lines per 0.01 ms, on one axis.
const char *file_colour(int index);
void write_stability_comparison(std::FILE *out, const FileSummary *files, int count);
void write_distribution_comparison(std::FILE *out, const FileSummary *files, int count);
