#include "analyze/report/status_line.h"

#include "analyze/parse/utc_time.h"

void write_status_line(std::FILE *out, int64_t now_ms, const AnalysisSnapshot &snapshot) {
    const RunStatistics &total = *snapshot.total;
    const RunFigures &figures = *snapshot.figures;
    char now[ISO_TIME_SIZE];
    format_iso_time(now, sizeof now, now_ms);
    std::fprintf(out, "%s  samples %llu  steps %llu  missing %llu", now, static_cast<unsigned long long>(total.samples),
                 static_cast<unsigned long long>(total.steps), static_cast<unsigned long long>(total.missing_samples));
    if (figures.has_rate) {
        std::fprintf(out, "  rate %+.3f ppm", figures.rate_ppm);
    } else {
        std::fputs("  rate -", out);
    }
    if (figures.has_regular_lines) {
        std::fprintf(out, "  rms %.4f ms", figures.difference_rms_ms);
    } else {
        std::fputs("  rms -", out);
    }
    if (snapshot.last_sample != nullptr) {
        std::fprintf(out, "  last %+.4f ms\n", snapshot.last_sample->difference_ms);
    } else {
        std::fputs("  last -\n", out);
    }
}
