// The report's plots of figures rather than of time: the stability (OADEV
// and MDEV against τ, log–log) and the histogram of the difference. Both
// are elements of a page.
#pragma once

#include <cstdio>

#include "analyze/accumulate/distribution.h"
#include "analyze/accumulate/stability.h"

void write_stability_plot(std::FILE *out, const StabilityPoint *points, int count);
void write_difference_histogram(std::FILE *out, const DifferenceCounts &counts);
