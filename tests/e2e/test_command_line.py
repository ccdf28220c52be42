"""The command line of the real program: usage, errors, exit statuses."""

import unittest

from tickwatch_e2e import BANNER, USAGE, TickwatchTestCase, run_to_end

HEAD = b"\r\n" + BANNER + b"\r\n"


class CommandLine(TickwatchTestCase):

    def test_help_and_a_trailing_dash_o_print_the_usage_and_end_with_status_1(self):
        for args in (["-?"], ["-h"], ["-m", "-h"], ["-s", "-q", "-p", "-?"], ["-o"], ["-m", "-o"],
                     ["-o", "run.log", "-h"], ["-l", "-h"]):
            with self.subTest(args=args):
                status, out = run_to_end(args, self.dir)
                self.assertEqual(status, 1)
                self.assertEqual(out, HEAD + USAGE)
        self.assertEqual(self.files(), [], "usage writes no log file")

    def test_unknown_arguments_are_each_reported_then_the_usage(self):
        status, out = run_to_end(["-x", "-L", "--help", "/?", "-lm", "-y"], self.dir)
        self.assertEqual(status, 1)
        messages = b"".join(b"unknown parameter: %s\r\n\r\n" % a for a in (b"-x", b"-L", b"--help", b"/?", b"-lm", b"-y"))
        self.assertEqual(out, HEAD + messages + USAGE)

    def test_an_unknown_argument_is_logged_where_a_log_file_was_named_before_it(self):
        status, out = run_to_end(["-x", "-o", "run.log", "-y"], self.dir)
        self.assertEqual(status, 1)
        self.assertEqual(out, HEAD + b"unknown parameter: -x\r\n\r\nunknown parameter: -y\r\n\r\n" + USAGE)
        self.assertEqual(self.files(), ["run.log"])
        self.assertEqual(self.read("run.log"), b"unknown parameter: -y\r\n\r\n")

    def test_arguments_are_shown_as_given_and_an_overlong_one_cut_short(self):
        status, out = run_to_end(["%s%n%x%p", "x" * 300], self.dir)
        self.assertEqual(status, 1)
        self.assertEqual(out, HEAD + b"unknown parameter: %s%n%x%p\r\n\r\n"
                         + b"unknown parameter: " + b"x" * 235 + b"\r\n\r\n" + USAGE)


if __name__ == "__main__":
    unittest.main()
