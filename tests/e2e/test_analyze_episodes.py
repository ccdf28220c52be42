"""What the time service did: correction episodes (steps and slews) with what
they commanded and what the clock did, several files side by side, and the
time window of --from and --to."""

import re

from analyze_e2e import T0, iso, Log, AnalyzeTestCase

INCREMENT = 156250


def two_files():
    """File A: run 1 with a slew speeding the clock that it follows, a step,
    a slew slowing it that it follows; run 2 with a slew it does not follow.
    File B: one run with a step. Returns the logs and, run by run, each
    episode's kind and sample times."""
    a, b = Log(), Log()
    a.run(1, T0)
    fast = [a.sample(1001.6000 + k * 0.0001, 1000.0 + k * 0.0001, 156500) for k in range(5)]
    step = [a.sample(1031.2500, 1000.0)]
    a.sample(1000.0, 1000.0)
    slow = [a.sample(998.4064, 1000.0, 156001) for _ in range(3)]
    slow.append(a.sample(998.4064 * 1.5, 1500.0, 156001))  # a longer interval weighs more
    a.sample(1000.0, 1000.0)
    a.run(1, T0 + 600_000)
    ignored = [a.sample(1000.0, 999.9990, 156001) for _ in range(4)]  # the clock does not follow
    b.run(1, T0 + 3_600_000)
    b.run(10, system_ms=1000.0010, banner=False)
    b_step = [b.sample(937.5000, 1000.0)]
    b.sample(1000.0, 1000.0)
    return a, b, [[("slew", fast), ("step", step), ("slew", slow)], [("slew", ignored)], [("step", b_step)]]


class CorrectionEpisodes(AnalyzeTestCase):
    """The episodes' arithmetic is AnalyzeEpisodes' (unit tests); here, what
    the program makes of them: lists per run, totals per run, per file and
    pooled, in the JSON and the text."""

    def assert_totals(self, corrections, episodes):
        slews = [e for e in episodes if e["kind"] == "slew"]
        self.assertEqual((corrections["count"], corrections["steps"], corrections["slews"]),
                         (len(episodes), len(episodes) - len(slews), len(slews)))
        self.assertAlmostEqual(corrections["commanded_abs_ms"], sum(abs(e["commanded_ms"]) for e in episodes), 4)
        if slews:
            largest = max((e["residual_ms"] for e in slews), key=abs)
            self.assertAlmostEqual(corrections["largest_slew_residual_ms"], largest, 4)
        else:
            self.assertIsNone(corrections["largest_slew_residual_ms"])

    def test_steps_and_slews_of_two_files_and_their_totals(self):
        a, b, runs = two_files()
        summary, err = self.analyze_json(self.write("a.log", a.bytes()), self.write("b.log", b.bytes()))
        self.assertEqual(err, "")
        self.assertEqual(len(summary["runs"]), 3)
        for run, expected in zip(summary["runs"], runs):
            self.assertEqual([(e["kind"], e["start"], e["end"], e["samples"]) for e in run["episodes"]],
                             [(kind, iso(t[0]), iso(t[-1]), len(t)) for kind, t in expected])
            self.assert_totals(run["corrections"], run["episodes"])
            self.assertEqual(run["corrections"]["not_listed"], 0)
        # Every figure of a slew and of a step, each in its place.
        figures = ("duration_s", "slew_ppm", "commanded_ms", "measured_ms", "residual_ms")
        fast, step = summary["runs"][0]["episodes"][:2]
        self.assertEqual([round(fast[k], 4) for k in figures], [5.0, 1600.0, 8.0, 8.0, 0.0])
        self.assertEqual([round(step[k], 4) for k in figures], [1.0, 0.0, 0.0, 31.25, 31.25])
        # The slew the clock did not follow: its residual is all it commanded.
        ignored = summary["runs"][1]["episodes"][0]
        self.assertAlmostEqual(ignored["residual_ms"], 4 * 0.001 + 4 * 249 / INCREMENT * 999.999, 4)
        self.assertGreater(ignored["slew_ppm"], -1593.61)
        self.assertLess(ignored["slew_ppm"], -1593.59)

        # In total, pooled over both files; and each file apart, with every
        # key the total has.
        total = summary["total"]
        self.assertEqual(total["pooled_files"], 2)
        episodes = [run["episodes"] for run in summary["runs"]]
        self.assert_totals(total["corrections"], sum(episodes, []))
        by_file = summary["by_file"]
        self.assertEqual([f["file"] for f in by_file], [self.path("a.log"), self.path("b.log")])
        for f in by_file:
            self.assertEqual(set(f) - {"file"}, set(total) - {"pooled_files"})
        self.assert_totals(by_file[0]["corrections"], episodes[0] + episodes[1])
        self.assert_totals(by_file[1]["corrections"], episodes[2])
        self.assertEqual([f["runs"] for f in by_file], [2, 1])
        self.assertEqual([f["samples"] for f in by_file], [18, 13])
        self.assertEqual(by_file[0]["samples"] + by_file[1]["samples"], total["samples"])
        self.assertEqual(by_file[1]["steps"]["count"], 1)
        self.assertEqual(by_file[1]["difference_ms"]["percentiles"]["p99"], 0.0010)
        self.assertEqual(by_file[1]["difference_ms"]["min"], -62.5)

        # The text: each run's table of episodes, the total, and the files
        # side by side.
        text, _ = self.analyze(self.path("a.log"), self.path("b.log"))
        self.assertIn("Total: 3 runs in 2 files, pooled over every file\n", text)
        self.assertIn("  corrections      3: 1 step, 2 slews; commanded ", text)
        row = "                   slew  %s       5.000    +1600.000       +8.0000       +8.0000       +0.0000\n"
        self.assertIn(row % iso(runs[0][0][1][0]), text)
        self.assertIn("  file 1: %s\n  file 2: %s\n" % (self.path("a.log"), self.path("b.log")), text)
        self.assertRegex(text, r"\n  samples\s+18\s+13\n")
        self.assertRegex(text, r"\n  steps\s+1\s+1\n")
        self.assertRegex(text, r"\n  difference p99, ms\s+\S+\s+\+0\.0010\n")
        # Every row's cells end where their file's heading ends.
        heading, *rows = text.split("file 2: %s\n" % self.path("b.log"))[1].splitlines()
        ends = [m.end() for m in re.finditer(r"file \d", heading)]
        self.assertEqual(len(rows), 12)
        for row in rows:
            self.assertEqual([e for e in ends if row[e - 1] != " " and row[e:e + 1] in ("", " ")], ends, row)

    def test_the_files_side_by_side_mark_a_tau_only_a_few_segments_reach(self):
        # b.log: a segment of 200 points, then five of 100 between steps; a
        # term at 64 tau0 takes 129 points: 200 of its 700 points have one.
        a, b = Log(), Log()
        a.run(1, T0)
        for i in range(700):
            a.sample(1000.0005 if i % 3 else 999.9990, 1000.0)
        b.run(1, T0)
        for i in range(700):
            b.sample(1050.0 if i % 100 == 99 and i > 200 else 1000.0005 if i % 3 else 999.9990, 1000.0)
        text, _ = self.analyze(self.write("a.log", a.bytes()), self.write("b.log", b.bytes()))
        self.assertRegex(text, r"\n  OADEV at tau0 +[^ *]+ +[^ *]+\n")
        self.assertRegex(text, r"\n  OADEV at 64 tau0 +[^ *]+ +[^ *]+ \*\n")
        self.assertIn("\n  * only the few segments long enough for this tau: it tells of them, not of the whole file\n",
                      text)

    def test_a_run_lists_its_first_twenty_in_text_and_counts_the_rest(self):
        log = Log()
        log.sample(at=T0)
        for _ in range(25):
            log.sample(1000.0016, 1000.0, 156251)
            log.sample(1000.0, 1000.0)
        text, _ = self.analyze(self.write("many.log", log.bytes()))
        self.assertEqual(len(re.findall(r"^ {19}slew  ", text, re.M)), 20)
        self.assertIn("                   and 5 more, not listed\n", text)

    def test_the_report_draws_the_episodes_and_compares_the_files(self):
        a, b, _ = two_files()
        self.analyze(self.write("a.log", a.bytes()), self.write("b.log", b.bytes()), "--html",
                     self.path("report.html"), "--svg", self.path("chart.svg"))
        page = self.read("report.html")
        ids = re.findall(r' id="([^"]+)"', page)
        self.assertEqual(len(ids), len(set(ids)), "each id once in the page")
        for promised in ("section-corrections", "file1-timeline", "episode-table", "section-frequency",
                         "file1-measured-rate", "file1-commanded-slew", "file1-fitted-offset", "section-detrended",
                         "file2-detrended", "section-comparison", "comparison-table", "comparison-oadev-1",
                         "comparison-oadev-2", "comparison-distribution-1", "comparison-distribution-2"):
            self.assertIn(promised, ids)
        # Every chart named for a screen reader, and each file's on its own time axis.
        self.assertEqual(len(re.findall(r'<svg [^>]*role="img" aria-label="[^"]+">\n<title>', page)), page.count("<svg "))
        self.assertEqual([i for i in ids if i.endswith("time-axis") and not i.startswith("file")], [])
        timeline = "".join(re.findall(r'<g id="file\d-timeline">(.*?)</g>', page, re.S))
        self.assertEqual(len(re.findall(r"<title>slew from", timeline)), 3)
        self.assertEqual(len(re.findall(r"<title>step at", timeline)), 2)
        self.assertEqual(page.count("each total is pooled over every file"), 1)
        self.assertIn('id="file2-frequency-frame"', self.read("chart.svg"))


class TimeWindow(AnalyzeTestCase):

    def test_runs_are_cut_at_the_edges_and_the_rest_counted_outside(self):
        log = Log()
        t = log.run(10, T0) + log.run(5, T0 + 60_000)
        name = self.write("window.log", log.bytes())
        # From 13:39:03 (the sample at 03.015 is in) to 13:39:07, the whole second (07.015 is in, 08.015 out).
        summary, err = self.analyze_json("--from", "2024-03-05T13:39:03", "--to", "2024-03-05T13:39:07Z", name)
        self.assertEqual(err, "")
        (run,) = summary["runs"]
        self.assertEqual((run["samples"], run["first_sample"], run["last_sample"]), (5, iso(t[3]), iso(t[7])))
        self.assertEqual((run["first_line"], run["last_line"]), (6, 10))
        self.assertEqual((summary["outside_window"], summary["unrecognised_lines"]), (10, 0))
        self.assertEqual(summary["window"], {"from": "2024-03-05T13:39:03.000Z", "to": "2024-03-05T13:39:07.999Z"})
        # Before the first sample (at 13:39:00.015): nothing within, which is
        # no failure.
        text, _ = self.analyze("--to", "2024-03-05T13:38:59", name)
        self.assertEqual(text, "Total: 0 runs in 1 file, 15 report lines outside the window\n  no samples\n")
