"""Logs that the real tickwatch.exe records under Wine, read by the host and the
Windows builds of tickwatch-analyze."""

import json
import os
import re
import shutil
import signal
import subprocess
import time
import unittest

import tickwatch_e2e
from tickwatch_e2e import LOADER, ROOT, TickwatchTestCase, wine_env
from analyze_e2e import ANALYZE, ANALYZE_WINDOWS, metric_samples, wait_for


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

        # --check, as a Windows monitoring agent runs it: the host's line and state.
        checks = [subprocess.run(([LOADER] if exe.endswith(".exe") else []) + [exe, "--check", "clock.log"],
                                 cwd=self.dir, env=wine_env(), capture_output=True, timeout=60)
                  for exe in (ANALYZE, ANALYZE_WINDOWS)]
        self.assertIn(checks[0].stdout[:12], (b"TICKWATCH OK", b"TICKWATCH WA", b"TICKWATCH CR"))
        self.assertEqual([(c.returncode, c.stdout.replace(b"\r\n", b"\n")) for c in checks][1], (checks[0].returncode,
                                                                                              checks[0].stdout))

    def test_both_builds_draw_the_same_report(self):
        # The docs' log, whose charts have coordinates at a rounding tie: the
        # powers of ten their scales are made of must be the same bits.
        shutil.copy(os.path.join(ROOT, "docs", "clock.log"), self.dir)
        for exe, html in ((ANALYZE, "host.html"), (ANALYZE_WINDOWS, "windows.html")):
            self.analyze(exe, "--html", html, "--svg", html + ".svg", "clock.log")
        for name in ("%s", "%s.svg"):
            with open(os.path.join(self.dir, name % "host.html"), "rb") as host, \
                 open(os.path.join(self.dir, name % "windows.html"), "rb") as windows:
                self.assertEqual(windows.read(), host.read(), name % "windows.html")

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
