// The summary as text for a person, one run at a time and then the total.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "analyze/accumulate/records.h"
#include "analyze/accumulate/statistics.h"

// The span from the first sample to the last, as format_duration. Over
// several files, which may be years apart, it is no stretch watched, and
// says so: "1007 d 14 h first to last, over 2 files", the note between
// note_start and note_end (markup in a page).
constexpr size_t SPAN_TEXT_SIZE = 96;
void format_span(char *buffer, size_t size, int64_t first_ms, int64_t last_ms, int file_count,
                 const char *note_start = " ", const char *note_end = "");
// "156001 (increment 156250, -1593.600 ppm)"
void write_setting(std::FILE *out, AdjustmentSetting setting);
// The run and its first TEXT_LISTED_EPISODES correction episodes.
constexpr int TEXT_LISTED_EPISODES = 20;
void write_run_text(std::FILE *out, const RunRecord &record);
// Pooled over every file; with several files, also side by side.
void write_total_text(std::FILE *out, const AnalysisSnapshot &snapshot);
