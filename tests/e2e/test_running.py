"""The real program running: a report line a second until Ctrl+C."""

import calendar
import time
import unittest

from tickwatch_e2e import REPORT_LINE, START, TickwatchTestCase, lines_of, parse_report_line


def sample_time(line):
    """When the report line's sample was taken, in seconds since 1970."""
    fields = parse_report_line(line)
    return calendar.timegm(fields["utc"]) + fields["ms"] / 1000


class Running(TickwatchTestCase):

    def check_report_lines(self, run, count):
        """The run's report lines: well formed, in UTC, a second apart."""
        lines = run.report_lines()
        self.assertGreaterEqual(len(lines), count)
        arrivals = [t for t, _ in lines]
        fields = [parse_report_line(line) for _, line in lines]
        for f in fields:
            # Wine keeps the system clock on time: no marks, no adjustment.
            self.assertAlmostEqual(f["system_ms"], 1000, delta=150)
            self.assertAlmostEqual(f["counter_ms"], 1000, delta=150)
            self.assertLess(abs(f["difference_ms"]), 20)
            self.assertFalse(f["marked"])
            self.assertEqual((f["adjustment"], f["offset"]), (156250, 0))
        # The time shown is UTC: the line for the last sample was printed
        # just now.
        last = fields[-1]
        shown = calendar.timegm(last["utc"]) + last["ms"] / 1000
        self.assertLess(abs(shown - time.time() + (time.monotonic() - arrivals[-1])), 3)
        # Lines come out as they are written, about a second apart.
        for earlier, later in zip(arrivals, arrivals[1:]):
            self.assertAlmostEqual(later - earlier, 1.0, delta=0.5)
        return fields

    def test_prints_the_banner_then_a_report_line_a_second_until_ctrl_c(self):
        run = self.run_for_lines(3)
        self.check_report_lines(run, 3)
        self.assert_console(run, START)
        self.assertEqual(self.files(), [], "no log file without -o or -l")

    def test_dash_s_paces_with_sleep(self):
        run = self.run_for_lines(3, "-s")
        fields = self.check_report_lines(run, 3)
        for f in fields:
            self.assertGreaterEqual(f["counter_ms"], 999.0, "a full second's sleep, and then some")

    def test_dash_q_reads_the_counter_first_and_reports_the_same(self):
        run = self.run_for_lines(2, "-q")
        self.check_report_lines(run, 2)

    def test_each_line_reaches_a_pipe_and_a_file_within_its_second(self):
        piped = self.start()
        with open(self.path("console.txt"), "wb") as console:
            to_file = self.start(stdout=console)
        in_file = []  # (when first seen, line)
        deadline = time.monotonic() + 15
        while len(in_file) < 3 and time.monotonic() < deadline:
            lines = [line for line in lines_of(self.read("console.txt")) if REPORT_LINE.fullmatch(line)]
            in_file += [(time.time(), line) for line in lines[len(in_file):]]
            time.sleep(0.02)
        self.assertTrue(piped.wait_for_report_lines(3, timeout=5))
        wall_clock = time.time() - time.monotonic()
        in_pipe = [(wall_clock + t, line) for t, line in piped.report_lines()]
        for run in (piped, to_file):
            self.assertEqual(run.interrupt(), 0)
        for where, seen in (("pipe", in_pipe), ("file", in_file)):
            self.assertGreaterEqual(len(seen), 3, where)
            for arrival, line in seen:
                self.assertLess(arrival - sample_time(line), 0.5, "%s: %r came late" % (where, line))

    def test_ctrl_c_right_after_the_banner_still_ends_with_status_0(self):
        # After the banner: a SIGINT while Wine still loads its own DLLs can
        # hang Wine itself, before any of tickwatch's code (docs/robustness.md).
        run = self.start()
        self.assertTrue(run.wait_for_report_lines(1, timeout=15, only_report_lines=False))
        self.assertEqual(run.interrupt(), 0)


if __name__ == "__main__":
    unittest.main()
