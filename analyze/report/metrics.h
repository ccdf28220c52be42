// The figures as metrics in the text exposition format that Prometheus and
// the textfile collectors of its exporters read: HELP and TYPE for each,
// base units (seconds, ratios), and a label log with the log's file name.
// Samples carry no timestamp: the collectors refuse them.
#pragma once

#include <cstdio>

#include "analyze/accumulate/records.h"

// The averaging times published: tau = m·τ0, m = 1, 2, 4, ... 1024.
constexpr int MAX_OADEV_POINTS = 11;

// Totals over everything read, labelled with the last log's file name. A
// figure not known (no sample yet, or not computed) leaves its metric out.
void write_metrics(std::FILE *out, const AnalysisSnapshot &snapshot);
