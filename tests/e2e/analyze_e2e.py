"""What the tests of tickwatch-analyze share: its builds, logs written as
tickwatch writes them, and a test case that runs it and checks its exit.

  ANALYZE_EXE          the host build of tickwatch-analyze
  ANALYZE_WINDOWS_EXE  the Windows build beside TICKWATCH_EXE (test_analyze_recorded)
  NODE_EXPORTER        node_exporter (test_analyze_follow; Debian's prometheus-node-exporter)
  PROMTOOL             promtool (test_analyze_metrics; Debian's prometheus)
"""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from tickwatch_e2e import ROOT, project_version

ANALYZE = os.environ.get("ANALYZE_EXE", os.path.join(ROOT, "build", "host", "tickwatch-analyze"))
ANALYZE_WINDOWS = os.environ.get("ANALYZE_WINDOWS_EXE", "")
SVG = "{http://www.w3.org/2000/svg}"
NODE_EXPORTER = os.environ.get("NODE_EXPORTER", "/usr/bin/prometheus-node-exporter")


def report_line_format():
    """tickwatch's own report-line format, which Python's % reads as C does."""
    with open(os.path.join(ROOT, "clock", "log_format.h")) as f:
        return re.search(r'#define REPORT_LINE_FORMAT "(.*)"', f.read()).group(1)


FORMAT = report_line_format()
BANNER = "Kestivar TICKWATCH v" + project_version()
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

    def run(self, samples, at=None, banner=True, **figures):
        """A run: tickwatch's banner, then samples a second apart from at (or
        from the last); returns their times."""
        if banner:
            self.add(BANNER, "")
        return [self.sample(at=at if i == 0 else None, **figures) for i in range(samples)]

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

    def read(self, name):
        with open(self.path(name), encoding="utf-8") as f:
            return f.read()

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def analyze(self, *args, status=0, stdin=None, timeout=120, cwd=None):
        """Runs tickwatch-analyze; returns (stdout, stderr), checked for the
        exit status and for no sanitizer report."""
        done = subprocess.run([ANALYZE] + list(args), input=stdin, capture_output=True, timeout=timeout, cwd=cwd)
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
