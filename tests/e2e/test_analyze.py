"""tickwatch-analyze on logs: crafted ones with known contents, bad input, a
log followed as it grows with its metrics collected by a real node_exporter,
and (with Wine) logs that the real tickwatch.exe has just recorded.

  ANALYZE_EXE          the host build of tickwatch-analyze
  ANALYZE_WINDOWS_EXE  the Windows build beside TICKWATCH_EXE (RecordedLog)
  NODE_EXPORTER        node_exporter (Follow; Debian's prometheus-node-exporter)
"""

import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request
import xml.etree.ElementTree as ElementTree

import tickwatch_e2e
from tickwatch_e2e import LOADER, TickwatchTestCase, wine_env

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
ANALYZE = os.environ.get("ANALYZE_EXE", os.path.join(ROOT, "build", "host", "tickwatch-analyze"))
ANALYZE_WINDOWS = os.environ.get("ANALYZE_WINDOWS_EXE", "")
SVG = "{http://www.w3.org/2000/svg}"
NODE_EXPORTER = os.environ.get("NODE_EXPORTER", "/usr/bin/prometheus-node-exporter")


def project_version():
    """The version where it is set: CMake's project(VERSION)."""
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(tickwatch VERSION (\S+)", f.read()).group(1)


def report_line_format():
    """tickwatch's own report-line format, which Python's % reads as C does."""
    with open(os.path.join(ROOT, "clock", "report_line.h")) as f:
        return re.search(r'#define REPORT_LINE_FORMAT "(.*)"', f.read()).group(1)


FORMAT = report_line_format()
BANNER = "Kestivar TICKWATCH v1.6"
T0 = 1709645940015  # 2024-03-05 13:39:00.015 UTC, in ms


def iso(ms):
    t = time.gmtime(ms // 1000)
    return "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ" % (t[:6] + (ms % 1000,))


class Log:
    """Builds a log the way tickwatch writes one: CR LF line ends, the sample
    times following the system clock's own deltas."""

    def __init__(self):
        self.lines = []
        self.t = None  # the system time of the last sample, ms

    def add(self, *lines):
        self.lines.extend(lines)

    def sample(self, system_ms=1000.0, counter_ms=1000.0, adjustment=156250, increment=156250, at=None):
        """A report line; returns its sample time in ms."""
        self.t = at if at is not None else self.t + round(system_ms)
        difference = system_ms - counter_ms
        t = time.gmtime(self.t // 1000)
        offset = (adjustment - increment + 2 ** 31) % 2 ** 32 - 2 ** 31
        self.lines.append(FORMAT % (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, self.t % 1000,
                                    system_ms, counter_ms, difference, adjustment, offset,
                                    "><" if abs(difference) > 20 else ""))
        return self.t

    def bytes(self):
        return "".join(line + "\r\n" for line in self.lines).encode()


class AnalyzeTestCase(unittest.TestCase):

    def setUp(self):
        if not os.path.isfile(ANALYZE):
            self.fail("no tickwatch-analyze at ANALYZE_EXE=%r: build the host preset first" % ANALYZE)
        self.dir = tempfile.mkdtemp(prefix="tickwatch-analyze-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def analyze(self, *args, status=0, stdin=None, timeout=120):
        """Runs tickwatch-analyze; returns (stdout, stderr), checked for the
        exit status and for no sanitizer report."""
        done = subprocess.run([ANALYZE] + list(args), input=stdin, capture_output=True, timeout=timeout)
        out, err = done.stdout.decode(), done.stderr.decode()
        self.assertNotIn("Sanitizer", err)
        self.assertNotIn("runtime error", err)
        self.assertEqual(done.returncode, status, err)
        return out, err

    def analyze_json(self, *args, status=0, timeout=120):
        out, err = self.analyze("--json", *args, status=status, timeout=timeout)
        return json.loads(out), err


def crafted_log():
    """Two runs with known steps, adjustment changes and a gap, and the lines
    a log holds besides report lines. Returns the log and its sample times."""
    log = Log()
    log.add(BANNER, "Using GetSystemTimePreciseAsFileTime API", "", "MM timer resolution: 1..1000000 ms, set to 1 ms",
            "")
    t = [log.sample(1000.0, 999.9813, at=T0)]
    t.append(log.sample(1000.0010, 1000.0))
    t.append(log.sample(1031.2500, 1000.0012))  # stepped forward: marked
    t.append(log.sample(1000.0, 1000.0))
    t.append(log.sample(999.9000, 1000.0, 156001))  # slewing from here
    t.append(log.sample(999.9000, 1000.0, 156001))
    t.append(log.sample(0.0, 1000.0, 156001))  # set back a second: marked
    t.append(log.sample(1000.0, 1000.0, 156250))
    # A start with a wrong option between the runs: never a banner.
    log.add("unknown parameter: -x", "")
    log.add(BANNER, "Note: GetSystemTimePreciseAsFileTime API is also available, use -p", "", "")
    t.append(log.sample(1000.0, 1000.0, at=T0 + 3_600_000))
    t.append(log.sample(1000.0, 1000.0))
    log.t += 3000  # three lines that never reached the log
    t.append(log.sample(1000.0, 1000.0))
    t.append(log.sample(1000.0, 1000.0))
    return log, t


class CraftedLogs(AnalyzeTestCase):

    def test_runs_steps_adjustment_changes_and_gaps_are_found(self):
        log, t = crafted_log()
        summary, err = self.analyze_json(self.write("clock.log", log.bytes()))
        self.assertEqual(err, "")
        self.assertEqual(summary["unrecognised_lines"], 0)
        run1, run2 = summary["runs"]
        self.assertEqual((run1["run"], run1["first_line"], run1["last_line"]), (1, 1, 15))
        self.assertEqual((run2["run"], run2["first_line"], run2["last_line"]), (2, 16, 23))
        self.assertEqual((run1["samples"], run2["samples"]), (8, 4))
        self.assertEqual((run1["first_sample"], run1["last_sample"]), (iso(t[0]), iso(t[7])))
        self.assertEqual((run2["first_sample"], run2["last_sample"]), (iso(t[8]), iso(t[11])))

        self.assertEqual(run1["steps"]["listed"], [{"utc_time": iso(t[2]), "difference_ms": 31.2488},
                                                   {"utc_time": iso(t[6]), "difference_ms": -1000.0}])
        self.assertAlmostEqual(run1["steps"]["sum_ms"], 31.2488 - 1000.0, places=4)
        slewing = {"adjustment": 156001, "increment": 156250, "ppm": -1593.6}
        steady = {"adjustment": 156250, "increment": 156250, "ppm": 0.0}
        self.assertEqual(run1["adjustment"]["listed_changes"],
                         [{"utc_time": iso(t[4]), "from": steady, "to": slewing},
                          {"utc_time": iso(t[7]), "from": slewing, "to": steady}])
        self.assertEqual(run1["adjustment"]["values"], [dict(steady, samples=5), dict(slewing, samples=3)])
        # Neither the steps nor the clock set back count as missing samples;
        # the lines lost in run 2 do.
        self.assertEqual((run1["missing_samples"], run1["gaps"]), (0, 0))
        self.assertEqual((run2["missing_samples"], run2["gaps"]), (3, 1))

        differences = [0.0187, 0.0010, 31.2488, 0.0, -0.1, -0.1, -1000.0, 0.0]
        d = run1["difference_ms"]
        self.assertAlmostEqual(d["mean"], sum(differences) / 8, places=6)
        self.assertAlmostEqual(d["rms"], (sum(x * x for x in differences) / 8) ** 0.5, places=6)
        self.assertEqual((d["min"], d["max"]), (-1000.0, 31.2488))
        # The rate leaves the steps out.
        unmarked = [(0.0187, 999.9813), (0.0010, 1000.0), (0.0, 1000.0), (-0.1, 1000.0), (-0.1, 1000.0), (0, 1000.0)]
        rate = run1["rate_ppm"]
        self.assertAlmostEqual(rate["run"], sum(a for a, _ in unmarked) / sum(c for _, c in unmarked) * 1e6, places=3)
        self.assertEqual((rate["min"], rate["max"]), (-100.0, 18.700))

        total = summary["total"]
        self.assertEqual((total["runs"], total["samples"], total["steps"]["count"], total["adjustment"]["changes"]),
                         (2, 12, 2, 2))
        self.assertEqual((total["first_sample"], total["last_sample"]), (iso(t[0]), iso(t[11])))

        # The text says the same for a person.
        text, _ = self.analyze(self.path("clock.log"))
        self.assertIn("Run 2: %s, lines 16 to 23\n" % self.path("clock.log"), text)
        self.assertIn("  steps            2, together -968.7512 ms\n", text)
        self.assertIn("%s  -1000.0000 ms\n" % iso(t[6]), text)
        self.assertIn("%s  156250 (increment 156250, +0.000 ppm) -> 156001 (increment 156250, -1593.600 ppm)\n"
                      % iso(t[4]), text)
        self.assertIn("  missing samples  3 in 1 gap beyond 1.5 s\n", text)
        self.assertIn("Total: 2 runs in 1 file\n", text)

    def test_stability_percentiles_and_frequency_follow_the_segments(self):
        log, _ = crafted_log()
        log.add(BANNER)  # and a run without samples
        summary, _ = self.analyze_json(self.write("clock.log", log.bytes()))
        run1 = summary["runs"][0]
        # The steps cut run 1 into segments of phase (ms) 0, 0.0187, 0.0197;
        # 0, 0, -0.1, -0.2; and 0, 0.
        segments = [[0, 0.0187, 0.0197], [0, 0, -0.1, -0.2], [0, 0]]
        squares = [(x[i + 2] - 2 * x[i + 1] + x[i]) ** 2 for x in segments for i in range(len(x) - 2)]
        self.assertEqual(len(run1["stability"]), 1, "only m = 1 has n >= 2")
        tau1 = run1["stability"][0]
        self.assertEqual((tau1["tau_s"], tau1["n"], tau1["mtie_ns"]), (1, 3, 100000))
        self.assertAlmostEqual(tau1["oadev"] / (sum(squares) / 6) ** 0.5 / 1e-3, 1, places=6)
        self.assertAlmostEqual(tau1["mdev"], tau1["oadev"], places=12)
        self.assertAlmostEqual(tau1["tdev_ns"], tau1["mdev"] / 3 ** 0.5 * 1e9, places=2)
        # Unmarked: -0.1, -0.1, 0, 0, 0.001, 0.0187.
        self.assertEqual(run1["difference_ms"]["percentiles"],
                         {"p1": -0.1, "p5": -0.1, "p50": 0.0, "p95": 0.0187, "p99": 0.0187})
        # The slope with an intercept per segment, fitted here directly.
        fits = [(t - (len(x) - 1) / 2, v - sum(x) / len(x)) for x in segments for t, v in enumerate(x)]
        slope = sum(t * v for t, v in fits) / sum(t * t for t, _ in fits)
        residuals = sum((v - slope * t) ** 2 for t, v in fits)
        frequency = run1["frequency"]
        self.assertAlmostEqual(frequency["offset_ppm"], slope * 1e3, places=6)
        self.assertAlmostEqual(frequency["residual_rms_ms"], (residuals / 9) ** 0.5, places=6)
        # The run without samples has the keys too.
        empty = summary["runs"][2]
        self.assertEqual((empty["samples"], empty["stability"]), (0, []))
        self.assertEqual(empty["frequency"], {"offset_ppm": None, "stderr_ppm": None, "residual_rms_ms": None})
        self.assertEqual(set(empty["difference_ms"]["percentiles"].values()), {None})
        # And the text.
        text, _ = self.analyze(self.path("clock.log"))
        self.assertIn("  percentiles      p1 -0.1000, p5 -0.1000, p50 +0.0000, p95 +0.0187, p99 +0.0187 ms", text)
        self.assertRegex(text, r"\n  stability        tau s +n +OADEV +MDEV +TDEV ns +MTIE ns\n"
                               r" +1 +3 +%.4e +%.4e +[0-9.e+]+ +1.0000e\+05\n" % (tau1["oadev"], tau1["mdev"]))
        self.assertIn("  frequency        offset %+.6f ppm" % frequency["offset_ppm"], text)

    def test_lines_tickwatch_writes_are_read_with_a_mark_an_extra_cr_or_no_time(self):
        log, t = crafted_log()
        # A sample whose time tickwatch could not tell, in a step.
        log.lines[7] = "0000-00-00 00:00:00.0000" + log.lines[7][24:]
        data = b"\xef\xbb\xbf" + log.bytes().replace(b"\r\n", b"\r\r\n")
        summary, err = self.analyze_json(self.write("clock.log", data), "--csv", self.path("clock.csv"))
        self.assertEqual((err, summary["unrecognised_lines"]), ("", 0))
        run1 = summary["runs"][0]
        self.assertEqual((run1["samples"], run1["first_sample"], run1["last_sample"]), (8, iso(t[0]), iso(t[7])))
        self.assertEqual(run1["steps"]["listed"][0], {"utc_time": None, "difference_ms": 31.2488})
        self.assertEqual((run1["missing_samples"], run1["gaps"]), (0, 0))
        with open(self.path("clock.csv")) as f:
            self.assertTrue(f.read().splitlines()[3].startswith(",1,1031.2500,"))
        text, _ = self.analyze(self.path("clock.log"), "--svg", self.path("clock.svg"))
        self.assertIn("unknown time  +31.2488 ms\n", text)

    def test_spans_run_from_the_earliest_time_to_the_latest_wherever_they_come(self):
        # A clock set back an hour in the middle of a run, and its logs
        # given late one first.
        early = Log()
        early.sample(at=T0)
        for _ in range(4):
            early.sample()
        early.sample(1000.0 - 3_600_000, 1000.0)
        early.sample()
        late = Log()
        late.sample(at=T0 + 7_200_000)
        late.sample()
        logs = (self.write("late.log", late.bytes()), self.write("early.log", early.bytes()))
        summary, _ = self.analyze_json(*logs)
        run = summary["runs"][1]
        self.assertEqual((run["first_sample"], run["last_sample"]), (iso(T0 + 5000 - 3_600_000), iso(T0 + 4000)))
        self.assertEqual(run["covered_ms"], 7000.0)
        total = summary["total"]
        self.assertEqual((total["first_sample"], total["last_sample"]), (iso(T0 + 5000 - 3_600_000), iso(T0 + 7_201_000)))
        self.assertEqual(total["covered_ms"], 9000.0)

        text, _ = self.analyze(*logs, "--svg", self.path("chart.svg"))
        spans = re.findall(r"  samples +\d+, (\S+ to \S+ \(.*\))\n", text)
        self.assertEqual(spans, ["%s to %s (1.000 s)" % (iso(T0 + 7_200_000), iso(T0 + 7_201_000)),
                                 "%s to %s (59 min 59 s)" % (iso(T0 + 5000 - 3_600_000), iso(T0 + 4000)),
                                 "%s to %s (2 h 59 min)" % (iso(T0 + 5000 - 3_600_000), iso(T0 + 7_201_000))])
        self.assertIn("  time covered     9.000 s by the counter\n", text)
        chart = ElementTree.parse(self.path("chart.svg")).getroot()
        subtitle = next(e.text for e in chart.iter(SVG + "text") if e.text and " samples in " in e.text)
        self.assertTrue(subtitle.startswith(spans[-1] + ":"), subtitle)

    def test_json_has_the_same_keys_for_every_run_and_no_negative_zero(self):
        log = Log()
        log.add(BANNER, "unknown parameter: -x", "", BANNER)  # a run without samples
        log.sample(1000.0, 1000.00001, at=T0)  # -0.0000 as printed
        log.sample(1000.0, 1000.00001)
        out, _ = self.analyze("--json", self.write("clock.log", log.bytes()))
        self.assertNotRegex(out, r"-0(\.0+)?(?![.\d])")

        def shape(value):
            if isinstance(value, dict):
                return {key: shape(item) for key, item in value.items()}
            return type(value) if isinstance(value, list) else None

        summary = json.loads(out)
        empty, full = summary["runs"]
        self.assertEqual((empty["samples"], full["samples"]), (0, 2))
        self.assertEqual(shape(empty), shape(full))
        self.assertEqual((empty["first_sample"], empty["difference_ms"]["mean"], empty["difference_ms"]["min"],
                          empty["rate_ppm"]["run"]), (None, None, None, None))
        self.assertEqual(full["difference_ms"]["min"], 0)

    def test_csv_has_a_row_per_sample(self):
        log, t = crafted_log()
        self.analyze(self.write("clock.log", log.bytes()), "--csv", self.path("clock.csv"))
        with open(self.path("clock.csv")) as f:
            rows = [line.split(",") for line in f.read().splitlines()]
        self.assertEqual(rows[0], ["utc_time", "run", "system_ms", "counter_ms", "difference_ms", "rate_ppm",
                                   "adjustment", "increment", "adjustment_ppm", "step"])
        self.assertEqual(len(rows), 1 + 12)
        self.assertEqual(rows[3], [iso(t[2]), "1", "1031.2500", "1000.0012", "31.2488", "31248.763", "156250",
                                   "156250", "0.000", "1"])
        self.assertEqual(rows[5][6:9], ["156001", "156250", "-1593.600"])
        self.assertEqual([r[1] for r in rows[1:]], ["1"] * 8 + ["2"] * 4)

    def test_standard_input_reads_as_a_file(self):
        log, _ = crafted_log()
        from_file, _ = self.analyze("--json", self.write("clock.log", log.bytes()))
        from_pipe, _ = self.analyze("--json", "-", stdin=log.bytes())
        self.assertEqual(from_pipe, from_file.replace(self.path("clock.log"), "standard input"))

    def test_several_files_number_their_runs_on(self):
        log, _ = crafted_log()
        summary, _ = self.analyze_json(self.write("a.log", log.bytes()), self.write("b.log", log.bytes()))
        self.assertEqual([(r["run"], os.path.basename(r["file"])) for r in summary["runs"]],
                         [(1, "a.log"), (2, "a.log"), (3, "b.log"), (4, "b.log")])
        self.assertEqual(summary["total"]["samples"], 24)

    def test_the_chart_is_well_formed_svg_with_what_it_promises(self):
        log, _ = crafted_log()
        self.analyze(self.write("clock & co.log", log.bytes()), "--svg", self.path("chart.svg"))
        root = ElementTree.parse(self.path("chart.svg")).getroot()
        self.assertEqual(root.tag, SVG + "svg")
        ids = {e.get("id"): e for e in root.iter() if e.get("id")}
        for promised in ("title", "difference", "thresholds", "steps", "runs", "adjustment", "time-axis", "legend"):
            self.assertIn(promised, ids)
        self.assertIn("clock & co.log", ids["title"].text)
        self.assertEqual(len(ids["thresholds"].findall(SVG + "line")), 2, "at +20 and -20 ms")
        self.assertEqual(len(ids["steps"].findall(SVG + "circle")), 2)
        self.assertEqual(len(ids["runs"].findall(SVG + "line")), 2, "run 2 starts: a line through each panel")
        labels = [e.text for e in ids["time-axis"].iter(SVG + "text")]
        self.assertIn("13:40", labels)

    def test_a_long_log_gives_a_small_chart(self):
        # Two days of samples, one a second, in one pass.
        lines = [BANNER, ""]
        for i in range(172_800):
            lines.append(FORMAT % (2024, 3, 5 + i // 86400, i // 3600 % 24, i // 60 % 60, i % 60, 15, 1000.0,
                                   1000.0 - (i % 7) / 1000, (i % 7) / 1000, 156250, 0, ""))
        path = self.write("long.log", ("\r\n".join(lines) + "\r\n").encode())
        self.analyze(path, "--svg", self.path("long.svg"))
        self.assertLess(os.path.getsize(self.path("long.svg")), 200_000)
        root = ElementTree.parse(self.path("long.svg")).getroot()
        paths = {e.get("id"): e.get("d") for e in root.iter(SVG + "path")}
        self.assertLessEqual(len(re.findall(r"[ML]", paths["difference"])), 2 * 1060, "two points per pixel column")
        # The trend shows: a mean per column, inside the column's band.
        band = {}
        for x, y in re.findall(r"[ML]([\d.]+) ([\d.]+)", paths["difference"]):
            band.setdefault(x, []).append(float(y))
        means = re.findall(r"[ML]([\d.]+) ([\d.]+)", paths["difference-mean"])
        self.assertGreater(len(means), 1000)
        for x, y in means:
            self.assertTrue(min(band[x]) <= float(y) <= max(band[x]), (x, y, band[x]))


def text_boxes(root):
    """The boxes of the chart's level text, a little smaller than any
    sans-serif font draws them: (left, top, right, bottom, text)."""
    boxes = []
    for e in root.iter(SVG + "text"):
        if e.get("transform") or not e.text:
            continue
        size = float(e.get("font-size", 12))
        width = 0.55 * size * len(e.text)
        x, y = float(e.get("x")), float(e.get("y"))
        left = {"start": x, "middle": x - width / 2, "end": x - width}[e.get("text-anchor", "start")]
        boxes.append((left, y - 0.7 * size, left + width, y, e.text))
    return boxes


class ChartLayout(AnalyzeTestCase):
    """What the chart must look like, checked in its coordinates."""

    def chart(self, log):
        self.analyze(self.write("clock.log", log.bytes()), "--svg", self.path("chart.svg"))
        root = ElementTree.parse(self.path("chart.svg")).getroot()
        return root, {e.get("id"): e for e in root.iter() if e.get("id")}

    def frames(self, root):
        """The panels' frames, top to bottom, as (left, top, right, bottom)."""
        rects = [e for e in root.iter(SVG + "rect") if e.get("fill") == "none"]
        boxes = [tuple(float(r.get(k)) for k in ("x", "y", "width", "height")) for r in rects]
        return sorted((x, y, x + w, y + h) for x, y, w, h in boxes)

    def test_no_label_is_drawn_over_another(self):
        # Run 2 starting at the right edge, beside the +20 ms label.
        log = Log()
        log.add(BANNER, "")
        log.sample(at=T0)
        for _ in range(300):
            log.sample(1000.0, 999.9990)
        log.add(BANNER, "")
        log.sample(at=log.t + 2000)
        log.sample()
        # And a long log of many short runs, whose labels crowd.
        many = Log()
        for run in range(10_100):
            many.add(BANNER, "")
            many.sample(at=T0 + run * 10_000)
            many.sample()
        for each in (log, many):
            root, _ = self.chart(each)
            boxes = text_boxes(root)
            for i, a in enumerate(boxes):
                for b in boxes[i + 1:]:
                    overlap = a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]
                    self.assertFalse(overlap, "%r over %r" % (a[4], b[4]))

    def test_every_step_dot_is_inside_the_frame(self):
        root, ids = self.chart(crafted_log()[0])
        left, top, right, bottom = self.frames(root)[0]
        for dot in ids["steps"].iter(SVG + "circle"):
            x, y, r = (float(dot.get(k)) for k in ("cx", "cy", "r"))
            self.assertTrue(left <= x - r and x + r <= right and top <= y - r and y + r <= bottom, dot.attrib)

    def test_the_axes_label_what_the_reader_needs(self):
        root, ids = self.chart(crafted_log()[0])
        # The slew reaches -1593.6 ppm: a tick at or beyond it.
        slew_ticks = [float(e.text) for e in ids["adjustment-axis"].iter(SVG + "text") if not e.get("transform")]
        self.assertLessEqual(min(slew_ticks), -1593.6)
        # Where the difference's scale turns logarithmic.
        labels = [e.text for e in ids["difference-axis"].iter(SVG + "text")]
        self.assertIn("+0.001", labels)
        self.assertIn("-0.001", labels)

    def test_gaps_are_visible_however_short(self):
        # Run 2 loses 3 samples within an hour's chart: a band through
        # both panels, at least 2 pixels wide, where they are missing.
        _, ids = self.chart(crafted_log()[0])
        gaps = list(ids["gaps"].iter(SVG + "rect"))
        self.assertEqual(len(gaps), 2)
        self.assertTrue(all(float(g.get("width")) >= 2 for g in gaps))


class HtmlReport(AnalyzeTestCase):

    def report(self, log, name="clock.log"):
        self.analyze(self.write(name, log.bytes()), "--html", self.path("report.html"))
        with open(self.path("report.html"), encoding="utf-8") as f:
            return f.read()

    def test_one_page_with_tables_and_charts_that_needs_nothing_else(self):
        page = self.report(crafted_log()[0], "clock & <co>.log")
        self.assertTrue(page.startswith("<!DOCTYPE html>"))
        # Nothing fetched, nothing run: a page that opens from disk offline.
        for outside in ("<script", "<link", "src=", "href=", "url(", "@import"):
            self.assertNotIn(outside, page)
        self.assertIn("clock &amp; &lt;co&gt;.log", page)
        self.assertNotIn("<co>", page)
        self.assertIn("@page{size:A4", page)
        ids = re.findall(r' id="([^"]+)"', page)
        self.assertEqual(len(ids), len(set(ids)), "each id once in the page")
        # The charts, each well-formed and as wide as the page.
        charts = [ElementTree.fromstring(svg) for svg in re.findall(r"<svg .*?</svg>", page, re.S)]
        self.assertEqual(len(charts), 4, "difference, time error, stability, histogram")
        for chart in charts:
            self.assertEqual((chart.get("width"), chart.get("viewBox").split()[:2]), ("100%", ["0", "0"]))
        ids = [{e.get("id") for e in chart.iter()} for chart in charts]
        for chart, promised in zip(ids, ("difference", "phase", "oadev", "histogram")):
            self.assertIn(promised, chart)

        def rows(table):
            body = re.search(r'<table id="%s">(.*?)</table>' % table, page, re.S).group(1)
            return [re.findall(r"<t[dh][^>]*>(.*?)</t[dh]>", row) for row in re.findall(r"<tr[^>]*>(.*?)</tr>", body)]

        runs = rows("run-table")
        self.assertEqual([r[0] for r in runs[1:]], ["1", "2", "total"])
        self.assertEqual(runs[2][8], "3 in 1 gap")
        self.assertEqual([r[2] for r in rows("step-table")[1:]], ["+31.2488", "-1000.0000"])
        self.assertEqual(len(rows("change-table")), 1 + 2)
        self.assertEqual(rows("timekeeping-table")[1][:6], ["1", "-0.1000", "-0.1000", "+0.0000", "+0.0187", "+0.0187"])

    def test_the_histogram_holds_each_unmarked_line_once_by_its_value(self):
        log, _ = crafted_log()
        log.add(BANNER)  # and a run without samples
        page = self.report(log)
        bars = re.findall(r"<title>([-+][\d.]+)(?: to ([-+][\d.]+))? ms: (\d+)</title></rect>", page)
        # 0.0187, 0.0010, 0.0, -0.1, -0.1, 0.0 in run 1 and four 0.0 in run 2,
        # in bins of 20 values from -0.1000 to +0.0199.
        self.assertEqual([(float(low), float(high), int(n)) for low, high, n in bars],
                         [(-0.1, -0.0981, 2), (0.0, 0.0019, 7), (0.018, 0.0199, 1)])
        self.assertIn("0 below and 0 above the range drawn", page)
        self.assertIn('<td class="n">0</td><td colspan="6">no samples</td>', page)

    def test_the_plots_keep_their_marks_inside_their_frames(self):
        log = Log()
        log.sample(at=T0)
        noise = random.Random(6)
        for _ in range(600):
            log.sample(1000.0 + noise.randint(-30, 30) / 10_000, 1000.0)
        page = self.report(log)
        charts = {c.get("id"): c for svg in re.findall(r"<svg .*?</svg>", page, re.S)
                  for c in ElementTree.fromstring(svg).iter() if c.get("id")}
        for frame, marks in (("stability-frame", "oadev"), ("stability-frame", "mdev"),
                             ("histogram-frame", "histogram")):
            left, top, width, height = (float(charts[frame].get(k)) for k in ("x", "y", "width", "height"))
            points = [(float(e.get("cx")), float(e.get("cy"))) for e in charts[marks].iter(SVG + "circle")]
            points += [(float(e.get("x")), float(e.get("y"))) for e in charts[marks].iter(SVG + "rect")]
            self.assertGreater(len(points), 5, marks)
            for x, y in points:
                self.assertTrue(left <= x <= left + width and top <= y <= top + height, (marks, x, y))
        # And the grid with them.
        left, top, width, height = (float(charts["stability-frame"].get(k)) for k in ("x", "y", "width", "height"))
        for line in charts["stability-axes"].iter(SVG + "line"):
            for y in (float(line.get("y1")), float(line.get("y2"))):
                self.assertTrue(top <= y <= top + height, line.attrib)

    def test_many_runs_list_the_first_and_count_the_rest(self):
        log = Log()
        for run in range(25):
            log.add(BANNER, "")
            log.sample(at=T0 + run * 10_000)
            for _ in range(6):
                log.sample(1031.2500, 1000.0)
        page = self.report(log)
        self.assertEqual(len(re.findall(r"<tr><td class=\"n\">\d+</td><td class=\"file\">", page)), 20)
        self.assertEqual(page.count("and 5 more runs, not listed"), 3, "one row in each per-run table")
        # Steps of the listed runs, up to a hundred in all.
        self.assertIn("and 50 more steps, not listed", page)


class BadInput(AnalyzeTestCase):

    def test_files_that_cannot_be_read_are_named_with_the_reason(self):
        os.mkdir(self.path("dir"))
        _, err = self.analyze(self.path("nosuch.log"), status=2)
        self.assertIn("%s: cannot read: No such file or directory" % self.path("nosuch.log"), err)
        _, err = self.analyze(self.path("dir"), status=2)
        self.assertIn("%s: cannot read: it is a directory" % self.path("dir"), err)
        out, err = self.analyze(self.write("clock.log", crafted_log()[0].bytes()), "--csv",
                                self.path("nosuch/clock.csv"), status=2)
        self.assertIn("nosuch/clock.csv: cannot write: No such file or directory", err)
        self.assertEqual(out, "", "nothing read when an output cannot be written")

    def big_log(self, name):
        log = Log()
        log.add(BANNER, "")
        log.sample(at=T0)
        for _ in range(700):
            log.sample()
        return self.write(name, log.bytes())

    def test_an_output_that_is_a_log_is_refused_and_the_log_kept(self):
        data = open(self.big_log("in.log"), "rb").read()
        self.assertGreater(len(data), 40_000)
        os.link(self.path("in.log"), self.path("hl.log"))
        log, a, hl, dotted = self.path("in.log"), self.path("a.log"), self.path("hl.log"), self.path("./in.log")
        for args, output in ((("--csv", log, log), log), (("--svg", log, log), log), ((a, log, "--csv", log), log),
                             (("--svg", hl, log), hl), (("--csv", dotted, "-"), dotted), (("--html", hl, log), hl)):
            with open(log, "rb") as stdin:  # the log itself as standard input
                done = subprocess.run([ANALYZE] + list(args), stdin=stdin, capture_output=True, timeout=60)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn("tickwatch-analyze: %s: the output is the same file as the log " % output,
                          done.stderr.decode())
            self.assertEqual(done.stdout, b"")
            self.assertEqual(open(log, "rb").read(), data, args)

    def test_two_outputs_in_one_file_are_refused(self):
        log = self.big_log("in.log")
        _, err = self.analyze("--csv", self.path("x"), "--svg", self.path("x"), log, status=2)
        self.assertIn("x: the same file as the output %s" % self.path("x"), err)
        self.analyze("--html", self.path("x"), "--csv", self.path("./x"), log, status=2)
        self.assertFalse(os.path.exists(self.path("x")))

    def test_a_run_that_fails_leaves_existing_outputs_as_they_were(self):
        log = self.big_log("in.log")
        keep = self.write("keep.csv", b"kept\n")
        _, err = self.analyze("--csv", keep, "--svg", self.path("missing/x.svg"), log, status=2)
        self.assertIn("missing/x.svg: cannot write: No such file or directory", err)
        self.analyze("--html", keep, "--csv", self.path("missing/x.csv"), log, status=2)
        self.analyze("--csv", keep, log, self.path("nosuch.log"), status=2)
        self.analyze("--csv", keep, log, self.write("empty.log", b""), status=2)
        self.assertEqual(open(keep, "rb").read(), b"kept\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["empty.log", "in.log", "keep.csv"], "no temporary left")
        # A run that succeeds replaces it.
        self.analyze("--csv", keep, log)
        self.assertTrue(open(keep).read().startswith("utc_time,run,"))

    def test_a_named_pipe_is_read_once(self):
        # More than a pipe holds: a writer left alone by a reader that only
        # looked would fail, and a second opening would wait forever.
        data = open(self.big_log("in.log"), "rb").read() * 3
        self.assertGreater(len(data), 100_000)
        os.mkfifo(self.path("fifo.log"))

        def write():
            try:
                with open(self.path("fifo.log"), "wb") as fifo:
                    fifo.write(data)
            except BrokenPipeError:
                pass

        writer = threading.Thread(target=write, daemon=True)
        writer.start()
        summary, _ = self.analyze_json(self.path("fifo.log"), timeout=30)
        self.assertEqual(summary["total"]["samples"], 3 * 701)

    def test_standard_output_that_cannot_be_written_is_named(self):
        log = self.big_log("in.log")
        with open("/dev/full", "wb") as full:
            done = subprocess.run([ANALYZE, log], stdout=full, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((done.returncode, done.stderr.decode()),
                         (2, "tickwatch-analyze: standard output: cannot write: No space left on device\n"))
        # A pipe that stops reading: said too, and no output left half done.
        reader = subprocess.Popen([ANALYZE, log, log, "--csv", self.path("out.csv")], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE)
        reader.stdout.close()
        err = reader.stderr.read().decode()
        self.assertEqual((reader.wait(timeout=60), err),
                         (2, "tickwatch-analyze: standard output: cannot write: Broken pipe\n"))
        self.assertEqual(os.listdir(self.dir), ["in.log"])

    def test_logs_without_report_lines_fail(self):
        _, err = self.analyze(self.write("empty.log", b""), status=2)
        self.assertIn("empty.log: no report lines in it\n", err)
        garbage = random.Random(6).randbytes(200_000)
        _, err = self.analyze(self.write("garbage.bin", garbage), "--svg", self.path("g.svg"), status=2)
        self.assertIn("garbage.bin: no report lines in it: not a tickwatch log?", err)
        self.assertRegex(err, r"garbage\.bin: \d+ lines not understood, the first 5 named above")
        self.assertEqual(len(re.findall(r"garbage\.bin:\d+: not a report line", err)), 5)
        self.assertFalse(os.path.exists(self.path("g.svg")), "a run that fails writes no output")

    def test_lines_not_understood_are_named_and_skipped(self):
        log, _ = crafted_log()
        lines = log.bytes().split(b"\r\n")
        lines[6:6] = [b"x" * 3_000_000, b"2024-03-05 13:39:00.0015: garbled", b"\x00\xff\x1b[31m"]
        path = self.write("clock.log", b"\r\n".join(lines))
        summary, err = self.analyze_json(path)
        self.assertIn("clock.log:7: a line too long for a log, skipped\n", err)
        self.assertIn('clock.log:8: not a report line or a message of tickwatch: "2024-03-05 13:39:00.0015: garbled"',
                      err)
        self.assertIn('clock.log:9: not a report line or a message of tickwatch: "???[31m"', err)
        self.assertEqual((summary["unrecognised_lines"], summary["total"]["samples"]), (3, 12))

    def test_report_lines_tickwatch_cannot_write_are_named_and_skipped(self):
        log, _ = crafted_log()
        time = log.lines[6][:26]
        log.lines[6:6] = [time + " 999.8502  999.8496  +31.2488  156250 (+0) ><",
                          time + "1050.0000 1000.0000  +50.0000  156250 (+0) ",
                          time + FORMAT[FORMAT.index(": ") + 2:] % (1.7e306, 0, 1.7e306, 156250, 0, "><"),
                          time + FORMAT[FORMAT.index(": ") + 2:] % (0, 1e300, -1e300, 156250, 0, "><")]
        summary, err = self.analyze_json(self.write("clock.log", log.bytes()), "--svg", self.path("clock.svg"))
        self.assertIn("clock.log:7: a difference that is not the system time's advance minus the counter's", err)
        self.assertIn("clock.log:8: a marker that disagrees with the difference", err)
        self.assertIn("clock.log:9: a value beyond any that tickwatch writes", err)
        self.assertIn("clock.log:10: a value beyond any that tickwatch writes", err)
        total = summary["total"]
        self.assertEqual((summary["unrecognised_lines"], total["samples"], total["steps"]["count"]), (4, 12, 2))
        self.assertEqual(total["missing_samples"], 3)
        self.assertAlmostEqual(summary["runs"][0]["rate_ppm"]["max"], 18.7)

    def test_a_run_cut_short_mid_line(self):
        log, _ = crafted_log()
        data = log.bytes()
        # The first run ended while writing a line; the next run's banner
        # follows on the same line; the log ends in half a line.
        cut = data.index(b"unknown parameter")
        data = data[:cut] + b"2024-03-05 13:39:0" + data[data.index(BANNER.encode(), cut):] + b"2024-03-05 14:"
        summary, err = self.analyze_json(self.write("clock.log", data))
        self.assertIn("clock.log:14: a line cut short, then a new run", err)
        self.assertIn("clock.log:22: the last line has no line end (cut short?), left out", err)
        self.assertEqual([r["samples"] for r in summary["runs"]], [8, 4])

    def test_usage(self):
        out, _ = self.analyze("--help")
        self.assertTrue(out.startswith("usage: tickwatch-analyze [options] LOG...\n"))
        for args, message in (((), "no log file named"), (("--svg",), "a file name must follow --svg"),
                              (("--html",), "a file name must follow --html"),
                              (("-x", "a.log"), "unknown option -x"),
                              (("--follow", "--interval", "0", "a.log"), "--interval takes whole seconds from 1"),
                              (("--follow", "--interval", "1.5", "a.log"), "--interval takes whole seconds from 1"),
                              (("--follow", "a.log", "--interval"), "a number of seconds must follow --interval"),
                              (("--interval", "5", "a.log"), "--interval is for --follow"),
                              (("--follow", "a.log", "-"), "--follow follows a file by its name")):
            _, err = self.analyze(*args, status=2)
            self.assertIn("tickwatch-analyze: " + message, err)
        for args in (("--version",), ("--version", "missing.log")):
            out, _ = self.analyze(*args)
            self.assertEqual(out, "tickwatch-analyze %s\n" % project_version())

    def test_the_manual_page_renders_and_names_every_option(self):
        page = os.path.join(ROOT, "docs", "tickwatch-analyze.1")
        done = subprocess.run(["groff", "-man", "-ww", "-z", page], capture_output=True, text=True, check=True)
        self.assertEqual(done.stderr, "")
        with open(page) as f:
            text = f.read().replace("\\-", "-")
        usage, _ = self.analyze("--help")
        options = re.findall(r"^  (-[-\w]*)(?:, (--\w+))?", usage, re.M)
        self.assertGreaterEqual(len(options), 6)
        for option in (name for pair in options for name in pair if name):
            self.assertTrue(re.search(r"\.[BIR]{1,2} .*" + re.escape(option) + r"(?![-\w])", text), option)


def metric_samples(text):
    """{"name{labels}": value} of an exposition."""
    samples = {}
    for line in text.splitlines():
        if line and not line.startswith("#"):
            key, value = line.rsplit(" ", 1)
            samples[key] = float(value)
    return samples


def wait_for(condition, timeout, what):
    """Calls condition until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError("in %d s, never: %s" % (timeout, what))
        time.sleep(0.2)


class Follow(AnalyzeTestCase):
    """--follow on a log that grows and is rotated, its metrics read by a
    real node_exporter's textfile collector, on 127.0.0.1 only."""

    def start_exporter(self, textfile_dir):
        if not os.path.isfile(NODE_EXPORTER):
            self.fail("no node_exporter at NODE_EXPORTER=%r: run tools/install-deps.sh" % NODE_EXPORTER)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        with open(self.path("exporter.err"), "wb") as err:
            exporter = subprocess.Popen([NODE_EXPORTER, "--web.listen-address=127.0.0.1:%d" % port,
                                         "--collector.disable-defaults", "--collector.textfile",
                                         "--collector.textfile.directory", textfile_dir],
                                        stdout=subprocess.DEVNULL, stderr=err)
        self.addCleanup(lambda: (exporter.kill(), exporter.wait()))
        url = "http://127.0.0.1:%d/metrics" % port

        def scrape():
            try:
                with urllib.request.urlopen(url, timeout=5) as response:
                    return metric_samples(response.read().decode())
            except OSError:
                self.assertIsNone(exporter.poll(), "node_exporter ended: see exporter.err")
                return None
        wait_for(scrape, 15, "node_exporter answers")
        return scrape

    def start_follow(self, *args):
        with open(self.path("out"), "wb") as out, open(self.path("err"), "wb") as err:
            process = subprocess.Popen([ANALYZE, "--follow"] + list(args), stdout=out, stderr=err)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        return process

    def read_text(self, name):
        with open(self.path(name)) as f:
            return f.read()

    def stop(self, process, sig=signal.SIGINT):
        process.send_signal(sig)
        status = process.wait(15)
        with open(self.path("out")) as out, open(self.path("err")) as err:
            return status, out.read(), err.read()

    def test_node_exporter_collects_the_followed_logs_metrics_across_rotation(self):
        textfile_dir = self.path("textfile")
        os.mkdir(textfile_dir)
        scrape = self.start_exporter(textfile_dir)
        log = Log()
        log.add(BANNER, "")
        for i in range(3):
            log.sample(1000.0, 999.999 if i else 999.0, at=None if i else T0)
        self.write("clock.log", log.bytes())
        analyze = self.start_follow("--interval", "1", "--metrics", os.path.join(textfile_dir, "tickwatch.prom"),
                                    "--csv", self.path("clock.csv"), "--html", self.path("clock.html"),
                                    self.path("clock.log"))

        def count(name, value):
            """The scrape once name shows value."""
            def scraped():
                samples = scrape()
                return samples if samples and samples.get(name + '{log="clock.log"}') == value else None
            return wait_for(scraped, 15, "%s %s" % (name, value))

        samples = count("tickwatch_samples_total", 3)
        self.assertEqual(samples["node_textfile_scrape_error"], 0)
        self.assertEqual(samples['tickwatch_steps_total{log="clock.log"}'], 0)

        # Lines appended, a step among them, the last one cut short for now.
        appended = Log()
        appended.t = log.t
        appended.sample(1000.0, 1000.0)
        appended.sample(1031.25, 1000.0)
        appended.sample(1000.0, 1000.0, 156001)
        with open(self.path("clock.log"), "ab") as f:
            f.write(appended.bytes() + b"2024-03-05 13:39:0")
        samples = count("tickwatch_samples_total", 6)
        self.assertEqual(samples['tickwatch_steps_total{log="clock.log"}'], 1)
        self.assertEqual(samples['tickwatch_missing_samples_total{log="clock.log"}'], 0)
        self.assertEqual(samples['tickwatch_time_adjustment{log="clock.log"}'], 156001)
        self.assertAlmostEqual(samples['tickwatch_adjustment_slew_ratio{log="clock.log"}'], -249 / 156250)
        self.assertEqual(samples['tickwatch_last_sample_timestamp_seconds{log="clock.log"}'], (appended.t) / 1000)
        self.assertEqual(samples["node_textfile_scrape_error"], 0)
        with open(self.path("clock.csv")) as f:
            self.assertEqual(len(f.read().splitlines()), 1 + 6, "the rows as they come")
        with open(self.path("clock.html")) as f:
            self.assertTrue(f.read().rstrip().endswith("</html>"), "the report whole, while it follows")

        # Rotated: renamed, and a new log under the name, with a line that
        # is no log line.
        os.rename(self.path("clock.log"), self.path("clock.log.1"))
        rotated = Log()
        rotated.add(BANNER, "")
        rotated.sample(at=appended.t + 3000)
        rotated.add("not a log line")
        rotated.sample()
        self.write("clock.log", rotated.bytes())
        samples = count("tickwatch_samples_total", 8)
        self.assertEqual(samples['tickwatch_steps_total{log="clock.log"}'], 1)
        self.assertEqual(samples['tickwatch_unrecognised_lines_total{log="clock.log"}'], 1)
        self.assertEqual(samples['tickwatch_difference_seconds{log="clock.log"}'], 0)
        # The stability figures, published where they are known.
        self.assertIn('tickwatch_frequency_offset_ratio{log="clock.log"}', samples)
        self.assertIn('tickwatch_oadev{log="clock.log",tau_seconds="1"}', samples)
        self.assertEqual(samples["node_textfile_scrape_error"], 0)

        status, out, err = self.stop(analyze)
        self.assertEqual(status, 0, err)
        self.assertRegex(out, r"\d\dZ  samples 8  steps 1  missing 0  rate [+-]\d+\.\d{3} ppm  rms \d+\.\d{4} ms"
                              r"  last \+0\.0000 ms\n")
        self.assertIn("Run 2: %s, lines 1 to 5\n" % self.path("clock.log"), out)
        self.assertGreater(out.index("Total: "), out.rindex("Z  samples 8"), "the summary comes last")
        self.assertIn("Total: 2 runs in 1 file, 1 line not understood\n  samples          8,", out)
        self.assertIn("clock.log: the last line has no line end (cut short?), left out\n", err)
        self.assertIn("clock.log: a new file by this name, read from its start\n", err)
        self.assertEqual(sorted(os.listdir(textfile_dir)), ["tickwatch.prom"], "no temporary file left")

    def test_a_log_not_there_yet_is_waited_for_but_never_an_output_nor_a_device(self):
        log = self.path("clock.log")
        _, err = self.analyze("--follow", "--csv", log, log, status=2)
        self.assertIn("the output is the same file as the log", err)
        self.assertFalse(os.path.exists(log))
        _, err = self.analyze("--follow", "/dev/null", status=2)
        self.assertIn("/dev/null: cannot follow: not a regular file", err)

        analyze = self.start_follow("--interval", "1", log)
        wait_for(lambda: "cannot read: No such file or directory; waiting for it" in self.read_text("err"), 15,
                 "the log awaited")
        self.write("clock.log", crafted_log()[0].bytes())
        wait_for(lambda: "Z  samples 12  " in self.read_text("out"), 15, "the log read")
        status, _, _ = self.stop(analyze)
        self.assertEqual(status, 0)

    def test_json_comes_whole_at_the_end_and_sigterm_ends_it_too(self):
        # A run that has ended and one still open, told apart by their
        # differences: the median is the open run's only if it counted twice.
        log = Log()
        log.add(BANNER, "")
        for i in range(6):
            log.sample(1000.0, 1000.0, at=None if i else T0)
        log.add(BANNER, "")
        for _ in range(6):
            log.sample(1005.0, 1000.0)
        self.write("clock.log", log.bytes())
        analyze = self.start_follow("--json", "--interval", "1", self.path("clock.log"))
        wait_for(lambda: os.path.getsize(self.path("err")) > 0, 15, "a status line")
        status, out, err = self.stop(analyze, signal.SIGTERM)
        self.assertEqual(status, 0, err)
        # The same summary as without --follow: publishing the figures so
        # far at each interval counts nothing twice.
        self.assertEqual(json.loads(out), self.analyze_json(self.path("clock.log"))[0])
        self.assertRegex(err, r"^\d{4}-\d\d-\d\dT[\d:.]+Z  samples 12  steps 0  missing 0  ")


class RecordedLog(TickwatchTestCase):
    """Logs the real tickwatch.exe records under Wine, analyzed by the host
    build and by the Windows build of the same architecture."""

    def analyze(self, exe, *args):
        command = ([LOADER] if exe.endswith(".exe") else []) + [exe] + list(args)
        done = subprocess.run(command, cwd=self.dir, env=wine_env(), stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout.replace(b"\r\n", b"\n").decode(), done.stderr

    def test_two_appended_runs_give_the_expected_summary(self):
        first = self.run_for_lines(3, "-p", "-m", "-o", "clock.log")
        second = self.run_for_lines(2, "-o", "clock.log")
        out, err = self.analyze(ANALYZE, "--json", "clock.log")
        self.assertEqual(err, b"", "every line known")
        summary = json.loads(out)
        runs = summary["runs"]
        self.assertEqual(len(runs), 2)
        for run, recorded in zip(runs, (first, second)):
            fields = [tickwatch_e2e.parse_report_line(line) for _, line in recorded.report_lines()]
            self.assertEqual(run["samples"], len(fields))
            last = fields[-1]
            self.assertEqual(run["last_sample"], "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ" % (last["utc"][:6] + (last["ms"],)))
            self.assertEqual((run["missing_samples"], run["steps"]["count"]), (0, 0))
            self.assertEqual(run["adjustment"]["values"],
                             [{"adjustment": 156250, "increment": 156250, "ppm": 0.0, "samples": len(fields)}])
            self.assertAlmostEqual(run["difference_ms"]["sum"], sum(f["difference_ms"] for f in fields), places=4)
        self.assertEqual(runs[1]["first_line"], runs[0]["last_line"] + 1)

        # The Windows build reads the same log to the same summary, and
        # needs no DLL beyond the system's.
        windows_out, windows_err = self.analyze(ANALYZE_WINDOWS, "--json", "clock.log")
        self.assertEqual((windows_out, windows_err), (out, b""))
        headers = subprocess.run([os.environ.get("OBJDUMP", "objdump"), "-p", ANALYZE_WINDOWS], check=True,
                                 capture_output=True, text=True).stdout
        dlls = sorted(line.split(":", 1)[1].strip().lower() for line in headers.splitlines() if "DLL Name:" in line)
        self.assertEqual(dlls, ["kernel32.dll", "msvcrt.dll"])

    def test_the_windows_build_follows_the_log_tickwatch_writes_across_a_rename(self):
        tickwatch = self.start("-o", "clock.log")
        self.assertTrue(tickwatch.wait_for_report_lines(2, timeout=20))
        with open(self.path("analyze.out"), "wb") as out, open(self.path("analyze.err"), "wb") as err:
            analyze = subprocess.Popen([LOADER, ANALYZE_WINDOWS, "--follow", "--interval", "1", "--metrics",
                                        "tickwatch.prom", "clock.log"], cwd=self.dir, env=wine_env(),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        self.addCleanup(lambda: analyze.poll() is None and (analyze.kill(), analyze.wait()))

        def samples_over(count):
            def read():
                try:
                    samples = metric_samples(self.read("tickwatch.prom").decode())
                except OSError:
                    return None
                return samples.get('tickwatch_samples_total{log="clock.log"}', 0) > count
            return read
        wait_for(samples_over(2), 30, "the metrics of the log as it grows")

        # Renamed by a Windows program, as a rotation tool would: possible
        # only because the analyzer holds the log open just while it reads.
        renamed = subprocess.run([LOADER, tickwatch_e2e.HELPER, "rename", "clock.log", "clock.1.log"],
                                 cwd=self.dir, env=wine_env(), capture_output=True, timeout=60)
        self.assertEqual(renamed.returncode, 0, renamed.stdout)
        wait_for(lambda: b"a new file by this name" in self.read("analyze.err"), 30, "the new log noticed")
        in_old_log = len([line for line in tickwatch_e2e.lines_of(self.read("clock.1.log"))
                          if tickwatch_e2e.REPORT_LINE.fullmatch(line)])
        wait_for(samples_over(in_old_log + 1), 30, "the new log read")
        self.assertEqual(tickwatch.interrupt(), 0)
        time.sleep(1)  # a poll or more, for the last lines

        analyze.send_signal(signal.SIGINT)  # Ctrl+C under Wine
        self.assertEqual(analyze.wait(30), 0, self.read("analyze.err"))
        in_new_log = len([line for line in tickwatch_e2e.lines_of(self.read("clock.log"))
                          if tickwatch_e2e.REPORT_LINE.fullmatch(line)])
        out = self.read("analyze.out").replace(b"\r\n", b"\n").decode()
        self.assertRegex(out, r"Z  samples \d+  steps 0  missing \d+  rate [+-]\d+\.\d{3} ppm  ")
        self.assertIn("Total: 2 runs in 1 file\n", out)
        # All the lines of both logs, but for any that reached the old log
        # after the last poll before the rename: at one line a second and
        # four polls a second, one at most.
        total = int(re.search(r"Total: .*\n  samples +(\d+),", out).group(1))
        self.assertIn(total, (in_old_log + in_new_log, in_old_log + in_new_log - 1))
        self.assertEqual(metric_samples(self.read("tickwatch.prom").decode())['tickwatch_samples_total{log="clock.log"}'],
                         total)


if __name__ == "__main__":
    unittest.main()
