"""-p and -m on the real program: the time source and the timer resolution."""

import unittest

from tickwatch_e2e import BANNER, MM_TIMER, TickwatchTestCase

USING_PRECISE = b"Using GetSystemTimePreciseAsFileTime API\r\n\r\n"


class StartOptions(TickwatchTestCase):

    def test_dash_p_uses_the_precise_function(self):
        run = self.run_for_lines(2, "-p")
        self.assert_console(run, b"\r\n" + BANNER + b"\r\n" + USING_PRECISE + b"\r\n")

    def test_dash_m_raises_the_timer_resolution_and_ctrl_c_still_ends_with_status_0(self):
        run = self.run_for_lines(2, "-m", "-p")
        self.assert_console(run, b"\r\n" + BANNER + b"\r\n" + USING_PRECISE + MM_TIMER + b"\r\n")

    def test_the_log_holds_the_same_lines_after_the_banner(self):
        run = self.run_for_lines(2, "-p", "-m", "-o", "run.log")
        log = self.read("run.log")
        self.assertTrue(log.startswith(BANNER + b"\r\n" + USING_PRECISE + MM_TIMER + b"\r\n"), log)
        self.assertEqual(b"\r\n" + log, run.output)


if __name__ == "__main__":
    unittest.main()
