"""The command line of the real program: usage, errors, exit statuses."""

import unittest

from tickwatch_e2e import BANNER, USAGE, TickwatchTestCase, run_to_end

HEAD = b"\r\n" + BANNER + b"\r\n"


class CommandLine(TickwatchTestCase):

    def test_help_and_a_trailing_dash_o_print_the_usage_and_end_with_status_1(self):
        for args in (["-?"], ["-h"], ["-m", "-h"], ["-s", "-q", "-p", "-?"], ["-o"], ["-m", "-o"],
                     ["-o", "run.log", "-h"], ["-l", "-h"], ["-s", "-q"] * 300 + ["-?"]):
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

    def test_odd_arguments_are_shown_as_given_and_overlong_ones_cut_short(self):
        # Under a UTF-8 locale Wine hands the program its arguments in code
        # page 1252: here, every character of it above 127.
        high = bytes(b for b in range(0x80, 0x100) if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D))
        for args, shown in (
                ([b"", b"%s%n%x%p", high.decode("cp1252").encode("utf-8")], [b"", b"%s%n%x%p", high]),
                ([b"x" * 300, b"y" * 4096], [b"x" * 235, b"y" * 235]),
                ([b"z" * 32000], [b"z" * 235]),
                ([b"-x%d" % i for i in range(300)], [b"-x%d" % i for i in range(300)])):
            with self.subTest(args=[a[:10] for a in args[:3]], count=len(args)):
                status, out = run_to_end(args, self.dir, LC_ALL="C.UTF-8")
                self.assertEqual(status, 1)
                self.assertEqual(out, HEAD + b"".join(b"unknown parameter: %s\r\n\r\n" % a for a in shown) + USAGE)


if __name__ == "__main__":
    unittest.main()
