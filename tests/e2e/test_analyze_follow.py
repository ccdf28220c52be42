"""--follow on a log that grows and is rotated, with a real node_exporter
collecting its metrics."""

import json
import os
import re
import signal
import socket
import subprocess
import time
import urllib.request

from analyze_e2e import ANALYZE, NODE_EXPORTER, BANNER, T0, Log, AnalyzeTestCase, crafted_log, metric_samples, wait_for


def reading_position(pid, name):
    """Where the process reads the file it holds open by that name; 0 before."""
    fds = "/proc/%d/fd" % pid
    try:
        for fd in os.listdir(fds):
            if os.readlink(os.path.join(fds, fd)).endswith(name):
                with open("/proc/%d/fdinfo/%s" % (pid, fd)) as info:
                    return int(re.search(r"pos:\s*(\d+)", info.read()).group(1))
    except OSError:  # the process or the descriptor has just gone
        pass
    return 0


class Follow(AnalyzeTestCase):
    """--follow on a log that grows and is rotated, its metrics read by a
    real node_exporter's textfile collector, on 127.0.0.1 only."""

    def start_exporter(self, textfile_dir):
        if not os.path.isfile(NODE_EXPORTER):
            self.fail("no node_exporter at NODE_EXPORTER=%r: run tools/install-deps.sh" % NODE_EXPORTER)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        with open(self.path("exporter.err"), "wb") as err:
            exporter = subprocess.Popen([NODE_EXPORTER, "--web.listen-address=127.0.0.1:%d" % port,
                                         "--collector.disable-defaults", "--collector.textfile",
                                         "--collector.textfile.directory", textfile_dir],
                                        stdout=subprocess.DEVNULL, stderr=err)
        self.addCleanup(lambda: (exporter.kill(), exporter.wait()))
        url = "http://127.0.0.1:%d/metrics" % port

        def scrape():
            try:
                with urllib.request.urlopen(url, timeout=5) as response:
                    return metric_samples(response.read().decode())
            except OSError:
                self.assertIsNone(exporter.poll(), "node_exporter ended: see exporter.err")
                return None
        wait_for(scrape, 15, "node_exporter answers")
        return scrape

    def start_follow(self, *args):
        with open(self.path("out"), "wb") as out, open(self.path("err"), "wb") as err:
            process = subprocess.Popen([ANALYZE, "--follow"] + list(args), stdout=out, stderr=err)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        return process

    def stop(self, process, sig=signal.SIGINT):
        process.send_signal(sig)
        return process.wait(15), self.read("out"), self.read("err")

    def test_node_exporter_collects_the_followed_logs_metrics_across_rotation(self):
        textfile_dir = self.path("textfile")
        os.mkdir(textfile_dir)
        scrape = self.start_exporter(textfile_dir)
        log = Log()
        log.add(BANNER, "")
        for i in range(3):
            log.sample(1000.0, 999.999 if i else 999.0, at=None if i else T0)
        self.write("clock.log", log.bytes())
        analyze = self.start_follow("--interval", "1", "--metrics", os.path.join(textfile_dir, "tickwatch.prom"),
                                    "--csv", self.path("clock.csv"), "--html", self.path("clock.html"),
                                    self.path("clock.log"))

        def count(name, value):
            """The scrape once name shows value."""
            def scraped():
                samples = scrape()
                return samples if samples and samples.get(name + '{log="clock.log"}') == value else None
            return wait_for(scraped, 15, "%s %s" % (name, value))

        samples = count("tickwatch_samples_total", 3)
        self.assertEqual(samples["node_textfile_scrape_error"], 0)
        self.assertEqual(samples['tickwatch_steps_total{log="clock.log"}'], 0)

        # Lines appended, a step among them, the last one cut short for now.
        appended = Log()
        appended.t = log.t
        appended.sample(1000.0, 1000.0)
        appended.sample(1031.25, 1000.0)
        appended.sample(1000.0, 1000.0, 156001)
        with open(self.path("clock.log"), "ab") as f:
            f.write(appended.bytes() + b"2024-03-05 13:39:0")
        samples = count("tickwatch_samples_total", 6)
        self.assertEqual(samples['tickwatch_steps_total{log="clock.log"}'], 1)
        self.assertEqual(samples['tickwatch_missing_samples_total{log="clock.log"}'], 0)
        self.assertEqual(samples['tickwatch_time_adjustment_seconds{log="clock.log"}'], 0.0156001)
        self.assertAlmostEqual(samples['tickwatch_adjustment_slew_ratio{log="clock.log"}'], -249 / 156250)
        self.assertEqual(samples['tickwatch_last_sample_timestamp_seconds{log="clock.log"}'], (appended.t) / 1000)
        self.assertEqual(samples["node_textfile_scrape_error"], 0)
        self.assertEqual(len(self.read("clock.csv").splitlines()), 1 + 6, "the rows as they come")
        self.assertTrue(self.read("clock.html").rstrip().endswith("</html>"), "the report whole, while it follows")

        # Rotated: renamed, and a new log under the name, with a line that
        # is no log line.
        os.rename(self.path("clock.log"), self.path("clock.log.1"))
        rotated = Log()
        rotated.add(BANNER, "")
        rotated.sample(at=appended.t + 3000)
        rotated.add("not a log line")
        rotated.sample()
        self.write("clock.log", rotated.bytes())
        samples = count("tickwatch_samples_total", 8)
        self.assertEqual(samples['tickwatch_steps_total{log="clock.log"}'], 1)
        self.assertEqual(samples['tickwatch_unrecognised_lines_total{log="clock.log"}'], 1)
        self.assertEqual(samples['tickwatch_difference_seconds{log="clock.log"}'], 0)
        # The stability figures, published where they are known.
        self.assertIn('tickwatch_frequency_offset_ratio{log="clock.log"}', samples)
        self.assertIn('tickwatch_oadev{log="clock.log",m="1"}', samples)
        self.assertEqual(samples["node_textfile_scrape_error"], 0)

        status, out, err = self.stop(analyze)
        self.assertEqual(status, 0, err)
        self.assertRegex(out, r"\d\dZ  samples 8  steps 1  missing 0  rate [+-]\d+\.\d{3} ppm  rms \d+\.\d{4} ms"
                              r"  last \+0\.0000 ms\n")
        self.assertIn("Run 2: %s, lines 1 to 5\n" % self.path("clock.log"), out)
        self.assertGreater(out.index("Total: "), out.rindex("Z  samples 8"), "the summary comes last")
        self.assertIn("Total: 2 runs in 1 file, 1 line not understood\n  samples          8,", out)
        self.assertIn("clock.log: the last line has no line end (cut short?), left out\n", err)
        self.assertIn("clock.log: a new file by this name, read from its start\n", err)
        self.assertEqual(sorted(os.listdir(textfile_dir)), ["tickwatch.prom"], "no temporary file left")

    def test_a_log_not_there_yet_is_waited_for_but_never_an_output_nor_a_device(self):
        log = self.path("clock.log")
        _, err = self.analyze("--follow", "--csv", log, log, status=2)
        self.assertIn("the output is the same file as the log", err)
        self.assertFalse(os.path.exists(log))
        _, err = self.analyze("--follow", "/dev/null", status=2)
        self.assertIn("/dev/null: cannot follow: not a regular file", err)
        # An output that cannot be written ends it at once, before the log is
        # awaited and before the CSV is emptied, as without --follow.
        for option in "--csv", "--svg", "--html", "--metrics":
            _, err = self.analyze("--follow", "--csv", self.path("kept.csv"), option, self.path("none/out"), log,
                                  status=2, timeout=10)
            self.assertIn("none/out: cannot write: No such file or directory", err)
        self.assertFalse(os.path.exists(self.path("kept.csv")))

        analyze = self.start_follow("--interval", "1", log)
        wait_for(lambda: "cannot read: No such file or directory; waiting for it" in self.read("err"), 15,
                 "the log awaited")
        self.write("clock.log", crafted_log()[0].bytes())
        wait_for(lambda: "Z  samples 12  " in self.read("out"), 15, "the log read")
        status, _, _ = self.stop(analyze)
        self.assertEqual(status, 0)

    def test_json_comes_whole_at_the_end_and_sigterm_ends_it_too(self):
        # A run that has ended and one still open, told apart by their
        # differences: the median is the open run's only if it counted twice.
        log = Log()
        log.run(6, T0)
        log.run(6, system_ms=1005.0)
        self.write("clock.log", log.bytes())
        analyze = self.start_follow("--json", "--interval", "1", self.path("clock.log"))
        wait_for(lambda: os.path.getsize(self.path("err")) > 0, 15, "a status line")
        status, out, err = self.stop(analyze, signal.SIGTERM)
        self.assertEqual(status, 0, err)
        # The same summary as without --follow: publishing the figures so
        # far at each interval counts nothing twice.
        self.assertEqual(json.loads(out), self.analyze_json(self.path("clock.log"))[0])
        self.assertRegex(err, r"^\d{4}-\d\d-\d\dT[\d:.]+Z  samples 12  steps 0  missing 0  ")

    def test_ctrl_c_while_an_earlier_log_is_read_still_ends_it_as_documented(self):
        log = Log()
        log.sample(at=T0)
        lines = 600_000  # seconds of reading for the sanitized build
        self.write("earlier.log", log.bytes() * lines)
        analyze = self.start_follow("--interval", "1", self.path("earlier.log"), self.path("clock.log"))
        wait_for(lambda: reading_position(analyze.pid, "earlier.log") > 0, 15, "the earlier log being read")
        time.sleep(0.3)
        status, out, err = self.stop(analyze)
        self.assertEqual(status, 0, err)
        self.assertIn("Total: 1 run in 2 files", out)
        read = int(re.search(r"earlier.log, lines 1 to (\d+)\n", out).group(1))
        self.assertLess(read, lines, "stopped while the earlier log was read")

    def test_a_csv_on_standard_output_nobody_reads_any_more_ends_it(self):
        # As "tickwatch-analyze --follow --csv - clock.log | head -2".
        log = Log()
        log.run(20, T0)
        with open(self.path("err"), "wb") as err:
            analyze = subprocess.Popen([ANALYZE, "--follow", "--csv", "-", self.write("clock.log", log.bytes())],
                                       stdout=subprocess.PIPE, stderr=err)
        self.addCleanup(lambda: analyze.poll() is None and (analyze.kill(), analyze.wait()))
        analyze.stdout.readline()
        analyze.stdout.close()
        self.assertEqual(analyze.wait(15), 2)
        self.assertIn("tickwatch-analyze: standard output: cannot write: ", self.read("err"))
