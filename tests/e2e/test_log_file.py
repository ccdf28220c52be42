"""The log file of the real program: its name, its bytes, its failures."""

import os
import re
import subprocess
import time
import unittest

from tickwatch_e2e import HELPER, LOADER, REPORT_LINE, START, TickwatchTestCase, lines_of, wine_env


def report_lines_only(data):
    return bool(data) and all(REPORT_LINE.fullmatch(line) for line in lines_of(data))


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
        old = b"an earlier run\r\n" * 300000 + b"without a final line break"  # 4.8 MB
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
        for name in ("no such dir/run.log", "a directory", "/dev/full"):  # the last takes no byte
            with self.subTest(name=name):
                run = self.run_for_lines(2, "-o", name)
                self.assert_console(run, START)
        self.assertEqual(self.files(), ["a directory"])

    def test_names_at_and_beyond_the_path_limits(self):
        # The longest full name that MAX_PATH (260, with the final zero) holds,
        # and one character more: Wine takes both. A name beyond the file
        # system's 255 bytes, or a 32000-character one, makes no file.
        room = 259 - len("Z:" + self.dir + "/")
        for name, logged in (("a" * room, True), ("b" * (room + 1), True), ("c" * 256, False), ("d" * 32000, False)):
            with self.subTest(length=len(name)):
                run = self.run_for_lines(1, "-o", name)
                self.assert_console(run, START)
                if logged:
                    self.check_log_matches_console(run, self.read(name))
                else:
                    self.assertNotIn(name, self.files())

    def test_a_log_renamed_then_deleted_while_running_is_made_anew_by_the_next_line(self):
        run = self.start("-o", "run.log")
        self.assertTrue(run.wait_for_report_lines(1, timeout=15))
        os.rename(self.path("run.log"), self.path("moved.log"))
        self.assertTrue(run.wait_for_report_lines(3, timeout=15))
        time.sleep(0.3)  # the third line is in the new file, not on its way there
        os.remove(self.path("run.log"))
        self.assertTrue(run.wait_for_report_lines(5, timeout=15))
        self.assertEqual(run.interrupt(), 0)
        self.assert_console(run, START)
        console, moved, log = run.output[2:], self.read("moved.log"), self.read("run.log")
        # The renamed file kept its lines, the deleted one took the next ones
        # with it, and the new one has the rest.
        self.assertTrue(console.startswith(moved) and moved.startswith(START[2:]), moved)
        self.assertTrue(console.endswith(log) and report_lines_only(log), log)
        self.assertTrue(report_lines_only(console[len(moved):len(console) - len(log)]), "deleted lines")

    def test_a_log_held_open_without_sharing_is_skipped_until_it_is_released(self):
        holder = subprocess.Popen([LOADER, HELPER, "hold", "run.log"], cwd=self.dir, env=wine_env(),
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline(), b"held\r\n")
        run = self.start("-o", "run.log")
        self.assertTrue(run.wait_for_report_lines(2, timeout=15))
        self.assertEqual(self.read("run.log"), b"", "nothing got in while it was held")
        holder.stdin.close()
        self.assertEqual(holder.stdout.readline(), b"released\r\n")
        self.assertEqual(holder.wait(10), 0)
        self.assertTrue(run.wait_for_report_lines(len(run.report_lines()) + 2, timeout=15))
        self.assertEqual(run.interrupt(), 0)
        self.assert_console(run, START)
        log = self.read("run.log")
        self.assertTrue(run.output.endswith(log) and report_lines_only(log), log)
        self.assertGreaterEqual(len(lines_of(log)), 2, "the lines after the release are appended")

if __name__ == "__main__":
    unittest.main()
