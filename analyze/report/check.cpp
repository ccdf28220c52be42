#include "analyze/report/check.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

#include "analyze/accumulate/distribution.h"
#include "analyze/parse/utc_time.h"

namespace {

constexpr double INFINITE = std::numeric_limits<double>::infinity();

bool parse_number(std::string_view text, double &value) {
    if (text.empty()) {
        return false;
    }
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && std::isfinite(value);
}

struct FindingInfo {
    const char *option;  // the name in --warn-NAME and --crit-NAME
    const char *label;   // the perfdata's
    const char *unit;    // the perfdata's UOM
    double scale;        // from the finding's unit into the perfdata's
    const char *shown;   // the unit in the words
    int decimals;        // in the perfdata: the log's resolution
};

constexpr FindingInfo FINDING_INFO[FINDINGS] = {
    {"steps", "steps", "", 1, "", 0},
    {"step", "largest_step", "s", 1e-3, " ms", 7},
    {"slew", "largest_slew_ppm", "", 1, " ppm", 3},
    {"error", "time_error_p99", "s", 1e-3, " ms", 7},
    {"missing", "missing", "%", 1, " %", 3},
    {"age", "age", "s", 1, " s", 3},
};

// OK < UNKNOWN < WARNING < CRITICAL, as the monitoring cores rank them.
int severity(CheckState state) {
    switch (state) {
    case CheckState::ok:
        return 0;
    case CheckState::unknown:
        return 1;
    case CheckState::warning:
        return 2;
    case CheckState::critical:
        return 3;
    }
    return 1;
}

CheckState worse(CheckState a, CheckState b) { return severity(b) > severity(a) ? b : a; }

// A plain decimal, no exponent, trailing zeros cut: perfdata readers want it.
void put_plain(char *text, size_t size, double value, int decimals) {
    std::snprintf(text, size, "%.*f", decimals, value);
    if (std::strchr(text, '.') != nullptr) {
        size_t end = std::strlen(text);
        while (text[end - 1] == '0') {
            text[--end] = '\0';
        }
        if (text[end - 1] == '.') {
            text[end - 1] = '\0';
        }
    }
    if (std::strcmp(text, "-0") == 0) {
        std::snprintf(text, size, "0");
    }
}

// Text appended within size: the length it would have uncut. Each piece
// is written by snprintf at room(w), left(w) long, and then wrote(w, n).
struct Words {
    char *text;
    size_t size;
    size_t length = 0;
};

char *room(const Words &w) { return w.length < w.size ? w.text + w.length : nullptr; }
size_t left(const Words &w) { return w.length < w.size ? w.size - w.length : 0; }
void wrote(Words &w, int n) { w.length += n > 0 ? static_cast<size_t>(n) : 0; }

void add_figure(Words &w, const Verdict &v, Finding f) {
    const int i = static_cast<int>(f);
    switch (f) {
    case Finding::steps:
        if (v.value[i] == 0) {
            wrote(w, std::snprintf(room(w), left(w), "no steps"));
        } else {
            wrote(w, std::snprintf(room(w), left(w), "%.0f step%s", v.value[i], v.value[i] == 1 ? "" : "s"));
        }
        break;
    case Finding::largest_step:
        wrote(w, std::snprintf(room(w), left(w), "largest step %+.4g ms", v.step_ms));
        break;
    case Finding::largest_slew:
        if (v.value[i] == 0) {
            wrote(w, std::snprintf(room(w), left(w), "no slew"));
        } else {
            wrote(w, std::snprintf(room(w), left(w), "largest slew %+.0f ppm for %.0f s", v.slew_ppm, v.slew_s));
        }
        break;
    case Finding::time_error:
        wrote(w, std::snprintf(room(w), left(w),
                               v.error_beyond_counts ? "difference p99 beyond +-%.4g ms"
                                                     : "difference p99 within +-%.4g ms",
                               v.value[i]));
        break;
    case Finding::missing:
        if (v.value[i] == 0) {
            wrote(w, std::snprintf(room(w), left(w), "no samples missing"));
        } else {
            wrote(w, std::snprintf(room(w), left(w), "%.2g %% of the samples missing", v.value[i]));
        }
        break;
    case Finding::age:
        wrote(w, std::snprintf(room(w), left(w), "last sample %.0f s ago", v.value[i]));
        break;
    }
}

void add_range_words(Words &w, const ThresholdRange &r, const char *unit) {
    char low[32];
    char high[32];
    put_plain(low, sizeof low, r.low, 6);
    put_plain(high, sizeof high, r.high, 6);
    if (r.inside) {
        wrote(w, std::snprintf(room(w), left(w), "within %s to %s%s", std::isinf(r.low) ? "-inf" : low,
                               std::isinf(r.high) ? "inf" : high, unit));
    } else if (std::isinf(r.high)) {
        wrote(w, std::snprintf(room(w), left(w), "below %s%s", low, unit));
    } else if (std::isinf(r.low) || r.low == 0) {
        wrote(w, std::snprintf(room(w), left(w), "above %s%s", high, unit));
    } else {
        wrote(w, std::snprintf(room(w), left(w), "outside %s to %s%s", low, high, unit));
    }
}

}  // namespace

bool parse_range(const char *text, ThresholdRange &range) {
    std::string_view rest(text);
    range = ThresholdRange{true, false, 0, INFINITE};
    if (!rest.empty() && rest.front() == '@') {
        range.inside = true;
        rest.remove_prefix(1);
    }
    const size_t colon = rest.find(':');
    if (colon == std::string_view::npos) {
        return parse_number(rest, range.high);
    }
    const std::string_view low = rest.substr(0, colon);
    const std::string_view high = rest.substr(colon + 1);
    if (low == "~") {
        range.low = -INFINITE;
    } else if (!parse_number(low, range.low)) {
        return false;
    }
    if (!high.empty() && !parse_number(high, range.high)) {
        return false;
    }
    return range.low <= range.high;
}

bool range_alerts(const ThresholdRange &range, double value) {
    if (!range.set) {
        return false;
    }
    const bool inside = value >= range.low && value <= range.high;
    return range.inside ? inside : !inside;
}

size_t format_range(char *text, size_t size, const ThresholdRange &range, double scale) {
    if (!range.set) {
        return static_cast<size_t>(std::snprintf(text, size, "%s", ""));
    }
    char low[32] = "~";
    char high[32] = "";
    if (!std::isinf(range.low)) {
        put_plain(low, sizeof low, range.low * scale, 9);
    }
    if (!std::isinf(range.high)) {
        put_plain(high, sizeof high, range.high * scale, 9);
    }
    const char *at = range.inside ? "@" : "";
    if (!range.inside && range.low == 0 && !std::isinf(range.high)) {
        return static_cast<size_t>(std::snprintf(text, size, "%s", high));
    }
    return static_cast<size_t>(std::snprintf(text, size, "%s%s:%s", at, low, high));
}

const char *state_name(CheckState state) {
    switch (state) {
    case CheckState::ok:
        return "OK";
    case CheckState::warning:
        return "WARNING";
    case CheckState::critical:
        return "CRITICAL";
    case CheckState::unknown:
        return "UNKNOWN";
    }
    return "UNKNOWN";
}

CheckThresholds default_thresholds() {
    CheckThresholds t = {};
    auto set = [](ThresholdRange &r, double high) { r = ThresholdRange{true, false, 0, high}; };
    set(t.warning[static_cast<int>(Finding::steps)], 0);
    set(t.critical[static_cast<int>(Finding::steps)], 10);
    set(t.critical[static_cast<int>(Finding::largest_step)], 100);
    set(t.warning[static_cast<int>(Finding::largest_slew)], 500);
    set(t.warning[static_cast<int>(Finding::time_error)], 1);
    set(t.critical[static_cast<int>(Finding::time_error)], 10);
    set(t.warning[static_cast<int>(Finding::missing)], 1);
    set(t.critical[static_cast<int>(Finding::missing)], 10);
    return t;
}

bool finding_of_name(const char *name, Finding &finding) {
    for (int i = 0; i < FINDINGS; ++i) {
        if (std::strcmp(name, FINDING_INFO[i].option) == 0) {
            finding = static_cast<Finding>(i);
            return true;
        }
    }
    return false;
}

Verdict judge(const AnalysisSnapshot &s, const CheckThresholds &t, int64_t now_ms) {
    Verdict v = {};
    const RunStatistics &total = *s.total;
    if (total.samples == 0) {
        v.state = CheckState::unknown;
        return v;
    }
    auto measured = [&v](Finding f, double value) {
        v.known[static_cast<int>(f)] = true;
        v.value[static_cast<int>(f)] = value;
    };
    measured(Finding::steps, static_cast<double>(s.episodes.steps));
    v.step_ms = s.episodes.largest_step_ms;
    measured(Finding::largest_step, std::fabs(v.step_ms));
    v.slew_ppm = s.episodes.largest_slew_ppm;
    v.slew_s = s.episodes.largest_slew_s;
    measured(Finding::largest_slew, std::fabs(v.slew_ppm));
    double p99 = 0;
    if (s.differences != nullptr && s.differences->values > 0) {
        v.error_beyond_counts = !size_percentile(*s.differences, 99, p99);
        measured(Finding::time_error,
                 v.error_beyond_counts ? static_cast<double>(DIFFERENCE_LIMIT_STEPS) / DIFFERENCE_STEPS_PER_MS : p99);
    }
    const auto expected = static_cast<double>(total.samples + total.missing_samples);
    measured(Finding::missing, static_cast<double>(total.missing_samples) / expected * 100);
    const auto age = static_cast<int>(Finding::age);
    const bool age_judged = t.warning[age].set || t.critical[age].set;
    if (age_judged && s.last_sample != nullptr && s.last_sample->utc_ms != UNKNOWN_TIME_MS) {
        measured(Finding::age, static_cast<double>(now_ms - s.last_sample->utc_ms) / 1e3);
    }
    v.state = CheckState::ok;
    for (int i = 0; i < FINDINGS; ++i) {
        if (!v.known[i]) {
            // An age asked for that no sample's time tells.
            v.judged[i] = i == age && age_judged ? CheckState::unknown : CheckState::ok;
        } else if (range_alerts(t.critical[i], v.value[i])) {
            v.judged[i] = CheckState::critical;
        } else if (range_alerts(t.warning[i], v.value[i])) {
            v.judged[i] = CheckState::warning;
        } else {
            v.judged[i] = CheckState::ok;
        }
        v.state = worse(v.state, v.judged[i]);
    }
    return v;
}

size_t verdict_words(char *text, size_t size, const Verdict &v, const CheckThresholds &t) {
    Words w{text, size};
    if (size > 0) {
        *text = '\0';
    }
    if (!v.known[static_cast<int>(Finding::steps)]) {
        wrote(w, std::snprintf(room(w), left(w), "no samples"));
        return w.length;
    }
    // The worst first; among equals, in their order.
    for (const CheckState state : {CheckState::critical, CheckState::warning, CheckState::unknown, CheckState::ok}) {
        for (int i = 0; i < FINDINGS; ++i) {
            const auto f = static_cast<Finding>(i);
            const bool unmeasured_age = f == Finding::age && state == CheckState::unknown;
            if (v.judged[i] != state || (!v.known[i] && !unmeasured_age) ||
                (f == Finding::largest_step && v.value[i] == 0)) {
                continue;
            }
            // No semicolon: the monitoring cores' logs have it as their separator.
            if (w.length > 0) {
                wrote(w, std::snprintf(room(w), left(w), ", "));
            }
            if (unmeasured_age) {
                wrote(w, std::snprintf(room(w), left(w), "age of the last sample unknown"));
                continue;
            }
            add_figure(w, v, f);
            if (state == CheckState::critical || state == CheckState::warning) {
                wrote(w,
                      std::snprintf(room(w), left(w), " (%s ", state == CheckState::critical ? "critical" : "warning"));
                add_range_words(w, state == CheckState::critical ? t.critical[i] : t.warning[i], FINDING_INFO[i].shown);
                wrote(w, std::snprintf(room(w), left(w), ")"));
            }
        }
    }
    return w.length;
}

void write_check_line(std::FILE *out, const Verdict &v, const CheckThresholds &t) {
    char words[1024];
    verdict_words(words, sizeof words, v, t);
    std::fprintf(out, "TICKWATCH %s - %s", state_name(v.state), words);
    for (int i = 0; i < FINDINGS; ++i) {
        if (!v.known[i]) {
            continue;
        }
        if (i == 0) {
            std::fputs(" |", out);  // the steps are known whenever anything is
        }
        const FindingInfo &info = FINDING_INFO[i];
        char value[48];
        char warning[64];
        char critical[64];
        put_plain(value, sizeof value, v.value[i] * info.scale, info.decimals);
        format_range(warning, sizeof warning, t.warning[i], info.scale);
        format_range(critical, sizeof critical, t.critical[i], info.scale);
        std::fprintf(out, " '%s'=%s%s;%s;%s;0%s", info.label, value, info.unit, warning, critical,
                     i == static_cast<int>(Finding::missing) ? ";100" : "");
    }
    std::fputc('\n', out);
}

const char *const VERDICT_MEANING = "This measures how the time service steers the system time against the "
                                    "performance counter, not how far the clock is from UTC.";

void write_verdict_text(std::FILE *out, const Verdict &verdict, const CheckThresholds &thresholds) {
    if (!verdict.known[static_cast<int>(Finding::steps)]) {
        return;  // no sample: the total says so
    }
    char words[1024];
    verdict_words(words, sizeof words, verdict, thresholds);
    std::fprintf(out, "Verdict: %s - %s\n  %s\n\n", state_name(verdict.state), words, VERDICT_MEANING);
}

void write_check_unknown(std::FILE *out, const char *reason) {
    // One line: a reason's own line ends would start the long output.
    std::fprintf(out, "TICKWATCH UNKNOWN - ");
    for (const char *c = reason; *c != '\0'; ++c) {
        std::fputc(*c == '\n' || *c == '\r' || *c == '|' ? ' ' : *c, out);
    }
    std::fputc('\n', out);
}
