"""Ending the real program at any moment: Ctrl+C at random points of its
start-up and of its loop, and Ctrl+Break from another program.

Set STRESS_SEED to repeat a run of the Ctrl+C test exactly, STRESS_RUNS to
change the number of runs."""

import collections
import fcntl
import os
import random
import re
import signal
import subprocess
import sys
import time
import unittest

from tickwatch_e2e import (BANNER, EXE, HELPER, LOADER, MM_TIMER, NOTE, REPORT_LINE, TickwatchTestCase, lines_of,
                           timer_period_calls, whole_crlf_lines, wine_env)

SEED = int(os.environ.get("STRESS_SEED", "20240305"))
RUNS = int(os.environ.get("STRESS_RUNS", "50"))
AT_ONCE = 5  # runs under way together

# The console of a run with -m and -o, line by line, up to its report lines.
HEAD = lines_of(b"\r\n" + BANNER + b"\r\n" + NOTE + MM_TIMER + b"\r\n")
# What it shows before tickwatch has installed its console control handler.
BANNER_SHOWN = b"\r\n" + BANNER + b"\r\n"
# The trace (WINEDEBUG fixme+console) when Wine's own handler ends a process
# that has none of its own.
WINE_DEFAULT_HANDLER = b"default_ctrl_handler Terminating process"
# What Wine says when it crashes, with status -11 (SIGSEGV).
WINE_PAGE_FAULT = b"Unhandled page fault"
# The relay trace's line for the exe's entry point, which Wine starts with the
# address of the process environment block (a Ctrl+C thread starts with 0).
ENTRY_POINT_STARTED = re.compile(rb"Starting thread proc [0-9A-F]+ \(arg=0*[1-9A-F][0-9A-F]*\)")


class Interruption(TickwatchTestCase):

    def check_interrupted_run(self, status, console, log, trace):
        """What must hold of a run with -m and -o that Ctrl+C ended at any
        moment; returns (how it ended, whether the timer period was raised,
        the faults found).

        Before tickwatch has installed its handler, Wine ends the process:
        SIGINT kills it before Wine handles signals at all; later, Wine's
        default handler ends it with status 0 (as Windows does, with status
        STATUS_CONTROL_C_EXIT), and then its run-time, flushing the output at
        the end of the process, may write the banner line a second time. The
        console shows the banner at most, there is no log and the timer
        period is untouched.

        From then on tickwatch's handler ends it, with status 0:
        - the console is whole CR LF lines: the start-up lines in their order,
          then report lines;
        - the log holds exactly the console's lines after its first empty line
          (the handler waits for a line in progress, console and log alike),
          or does not exist yet, when the console shows the banner at most;
        - the timer period is withdrawn if and only if it was raised, and it
          was raised if the console says so.
        """
        faults = []
        lines = lines_of(console)
        calls = timer_period_calls(trace)
        if status == -signal.SIGINT or WINE_DEFAULT_HANDLER in trace:
            ended = "killed by SIGINT" if status == -signal.SIGINT else "by Wine's handler"
            if console not in (b"", b"\r\n", BANNER_SHOWN, BANNER_SHOWN * 2) or log is not None or calls:
                faults.append("Wine ended it, yet it got past the banner: %r" % console)
            if status == -signal.SIGINT and console:
                faults.append("killed by SIGINT after it printed %r" % console)
            return ended, False, faults

        ended = "after a report line" if len(lines) > len(HEAD) else "in start-up"
        if status != 0:
            faults.append("status %d" % status)
        if not whole_crlf_lines(console):
            faults.append("a console line is torn or not CR LF-terminated: %r" % console[-300:])
        if lines[:len(HEAD)] != HEAD[:len(lines)] or not all(REPORT_LINE.fullmatch(l) for l in lines[len(HEAD):]):
            faults.append("the console is not the start-up lines, then report lines: %r" % console[-300:])
        if log is None:
            if len(lines) > len(lines_of(BANNER_SHOWN)):
                faults.append("no log, yet the console went past the banner")
        elif b"\r\n" + log != console:
            faults.append("the log differs from the console: %r" % log[-300:])
        if calls not in ([], [("timeBeginPeriod", 1), ("timeEndPeriod", 1)]):
            faults.append("timer-period calls %r" % calls)
        if MM_TIMER in lines and not calls:
            faults.append("the console reports a raised period that was not raised")
        return ended, bool(calls), faults

    @staticmethod
    def stuck_in_wine_start_up(console, log, trace):
        """Whether a run that did not end never got as far as the exe's entry
        point. A SIGINT while Wine initialises its own DLLs (user32's process
        attach, some 35 ms after the start) can leave the process hung for
        good: Wine starts the Ctrl+C thread from inside the signal handler,
        re-entering the C library's malloc that the signal interrupted
        ("Fatal glibc error: malloc assertion failure" in the trace, then a
        deadlock on the malloc lock). tickwatch's code has not run then; any
        run that got further and did not end is a fault."""
        return console == b"" and log is None and not ENTRY_POINT_STARTED.search(trace)

    def test_ctrl_c_at_random_moments_ends_every_run_whole_with_status_0(self):
        rng = random.Random(SEED)
        # Start-up takes about 0.1 s under Wine: a third of the runs end
        # within it, the rest anywhere in the first three report lines.
        delays = [rng.uniform(0, 0.15) if rng.random() < 1 / 3 else rng.uniform(0.15, 3.2) for _ in range(RUNS)]
        env = wine_env(WINEDEBUG="-all,+relay,fixme+console")
        endings, raised, faults = collections.Counter(), 0, []
        # A run that crashes as Wine does (its Ctrl+C thread made within the
        # signal handler, in the malloc the signal interrupted) runs once
        # more at the same moment, in a batch of its own.
        batches, retried = [range(first, min(first + AT_ONCE, RUNS)) for first in range(0, RUNS, AT_ONCE)], set()
        for numbers in batches:
            batch = []
            for i in numbers:
                directory = self.path("run%02d%s" % (i, "-again" if i in retried else ""))
                os.mkdir(directory)
                with open(os.path.join(directory, "trace"), "wb") as trace:
                    run = self.start("-m", "-o", "run.log", cwd=directory, stderr=trace, env=env)
                batch.append((i, directory, run, time.monotonic() + delays[i]))
            for i, directory, run, due in sorted(batch, key=lambda b: b[3]):
                time.sleep(max(0.0, due - time.monotonic()))
                run.process.send_signal(signal.SIGINT)
            for i, directory, run, _ in batch:
                status = run.end_within(20)
                log_path = os.path.join(directory, "run.log")
                log = self.read(log_path) if os.path.exists(log_path) else None
                with open(os.path.join(directory, "trace"), "rb") as trace_file:
                    trace = trace_file.read()
                if status is not None:
                    ended, run_raised, run_faults = self.check_interrupted_run(status, run.output, log, trace)
                elif self.stuck_in_wine_start_up(run.output, log, trace):
                    ended, run_raised, run_faults = "hung in Wine's start-up", False, []
                else:
                    ended, run_raised, run_faults = "never", False, ["did not end within 20 s: %r" % run.output[-300:]]
                if run_faults and (status == -signal.SIGSEGV or WINE_PAGE_FAULT in trace):
                    if i not in retried:
                        retried.add(i)
                        batches.append([i])
                        continue
                    run_faults = ["Wine's crash, twice: %s" % f for f in run_faults]
                endings[ended] += 1
                raised += run_raised
                faults += ["run %d (Ctrl+C after %.3f s): %s" % (i, delays[i], f) for f in run_faults]

        arch = os.path.basename(os.path.dirname(EXE))
        print("\nfigures: Ctrl+C stress under Wine, %s, seed %d: %d runs, Ctrl+C after %.3f..%.3f s: ended %s; timer period raised "
              "(and withdrawn) in %d; faults: %d" % (
                  arch, SEED, RUNS, min(delays), max(delays),
                  ", ".join("%d %s" % (endings[e], e) for e in (
                      "killed by SIGINT", "by Wine's handler", "hung in Wine's start-up", "in start-up",
                      "after a report line")),
                  raised, len(faults)) + "; crashed in Wine and run again: %d" % len(retried), file=sys.stderr)
        self.assertEqual(faults, [], "\n".join(faults))

    def test_ctrl_c_ends_a_run_whose_output_nobody_reads(self):
        # Standard output is a pipe that nobody reads, as small as a pipe can
        # be, and full but for the start-up lines: the first report line waits
        # in the middle, holding the output lock. Ctrl+C ends the run all the
        # same (after about 2 s), with status 0 and the timer period withdrawn.
        head = b"".join(HEAD)
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
        os.write(write_end, b"x" * (fcntl.fcntl(write_end, fcntl.F_GETPIPE_SZ) - len(head) - 10))
        with open(self.path("trace"), "wb") as trace:
            run = self.start("-m", "-o", "run.log", stdout=write_end, stderr=trace,
                             env=wine_env(WINEDEBUG="-all,+relay"))
        os.close(write_end)
        deadline = time.monotonic() + 15
        while (not os.path.exists(self.path("run.log")) or self.read("run.log") != head[2:]) and \
                time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(self.read("run.log"), head[2:], "the start-up lines")
        time.sleep(1.5)  # the first report line is due, and waits
        self.assertIsNone(run.process.poll())
        interrupted = time.monotonic()
        run.process.send_signal(signal.SIGINT)
        self.assertEqual(run.finish(timeout=15), 0)
        self.assertEqual(self.read("run.log"), head[2:], "the line that waited is not logged")
        self.assertEqual(timer_period_calls(self.read("trace")), [("timeBeginPeriod", 1), ("timeEndPeriod", 1)])
        print("\nfigures: Ctrl+C with standard output full under Wine, %s: ended %.1f s later" % (
            os.path.basename(os.path.dirname(EXE)), time.monotonic() - interrupted), file=sys.stderr)

    def test_ctrl_break_from_another_program(self):
        # The helper starts tickwatch in a process group of its own that
        # shares the helper's console, and sends that group Ctrl+Break. Its
        # output goes to files, so that only its own end is waited for, not
        # that of whatever Wine starts for its console.
        with open(self.path("console"), "wb") as console, open(self.path("report"), "wb") as report:
            helper = subprocess.Popen([LOADER, HELPER, "break", "2500", EXE, "-m", "-o", "run.log"], cwd=self.dir,
                                      env=wine_env(), stdin=subprocess.DEVNULL, stdout=console, stderr=report)
        self.addCleanup(helper.kill)
        try:
            self.assertEqual(helper.wait(60), 0)
        except subprocess.TimeoutExpired:
            self.fail("the helper did not end; it said %r" % self.read("report"))
        report, console = self.read("report").decode(errors="replace"), self.read("console")
        if "break: delivered" not in report:
            # Wine sends only Ctrl+C through a console; GenerateConsoleCtrlEvent
            # fails for Ctrl+Break, and the helper has to stop tickwatch.
            self.assertIn("probe: delivered", report, "the helper has a console that passes events on")
            self.assertIn("stopped", report)
            self.skipTest("this Wine passes Ctrl+C on through a console, but not Ctrl+Break (GenerateConsoleCtrlEvent "
                          "%s)" % report.split("break: ")[1].splitlines()[0])
        self.assertIn("exit code 0", report)
        self.assertTrue(whole_crlf_lines(console), console)
        self.assertEqual(b"\r\n" + self.read("run.log"), console)


if __name__ == "__main__":
    unittest.main()
