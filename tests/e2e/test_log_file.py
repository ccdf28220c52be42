"""The log file of the real program: its name, its bytes, its failures."""

import os
import re
import time
import unittest

from tickwatch_e2e import START, TickwatchTestCase


class LogFile(TickwatchTestCase):

    def check_log_matches_console(self, run, log):
        """The log holds exactly what the console shows after its first empty
        line and the banner, CRLF-terminated."""
        console = run.output
        self.assertTrue(console.startswith(b"\r\n"))
        self.assertEqual(log, console[2:])
        self.assertTrue(log.startswith(START[2:]))
        self.assertTrue(log.endswith(b"\r\n"))
        self.assertNotIn(b"\n", log.replace(b"\r\n", b""), "every line ends in CR LF")

    def test_dash_o_appends_to_the_named_file_keeping_what_was_there(self):
        old = b"an earlier run\r\nwithout a final line break"
        with open(self.path("run.log"), "wb") as f:
            f.write(old)
        run = self.run_for_lines(2, "-o", "run.log")
        log = self.read("run.log")
        self.assertTrue(log.startswith(old))
        self.check_log_matches_console(run, log[len(old):])

    def test_dash_l_names_the_log_after_the_current_time(self):
        before = int(time.time())
        run = self.run_for_lines(2, "-l")
        after = int(time.time())
        self.assertEqual(len(self.files()), 1)
        name = self.files()[0]
        self.assertRegex(name, r"^[0-9a-f]{8}\.txt$")
        self.assertTrue(before - 1 <= int(name[:8], 16) <= after + 1, name)
        self.check_log_matches_console(run, self.read(name))

    def test_the_last_log_option_decides(self):
        run = self.run_for_lines(1, "-l", "-o", "named.log")
        self.assertEqual(self.files(), ["named.log"])
        self.check_log_matches_console(run, self.read("named.log"))

    def test_a_log_that_cannot_be_written_leaves_the_console_as_it_is(self):
        os.mkdir(self.path("a directory"))
        for name in ("no such dir/run.log", "a directory"):
            with self.subTest(name=name):
                run = self.run_for_lines(2, "-o", name)
                self.assert_console(run, START)
        self.assertEqual(self.files(), ["a directory"])

    def test_a_deleted_log_is_made_anew_by_the_next_line(self):
        run = self.start("-o", "run.log")
        self.assertTrue(run.wait_for_report_lines(1, timeout=15))
        os.rename(self.path("run.log"), self.path("moved.log"))
        count = len(run.report_lines())
        self.assertTrue(run.wait_for_report_lines(count + 2, timeout=15))
        self.assertEqual(run.interrupt(), 0)
        moved, log = self.read("moved.log"), self.read("run.log")
        self.assertEqual(moved + log, run.output[2:], "nothing lost, nothing twice")
        self.assertTrue(re.fullmatch(rb"(\d{4}-.*\r\n)+", log), log)


if __name__ == "__main__":
    unittest.main()
