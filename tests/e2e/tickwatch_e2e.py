"""Runs the real tickwatch.exe under Wine, the way a user does, for the
end-to-end tests: what it prints, what it logs, how it ends.

The environment names the program and how to run it:
  TICKWATCH_EXE   the tickwatch.exe to test
  TEST_HELPER     test_helper.exe of the same build (tests/windows)
  WINE_LOADER     the Wine loader for its architecture (wine or wine64)
  WINEPREFIX      a Wine prefix made for this test run (wine_prefix.sh)
"""

import os
import random
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
EXE = os.environ.get("TICKWATCH_EXE", "")
HELPER = os.environ.get("TEST_HELPER", "")
LOADER = os.environ.get("WINE_LOADER", "wine")


def project_version():
    """The version where it is set: CMake's project(VERSION), MAJOR.MINOR."""
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(tickwatch VERSION (\S+)", f.read()).group(1)


BANNER = b"Kestivar TICKWATCH v" + project_version().encode()

# Wine has GetSystemTimePreciseAsFileTime, so a run without -p points it out.
NOTE = b"Note: GetSystemTimePreciseAsFileTime API is also available, use -p\r\n\r\n"

# What the console shows of a run without options before its report lines.
START = b"\r\n" + BANNER + b"\r\n" + NOTE + b"\r\n"

# Wine's timer device: 1..65535 ms.
MM_TIMER = b"MM timer resolution: 1..65535 ms, set to 1 ms\r\n"

USAGE = (
    b"\r\nusage:\r\n\r\ntickwatch [options]\r\n\r\nwith the optional parameters:\r\n\r\n"
    b"  -l        Log output to a file nnnnnnnn.txt, where\r\n"
    b"            nnnnnnnn is a hexadecimal representation of\r\n"
    b"            the current time in seconds since 1970\r\n\r\n"
    b"  -o fname  Log output to file named fname\r\n\r\n"
    b"  -m        Set Windows multimedia timers to highest resolution\r\n"
    b"            while running\r\n"
    b"  -q        Sample QueryPerformanceCounter before time\r\n"
    b"  -s        Use Sleep() instead of CreateWaitableTimer()\r\n"
    b"  -p        Use GetSystemTimePreciseAsFileTime() if supported\r\n\r\n"
)

REPORT_LINE = re.compile(
    rb"(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.0(\d{3}): "
    rb"([ \d.-]{9,}) ([ \d.-]{9,}) ([ +\d.-]{9,})  (-?\d+) \(([+-]\d+)\) (><)?\r\n")


def parse_report_line(line):
    """The fields of a report line (with its CRLF), or None if it is not one."""
    match = REPORT_LINE.fullmatch(line)
    if not match:
        return None
    g = match.groups()
    return {
        "utc": time.struct_time((int(g[0]), int(g[1]), int(g[2]), int(g[3]), int(g[4]), int(g[5]), 0, 0, 0)),
        "ms": int(g[6]),
        "system_ms": float(g[7]),
        "counter_ms": float(g[8]),
        "difference_ms": float(g[9]),
        "adjustment": int(g[10]),
        "offset": int(g[11]),
        "marked": g[12] is not None,
    }


def wine_env(**settings):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.pop("DISPLAY", None)
    env.update(settings)
    return env


def lines_of(data):
    """data split after each LF; a last line without one is kept as it is."""
    return data.splitlines(keepends=True)


def whole_crlf_lines(data):
    """True when every line of data ends in CR LF and holds no other CR or LF."""
    return all(line.endswith(b"\r\n") and b"\r" not in line[:-2] and b"\n" not in line[:-2]
               for line in lines_of(data))


# With WINEDEBUG=+relay, Wine traces the calls that wine_prefix.sh named:
# timeBeginPeriod and timeEndPeriod, as "Call winmm.timeBeginPeriod(00000001)".
TIMER_CALL = re.compile(rb"Call winmm\.(timeBeginPeriod|timeEndPeriod)\(([0-9a-f]+)\)")


def timer_period_calls(trace):
    """The timer-period calls in a relay trace: [(name, period)], in order."""
    return [(name.decode(), int(period, 16)) for name, period in TIMER_CALL.findall(trace)]


class Run:
    """A tickwatch process, its console lines read as they arrive (or, given
    a file for stdout, written there)."""

    def __init__(self, args, cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=None):
        self.process = subprocess.Popen([LOADER, EXE] + list(args), cwd=cwd, env=env or wine_env(),
                                        stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
        self.lines = []  # (arrival time, bytes of the line with its CRLF)
        self.output = b""
        self._arrived = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        if stdout == subprocess.PIPE:
            self._reader.start()

    def _read(self):
        for line in iter(self.process.stdout.readline, b""):
            with self._arrived:
                self.lines.append((time.monotonic(), line))
                self.output += line
                self._arrived.notify_all()
        with self._arrived:
            self._arrived.notify_all()

    def report_lines(self):
        with self._arrived:
            return [(t, line) for t, line in self.lines if REPORT_LINE.fullmatch(line)]

    def wait_for_report_lines(self, count, timeout, only_report_lines=True):
        """Waits until count report lines (or lines of any kind) have
        arrived; False on time-out or if the program ended first."""
        deadline = time.monotonic() + timeout
        with self._arrived:
            while len([1 for _, line in self.lines if REPORT_LINE.fullmatch(line) or not only_report_lines]) < count:
                left = deadline - time.monotonic()
                if left <= 0 or (self.process.poll() is not None and not self._reader.is_alive()):
                    return False
                self._arrived.wait(min(left, 0.2))
        return True

    def interrupt(self):
        """Ctrl+C: SIGINT to the program's own Wine process, 200 to 400 ms
        after a line arrived, while tickwatch waits for its next second: not
        when Wine's handler can crash Wine itself (docs/robustness.md)."""
        delay = random.uniform(0.2, 0.4)
        deadline = time.monotonic() + 3
        with self._arrived:
            while self.lines and time.monotonic() < deadline:
                since = time.monotonic() - self.lines[-1][0]
                if delay <= since <= 0.4:
                    break
                count = len(self.lines)
                # Too soon: wait out the delay; too late: for the next line.
                self._arrived.wait(delay - since if since < delay else 1.5)
                if len(self.lines) == count and since > 0.4 and self.process.poll() is not None:
                    break
        self.process.send_signal(signal.SIGINT)
        return self.finish()

    def finish(self, timeout=20):
        status = self.end_within(timeout)
        if status is None:
            raise AssertionError("tickwatch did not end")
        return status

    def end_within(self, timeout):
        """The status once the program has ended, or None if it has not
        within timeout seconds: then it is killed."""
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            status = None
        if self._reader.is_alive():
            self._reader.join(5)
        return status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def run_to_end(args, cwd, timeout=30, **settings):
    """Runs tickwatch where it ends by itself, with these environment
    settings; returns (status, stdout)."""
    done = subprocess.run([LOADER, EXE] + list(args), cwd=cwd, env=wine_env(**settings), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    return done.returncode, done.stdout


class TickwatchTestCase(unittest.TestCase):
    """Each test gets a directory of its own to run in."""

    def setUp(self):
        if not os.path.isfile(EXE):
            self.fail("no program to test at TICKWATCH_EXE=%r: build the win32 and win64 presets first" % EXE)
        self.dir = tempfile.mkdtemp(prefix="tickwatch-e2e-")
        self.runs = []

    def tearDown(self):
        for run in self.runs:
            run.kill()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self, *args, cwd=None, **options):
        run = Run(args, cwd or self.dir, **options)
        self.runs.append(run)
        return run

    def path(self, name):
        return os.path.join(self.dir, name)

    def files(self):
        return sorted(os.listdir(self.dir))

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def assert_console(self, run, head):
        """The console shows head, then report lines only."""
        self.assertTrue(run.output.startswith(head), run.output)
        self.assertEqual(run.output, head + b"".join(line for _, line in run.report_lines()), "nothing else")

    def run_for_lines(self, count, *args):
        """Runs tickwatch until count report lines are out, then presses
        Ctrl+C; returns the run, checked to have ended with status 0."""
        run = self.start(*args)
        self.assertTrue(run.wait_for_report_lines(count, timeout=count + 15),
                        "no %d report lines; got %r" % (count, run.output))
        self.assertEqual(run.interrupt(), 0, run.output)
        return run
