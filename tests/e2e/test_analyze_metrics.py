"""The metrics file against Prometheus's own tool: its format and lint
(promtool check metrics), and the recording and alerting rules of
docs/tickwatch-rules.yml (promtool test rules) on series that the analyzer
wrote, minute by minute, from a crafted log.

  PROMTOOL  promtool (Debian's prometheus package)
"""

import json
import math
import os
import subprocess

from analyze_e2e import ROOT, AnalyzeTestCase, Log, metric_samples

PROMTOOL = os.environ.get("PROMTOOL", "/usr/bin/promtool")
RULES = os.path.join(ROOT, "docs", "tickwatch-rules.yml")
BOUNDS_MS = [0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20]
STEP_SAMPLE = 720  # in the 12th minute
SLEW_FROM = 901  # the 16th minute on
LAST_SAMPLE = 1800  # then silence: the 30th minute is the last with samples
MINUTES = 50
PACE_MS = 1009.0  # a sleep that overshoots: τ0 is not a whole second


def difference_ms(i):
    """The difference of the i-th sample (from 1), exactly as the log prints it."""
    if i == STEP_SAMPLE:
        return 31.25
    if i >= SLEW_FROM:
        return -2.0
    return 0.0005 * (1 + i % 10)


def quantile(q, sizes_ms):
    """histogram_quantile's interpolation, over counts made here from the sizes."""
    counts = [sum(1 for s in sizes_ms if s <= bound) for bound in BOUNDS_MS] + [len(sizes_ms)]
    rank = q * len(sizes_ms)
    bucket = next(b for b, count in enumerate(counts) if count >= rank)
    if bucket == len(BOUNDS_MS):
        return BOUNDS_MS[-1] / 1000
    start = BOUNDS_MS[bucket - 1] if bucket > 0 else 0
    below = counts[bucket - 1] if bucket > 0 else 0
    return (start + (BOUNDS_MS[bucket] - start) * (rank - below) / (counts[bucket] - below)) / 1000


class Metrics(AnalyzeTestCase):

    def setUp(self):
        super().setUp()
        if not os.path.isfile(PROMTOOL):
            self.fail("no promtool at PROMTOOL=%r: run tools/install-deps.sh" % PROMTOOL)

    def promtool(self, *args, stdin=None):
        done = subprocess.run([PROMTOOL] + list(args), input=stdin, capture_output=True, timeout=120)
        return done.returncode, done.stdout.decode() + done.stderr.decode()

    def scrapes(self):
        """The metrics file after each minute, as --follow rewrites it: a
        sample a second from 1970-01-01 00:00:01 (so that time() in promtool,
        which starts at 0, is the log's own time), then silence."""
        log = Log()
        for i in range(1, LAST_SAMPLE + 1):
            d = difference_ms(i)
            log.sample(PACE_MS + d, PACE_MS, 156001 if i >= SLEW_FROM else 156250, at=1000 if i == 1 else None)
        lines = log.bytes().splitlines(keepends=True)
        scrapes = []
        for minute in range(1, MINUTES + 1):
            prefix = self.write("clock.log", b"".join(lines[:min(60 * minute, LAST_SAMPLE)]))
            self.analyze("--metrics", self.path("tickwatch.prom"), prefix)
            scrapes.append(self.read("tickwatch.prom"))
        return scrapes

    def test_the_metrics_pass_promtools_lint_and_the_rules_act_on_them(self):
        scrapes = self.scrapes()
        status, said = self.promtool("check", "metrics", stdin=scrapes[-1].encode())
        self.assertEqual((status, said), (0, ""))
        status, said = self.promtool("check", "rules", RULES)
        self.assertEqual(status, 0, said)

        # Each series as promtool takes it: a value a minute from 0 (none
        # yet at 0), with the label a scrape adds.
        values = {}
        for minute, text in enumerate(scrapes, start=1):
            for key, value in metric_samples(text).items():
                values.setdefault(key, ["_"] * (MINUTES + 1))[minute] = repr(value)
        input_series = [{"series": key.replace("{", '{instance="clockhost",', 1), "values": " ".join(v)}
                        for key, v in values.items()]

        # The stability series keep their labels from the first scrape that
        # has them to the last, whatever τ0 settles to.
        oadev = [{k for k in metric_samples(text) if k.startswith("tickwatch_oadev{")} for text in scrapes]
        self.assertTrue(oadev[0])
        for labels in oadev:
            self.assertLessEqual(labels, oadev[-1])

        # The recording rules over (10 min, 25 min], from the log's own differences.
        window = [difference_ms(i) for i in range(600 + 1, 1500 + 1)]
        rms = math.sqrt(sum(d * d for d in window) / len(window)) / 1000
        p99 = quantile(0.99, [abs(d) for d in window])
        self.assertTrue(0.001 < p99 < 0.002)

        labels = {"instance": "clockhost", "log": "clock.log", "severity": "warning"}

        def alert(minute, name, *firing):
            return {"eval_time": "%dm" % minute, "alertname": name,
                    "exp_alerts": [{"exp_labels": labels, "exp_annotations": {"summary": summary}}
                                   for summary in firing]}

        tests = {"rule_files": [RULES], "evaluation_interval": "1m", "tests": [{
            "interval": "1m",
            "input_series": input_series,
            # Within 1e-12 relative: the same sums, added in another order.
            "promql_expr_test": [
                {"expr": "abs(%s / %r - 1) < bool 1e-12" % (record, expected), "eval_time": "25m",
                 "exp_samples": [{"labels": '{instance="clockhost",log="clock.log"}', "value": 1}]}
                for record, expected in (("tickwatch:difference_rms_seconds:15m", rms),
                                         ("tickwatch:difference_abs_seconds:p99_15m", p99))
            ] + [
                # docs/live.md's query of the stability at τ0, from start to end.
                {"expr": 'count(tickwatch_oadev{m="1"})', "eval_time": "%dm" % minute, "exp_samples": [{"value": 1}]}
                for minute in (1, 30)
            ],
            "alert_rule_test": [
                alert(11, "ClockStepped"),
                alert(13, "ClockStepped", "clockhost: the system clock stepped (clock.log)"),
                alert(28, "ClockStepped"),
                alert(25, "ClockSlewedHard"),  # pending for 9 minutes
                alert(26, "ClockSlewedHard",
                      "clockhost: the time adjustment slews the clock by 0.0015936 (clock.log)"),
                alert(30, "ClockDifferenceHigh"),
                alert(40, "ClockDifferenceHigh", "clockhost: 1 %% of the differences exceed %s s (clock.log)"
                      % repr(quantile(0.99, [2.0] * 600 + [abs(difference_ms(i)) for i in range(1500 + 1, 1800 + 1)]))),
                alert(34, "TickwatchSilent"),
                alert(36, "TickwatchSilent", "clockhost: no sample from tickwatch for 5 minutes (clock.log)"),
            ],
        }]}
        test_file = self.write("tickwatch-rules.test.yml", json.dumps(tests, indent=1).encode())
        status, said = self.promtool("test", "rules", test_file)
        self.assertEqual(status, 0, said)
