"""tickwatch-analyze on bad input: files it cannot read, outputs that are logs,
failed runs, pipes, lines not understood, the usage and the manual page."""

import os
import random
import re
import shutil
import signal
import subprocess
import threading

from analyze_e2e import ROOT, ANALYZE, project_version, FORMAT, BANNER, T0, Log, AnalyzeTestCase, crafted_log, wait_for


class BadInput(AnalyzeTestCase):

    def test_files_that_cannot_be_used_are_named_with_the_reason(self):
        os.mkdir(self.path("dir"))
        _, err = self.analyze(self.path("nosuch.log"), status=2)
        self.assertIn("%s: cannot read: No such file or directory" % self.path("nosuch.log"), err)
        _, err = self.analyze(self.path("dir"), status=2)
        self.assertIn("%s: cannot read: it is a directory" % self.path("dir"), err)
        out, err = self.analyze(self.write("clock.log", crafted_log()[0].bytes()), "--csv",
                                self.path("nosuch/clock.csv"), status=2)
        self.assertIn("nosuch/clock.csv: cannot write: No such file or directory", err)
        self.assertEqual(out, "", "nothing read when an output cannot be written")
        _, err = self.analyze(self.write("empty.log", b""), status=2)
        self.assertIn("empty.log: no report lines in it\n", err)
        garbage = random.Random(6).randbytes(200_000)
        out, err = self.analyze(self.write("garbage.bin", garbage), "--svg", self.path("g.svg"), status=2)
        self.assertEqual(out, "", "no summary of nothing")
        self.assertIn("garbage.bin: no report lines in it: binary data, not a tickwatch log?", err)
        self.assertRegex(err, r"garbage\.bin: \d+ lines not understood, the first 5 named above")
        self.assertEqual(len(re.findall(r"garbage\.bin:\d+: not a report line", err)), 5)
        self.assertFalse(os.path.exists(self.path("g.svg")), "a run that fails writes no output")

    def test_a_log_as_windows_keeps_it_gives_the_same_summary(self):
        data = open(os.path.join(ROOT, "docs", "clock.log"), "rb").read()
        expected, _ = self.analyze(self.write("clock.log", data))
        text = data.decode()
        for name, encoded in (("utf16.log", b"\xff\xfe" + text.encode("utf-16-le")),
                              ("cr.log", data.replace(b"\r\n", b"\r"))):
            out, _ = self.analyze(self.write(name, encoded))
            self.assertEqual(out.replace(self.path(name), self.path("clock.log")), expected, name)
        _, err = self.analyze(self.write("nomark.log", text.encode("utf-16-le")), status=2)
        self.assertIn("nomark.log: no report lines in it: UTF-16 without a byte order mark?", err)

    def test_control_characters_in_a_name_never_reach_the_terminal(self):
        log = self.write("a\x1b[2J\nRun 9: \x9b.log", crafted_log()[0].bytes() + b"garbage\r\n")
        out, err = self.analyze(log, log)
        shown = "%s/a\\x1B[2J\\x0ARun 9: \\xC2\\x9B.log" % self.dir
        self.assertIn("Run 1: %s, lines 1 to " % shown, out)
        self.assertIn("  file 2: %s\n" % shown, out)
        # The messages about its lines too, and a problem named in --check's line.
        self.assertIn("tickwatch-analyze: %s:%d: not a report line" % (shown, len(crafted_log()[0].lines) + 1), err)
        _, err = self.analyze(log, log + "\x1b", status=2)
        self.assertIn("tickwatch-analyze: %s\\x1B: cannot read: " % shown, err)
        check, _ = self.analyze("--check", log + "\x1b", status=3)
        self.assertIn(shown + "\\x1B: cannot read", check)
        for text in (out, err, check):
            self.assertNotRegex(text, "[\x00-\x09\x0b-\x1f\x7f\x80-\x9f]")

    def test_a_system_that_gives_no_thread_still_gets_its_summary(self):
        # One process for the user it runs as, as a service's or a
        # container's limit on tasks can leave it: a log over 1 MiB from a
        # pipe, read ahead where a thread can be had, is read in the
        # program's own thread.
        if os.geteuid() != 0 or not (shutil.which("setpriv") and shutil.which("prlimit")):
            self.skipTest("running as another user with a process limit needs root, setpriv and prlimit")
        log = Log()
        log.run(20_000, T0, system_ms=1000.0010)
        data = log.bytes()
        expected, _ = self.analyze("-", stdin=data)
        os.chmod(self.dir, 0o755)
        exe = shutil.copy(ANALYZE, self.path("analyze"))
        # (LeakSanitizer needs a thread of its own to look for leaks at the end.)
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        done = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "prlimit",
                               "--nproc=1", exe, "-"], input=data, capture_output=True, env=env, timeout=120)
        self.assertEqual((done.returncode, done.stdout.decode(), done.stderr), (0, expected, b""))

    def big_log(self, name):
        log = Log()
        log.run(701, T0)
        return self.write(name, log.bytes())

    def test_an_output_that_is_a_log_is_refused_and_the_log_kept(self):
        data = open(self.big_log("in.log"), "rb").read()
        self.assertGreater(len(data), 40_000)
        os.link(self.path("in.log"), self.path("hl.log"))
        log, a, hl, dotted = self.path("in.log"), self.path("a.log"), self.path("hl.log"), self.path("./in.log")
        for args, output in ((("--csv", log, log), log), (("--svg", log, log), log), ((a, log, "--csv", log), log),
                             (("--svg", hl, log), hl), (("--csv", dotted, "-"), dotted), (("--html", hl, log), hl)):
            with open(log, "rb") as stdin:  # the log itself as standard input
                done = subprocess.run([ANALYZE] + list(args), stdin=stdin, capture_output=True, timeout=60)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn("tickwatch-analyze: %s: the output is the same file as the log " % output,
                          done.stderr.decode())
            self.assertEqual(done.stdout, b"")
            self.assertEqual(open(log, "rb").read(), data, args)
        # A log not read in the run: "--svg a.log in.log" meant "--svg a.svg a.log in.log".
        shutil.copy(log, a)
        _, err = self.analyze("--svg", a, log, status=2)
        self.assertEqual(err, "tickwatch-analyze: --svg %s: %s is a tickwatch log; not writing over it\n" % (a, a))
        self.assertEqual(open(a, "rb").read(), data)

    def test_a_run_that_fails_leaves_existing_outputs_as_they_were(self):
        log = self.big_log("in.log")
        keep = self.write("keep.csv", b"kept\n")
        self.analyze("--csv", keep, log, self.path("nosuch.log"), status=2)
        self.analyze("--csv", keep, log, self.write("empty.log", b""), status=2)
        self.assertEqual(open(keep, "rb").read(), b"kept\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["empty.log", "in.log", "keep.csv"], "no temporary left")
        # A run that succeeds replaces it.
        self.analyze("--csv", keep, log)
        self.assertTrue(open(keep).read().startswith("utc_time,run,"))

    def test_ctrl_c_leaves_existing_outputs_and_no_temporary(self):
        # Standard input stays open, so the run is still reading when the
        # signal comes, whatever the machine's speed.
        keep = self.write("keep.html", b"kept\n")
        log = Log()
        log.run(101, T0)
        process = subprocess.Popen([ANALYZE, "--html", keep, "--csv", self.path("new.csv"), "-"],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process.stdin.write(log.bytes())
        process.stdin.flush()
        wait_for(lambda: any(name.endswith(".tmp") for name in os.listdir(self.dir)), 10, "the temporaries made")
        process.send_signal(signal.SIGINT)
        process.stdin.write(log.bytes())
        process.stdin.close()
        status = process.wait(10)
        err = process.stderr.read().decode()
        process.stdout.close()
        process.stderr.close()
        self.assertEqual(status, 2, err)
        self.assertIn("interrupted: nothing written", err)
        self.assertEqual(open(keep, "rb").read(), b"kept\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["keep.html"], "no temporary left")

    def test_a_named_pipe_is_read_once(self):
        # More than a pipe holds: a writer left alone by a reader that only
        # looked would fail, and a second opening would wait forever.
        data = open(self.big_log("in.log"), "rb").read() * 3
        self.assertGreater(len(data), 100_000)
        os.mkfifo(self.path("fifo.log"))

        def write():
            try:
                with open(self.path("fifo.log"), "wb") as fifo:
                    fifo.write(data)
            except BrokenPipeError:
                pass

        writer = threading.Thread(target=write, daemon=True)
        writer.start()
        summary, _ = self.analyze_json(self.path("fifo.log"), timeout=30)
        self.assertEqual(summary["total"]["samples"], 3 * 701)

    def test_standard_output_that_cannot_be_written_is_named(self):
        log = self.big_log("in.log")
        with open("/dev/full", "wb") as full:
            done = subprocess.run([ANALYZE, log], stdout=full, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((done.returncode, done.stderr.decode()),
                         (2, "tickwatch-analyze: standard output: cannot write: No space left on device\n"))
        with open("/dev/full", "wb") as full:  # the summary on standard error: none of nothing
            done = subprocess.run([ANALYZE, "--csv", "-", log], stdout=full, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((done.returncode, done.stderr.decode()),
                         (2, "tickwatch-analyze: standard output: cannot write: a write failed\n"))
        # A pipe that stops reading: said too, and no output left half done.
        reader = subprocess.Popen([ANALYZE, log, log, "--csv", self.path("out.csv")], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE)
        reader.stdout.close()
        err = reader.stderr.read().decode()
        self.assertEqual((reader.wait(timeout=60), err),
                         (2, "tickwatch-analyze: standard output: cannot write: Broken pipe\n"))
        self.assertEqual(os.listdir(self.dir), ["in.log"])

    def test_lines_left_out_are_named_and_the_rest_read(self):
        # Report lines that tickwatch cannot have written, in one log; in
        # another, lines not understood, a run cut short mid-line by the next
        # one's banner, and half a line at the end. (A log names 5 at most.)
        log, _ = crafted_log()
        time, values = log.lines[6][:26], FORMAT[FORMAT.index(": ") + 2:]
        log.lines[6:6] = [time + " 999.8502  999.8496  +31.2488  156250 (+0) ><",
                          time + "1050.0000 1000.0000  +50.0000  156250 (+0) ",
                          time + values % (1.7e306, 0, 1.7e306, 156250, 0, "><"),
                          time + values % (0, 1e300, -1e300, 156250, 0, "><")]
        impossible = self.write("impossible.log", log.bytes())
        log, _ = crafted_log()
        log.lines[6:6] = ["x" * 3_000_000, "2024-03-05 13:39:00.0015: garbled", "control"]
        data = log.bytes().replace(b"control", b"\x00\xff\x1b[31m")
        cut = data.index(b"unknown parameter")
        data = data[:cut] + b"2024-03-05 13:39:0" + data[data.index(BANNER.encode(), cut):] + b"2024-03-05 14:"
        summary, err = self.analyze_json(impossible, self.write("clock.log", data), "--svg", self.path("clock.svg"))
        for said in ("impossible.log:7: a difference that is not the system time's advance minus the counter's",
                     "impossible.log:8: a marker that disagrees with the difference",
                     "impossible.log:9: a value beyond any that tickwatch writes",
                     "impossible.log:10: a value beyond any that tickwatch writes",
                     "clock.log:7: a line too long for a log, skipped\n",
                     'clock.log:8: not a report line or a message of tickwatch: "2024-03-05 13:39:00.0015: garbled"',
                     'clock.log:9: not a report line or a message of tickwatch: "???[31m"',
                     "clock.log:17: a line cut short, then a new run",
                     "clock.log:25: the last line has no line end (cut short?), left out"):
            self.assertIn(said, err)
        total = summary["total"]
        self.assertEqual((summary["unrecognised_lines"], total["samples"], total["steps"]["count"],
                          total["missing_samples"]), (8, 24, 4, 6))
        self.assertEqual([(r["samples"], r["rate_ppm"]["max"]) for r in summary["runs"]], [(8, 18.7), (4, 0)] * 2)

    def test_two_tickwatch_writing_to_one_log_are_told(self):
        # Ten minutes of two instances, half a second apart, line by line.
        first, second, mixed = Log(), Log(), Log()
        first.run(600, T0, banner=False)
        second.run(600, T0 + 500, banner=False)
        mixed.add(BANNER, "", *(line for pair in zip(first.lines, second.lines) for line in pair))
        _, err = self.analyze(self.write("mixed.log", mixed.bytes()))
        self.assertIn("mixed.log:4: a sample 500 ms after the line before, though its system time advanced "
                      "1000.0000 ms: two tickwatch writing to one log?\n", err)
        self.assertIn("mixed.log: 1199 samples out of step with the line before them", err)

    def test_usage(self):
        out, _ = self.analyze("--help")
        self.assertTrue(out.startswith("usage: tickwatch-analyze [options] LOG...\n"))
        for args, message in (((), "no log file named"), (("--svg",), "a file name must follow --svg"),
                              (("--html",), "a file name must follow --html"),
                              (("-x", "a.log"), "unknown option -x"),
                              (("--follow", "--interval", "0", "a.log"), "--interval takes whole seconds from 1"),
                              (("--follow", "--interval", "1.5", "a.log"), "--interval takes whole seconds from 1"),
                              (("--follow", "a.log", "--interval"), "a number of seconds must follow --interval"),
                              (("--interval", "5", "a.log"), "--interval is for --follow"),
                              (("--follow", "a.log", "-"), "--follow follows a file by its name"),
                              (("--from", "2024-02-30T00:00:00", "a.log"), "--from takes a UTC time"),
                              (("--to", "2024-03-05 13:39:00+01", "a.log"), "--to takes a UTC time"),
                              (("a.log", "--from"), "a UTC time must follow --from"),
                              (("--from", "2024-03-05T13:40:00", "--to", "2024-03-05T13:39:59", "a.log"),
                               "--from is later than --to")):
            out, err = self.analyze(*args, status=2)
            self.assertEqual(out, "")
            self.assertIn("tickwatch-analyze: " + message, err)
        for args in (("--version",), ("--version", "missing.log")):
            out, _ = self.analyze(*args)
            self.assertEqual(out, "tickwatch-analyze %s\n" % project_version())

    def test_the_manual_page_renders_and_names_every_option(self):
        page = os.path.join(ROOT, "docs", "tickwatch-analyze.1")
        done = subprocess.run(["groff", "-man", "-ww", "-z", page], capture_output=True, text=True, check=True)
        self.assertEqual(done.stderr, "")
        with open(page) as f:
            text = f.read().replace("\\-", "-")
        usage, _ = self.analyze("--help")
        options = re.findall(r"^  (-[-\w]*)(?:, (--\w+))?", usage, re.M)
        self.assertGreaterEqual(len(options), 6)
        for option in (name for pair in options for name in pair if name):
            self.assertTrue(re.search(r"\.[BIR]{1,2} .*" + re.escape(option) + r"(?![-\w])", text), option)
