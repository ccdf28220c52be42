"""tickwatch-analyze on crafted logs with known runs, steps, adjustment changes
and gaps: the summary, the JSON, the CSV and the chart."""

import json
import math
import os
import re
import xml.etree.ElementTree as ElementTree

from analyze_e2e import SVG, FORMAT, BANNER, T0, iso, Log, AnalyzeTestCase, crafted_log


class CraftedLogs(AnalyzeTestCase):

    def test_runs_steps_adjustment_changes_and_gaps_are_found(self):
        log, t = crafted_log()
        summary, err = self.analyze_json(self.write("clock.log", log.bytes()))
        self.assertEqual(err, "")
        self.assertEqual(summary["unrecognised_lines"], 0)
        run1, run2 = summary["runs"]
        self.assertEqual((run1["run"], run1["first_line"], run1["last_line"]), (1, 1, 15))
        self.assertEqual((run2["run"], run2["file"], run2["first_line"], run2["last_line"]),
                         (2, self.path("clock.log"), 16, 23))
        self.assertEqual((run1["samples"], run2["samples"]), (8, 4))
        self.assertEqual((run1["first_sample"], run1["last_sample"]), (iso(t[0]), iso(t[7])))
        self.assertEqual((run2["first_sample"], run2["last_sample"]), (iso(t[8]), iso(t[11])))

        self.assertEqual(run1["steps"]["listed"], [{"utc_time": iso(t[2]), "difference_ms": 31.2488},
                                                   {"utc_time": iso(t[6]), "difference_ms": -1000.0}])
        self.assertAlmostEqual(run1["steps"]["sum_ms"], 31.2488 - 1000.0, places=4)
        slewing = {"adjustment": 156001, "increment": 156250, "ppm": -1593.6}
        steady = {"adjustment": 156250, "increment": 156250, "ppm": 0.0}
        self.assertEqual(run1["adjustment"]["listed_changes"],
                         [{"utc_time": iso(t[4]), "from": steady, "to": slewing},
                          {"utc_time": iso(t[7]), "from": slewing, "to": steady}])
        self.assertEqual(run1["adjustment"]["values"], [dict(steady, samples=5), dict(slewing, samples=3)])
        # Neither the steps nor the clock set back count as missing samples;
        # the lines lost in run 2 do.
        self.assertEqual((run1["missing_samples"], run1["gaps"]), (0, 0))
        self.assertEqual((run2["missing_samples"], run2["gaps"]), (3, 1))

        # Mean and RMS of the regular lines, the steps left out; min, max
        # and sum of all.
        regular = [0.0187, 0.0010, 0.0, -0.1, -0.1, 0.0]
        d = run1["difference_ms"]
        self.assertAlmostEqual(d["mean"], sum(regular) / 6, places=6)
        self.assertAlmostEqual(d["rms"], (sum(x * x for x in regular) / 6) ** 0.5, places=6)
        self.assertEqual((d["min"], d["max"]), (-1000.0, 31.2488))
        self.assertAlmostEqual(d["sum"], sum(regular) + 31.2488 - 1000.0, places=4)
        # The rate leaves the steps out: those lines' counter times too.
        rate = run1["rate_ppm"]
        self.assertAlmostEqual(rate["run"], sum(regular) / (999.9813 + 5 * 1000.0) * 1e6, places=3)
        self.assertEqual((rate["min"], rate["max"]), (-100.0, 18.700))

        total = summary["total"]
        self.assertEqual((total["runs"], total["samples"], total["steps"]["count"], total["adjustment"]["changes"]),
                         (2, 12, 2, 2))
        self.assertEqual((total["first_sample"], total["last_sample"]), (iso(t[0]), iso(t[11])))

        # The text says the same for a person.
        text, _ = self.analyze(self.path("clock.log"))
        self.assertIn("Run 2: %s, lines 16 to 23\n" % self.path("clock.log"), text)
        self.assertIn("  steps            2, together -968.7512 ms\n", text)
        self.assertIn("%s  -1000.0000 ms\n" % iso(t[6]), text)
        self.assertIn("%s  156250 (increment 156250, +0.000 ppm) -> 156001 (increment 156250, -1593.600 ppm)\n"
                      % iso(t[4]), text)
        self.assertIn("  missing samples  3, 3 lost lines in 1 place\n", text)
        self.assertIn("Total: 2 runs in 1 file\n", text)

    def test_stability_percentiles_and_frequency_follow_the_segments(self):
        summary, _ = self.analyze_json(self.write("clock.log", crafted_log()[0].bytes()))
        run1 = summary["runs"][0]
        # The steps cut run 1 into segments of phase (ms) 0, 0.0187, 0.0197;
        # 0, 0, -0.1, -0.2; and 0, 0.
        segments = [[0, 0.0187, 0.0197], [0, 0, -0.1, -0.2], [0, 0]]
        tau0 = (0.9999813 + 5) / 6  # the regular lines' mean interval
        squares = [(x[i + 2] - 2 * x[i + 1] + x[i]) ** 2 for x in segments for i in range(len(x) - 2)]
        self.assertEqual(len(run1["stability"]), 1, "only m = 1 has n >= 2")
        tau1 = run1["stability"][0]
        self.assertEqual((tau1["n"], tau1["mtie_ns"]), (3, 100000))
        self.assertAlmostEqual(tau1["oadev"] / ((sum(squares) / 6) ** 0.5 / tau0 * 1e-3), 1, places=6)
        self.assertAlmostEqual(tau1["tdev_ns"], tau0 * tau1["mdev"] / 3 ** 0.5 * 1e9, places=2)
        # Unmarked: -0.1, -0.1, 0, 0, 0.001, 0.0187.
        self.assertEqual(run1["difference_ms"]["percentiles"],
                         {"p1": -0.1, "p5": -0.1, "p50": 0.0, "p95": 0.0187, "p99": 0.0187})
        # And the text.
        text, _ = self.analyze(self.path("clock.log"))
        self.assertIn("  percentiles      p1 -0.1000, p5 -0.1000, p50 +0.0000, p95 +0.0187, p99 +0.0187 ms", text)
        # Figures with an uncertainty to the place of its second significant
        # digit: OADEV and its bounds by the nearer bound, the offset by its
        # uncertainty.
        place = math.floor(math.log10(min(tau1["oadev"] - tau1["oadev_lo"], tau1["oadev_hi"] - tau1["oadev"]))) - 1
        oadev = ["%.*e" % (math.floor(math.log10(v)) - place, v) for v in (tau1["oadev"], tau1["oadev_lo"], tau1["oadev_hi"])]
        self.assertRegex(text, r"\n  stability        tau0 0.9999969 s; noise alpha, OADEV with its 68 %% interval\n"
                               r" +tau s +n +alpha +OADEV +68 %% low +high +MDEV +TDEV ms +HDEV +MTIE ms\n"
                               r" +0.999997 +3 +- +%s +%s +%s +%.4e +[0-9.e+-]+ +- +1.0000e-01\n"
                               % (*oadev, tau1["mdev"]))
        frequency = run1["frequency"]
        decimals = max(0, 1 - math.floor(math.log10(frequency["uncertainty_ppm"])))
        self.assertIn("  frequency        offset %+.*f ppm +- " % (decimals, frequency["offset_ppm"]), text)

    def test_the_frequency_offset_is_per_second_of_the_counter(self):
        # Paced by a sleep that overshoots: intervals of 1000, 1015.6 and
        # 1031.2 ms (mean 1015.6), the system time 12.345 ppm fast; both
        # clocks read to 0.0001 ms.
        log = Log()
        log.add(BANNER)
        counter = system = 0.0
        for i in range(3600):
            interval = (1000.0, 1015.6, 1015.6, 1031.2)[i * 7 % 4]
            counter_ms = round(counter + interval, 4) - counter
            system_ms = round((counter + interval) * (1 + 12.345e-6), 4) - system
            counter, system = counter + counter_ms, system + system_ms
            log.sample(round(system_ms, 4), round(counter_ms, 4), at=T0 if i == 0 else None)
        summary, _ = self.analyze_json(self.write("clock.log", log.bytes()))
        total = summary["total"]
        self.assertAlmostEqual(total["frequency"]["offset_ppm"], 12.345, delta=0.001)
        self.assertAlmostEqual(total["stability"][0]["tau_s"], 1.0156, places=4)

    def test_lines_tickwatch_writes_are_read_with_a_mark_an_extra_cr_or_no_time(self):
        log, t = crafted_log()
        # A sample whose time tickwatch could not tell, in a step.
        log.lines[7] = "0000-00-00 00:00:00.0000" + log.lines[7][24:]
        data = b"\xef\xbb\xbf" + log.bytes().replace(b"\r\n", b"\r\r\n")
        summary, err = self.analyze_json(self.write("clock.log", data), "--csv", self.path("clock.csv"))
        self.assertEqual((err, summary["unrecognised_lines"]), ("", 0))
        run1 = summary["runs"][0]
        self.assertEqual((run1["samples"], run1["first_sample"], run1["last_sample"]), (8, iso(t[0]), iso(t[7])))
        self.assertEqual(run1["steps"]["listed"][0], {"utc_time": None, "difference_ms": 31.2488})
        self.assertEqual((run1["missing_samples"], run1["gaps"]), (0, 0))
        self.assertTrue(self.read("clock.csv").splitlines()[3].startswith(",1,1031.2500,"))
        text, _ = self.analyze(self.path("clock.log"), "--svg", self.path("clock.svg"))
        self.assertIn("unknown time  +31.2488 ms\n", text)

    def test_spans_run_from_the_earliest_time_to_the_latest_wherever_they_come(self):
        # A clock set back an hour in the middle of a run, and its logs
        # given late one first.
        early, late = Log(), Log()
        early.run(5, T0, banner=False)
        early.sample(1000.0 - 3_600_000, 1000.0)
        early.sample()
        late.run(2, T0 + 7_200_000, banner=False)
        logs = (self.write("late.log", late.bytes()), self.write("early.log", early.bytes()))
        summary, _ = self.analyze_json(*logs)
        run = summary["runs"][1]
        self.assertEqual((run["first_sample"], run["last_sample"]), (iso(T0 + 5000 - 3_600_000), iso(T0 + 4000)))
        self.assertEqual(run["covered_ms"], 7000.0)
        total = summary["total"]
        self.assertEqual((total["first_sample"], total["last_sample"]), (iso(T0 + 5000 - 3_600_000), iso(T0 + 7_201_000)))
        self.assertEqual(total["covered_ms"], 9000.0)

        text, _ = self.analyze(*logs, "--svg", self.path("chart.svg"))
        spans = re.findall(r"  samples +\d+, (\S+ to \S+ \(.*\))\n", text)
        self.assertEqual(spans, ["%s to %s (1.000 s)" % (iso(T0 + 7_200_000), iso(T0 + 7_201_000)),
                                 "%s to %s (59 min 59 s)" % (iso(T0 + 5000 - 3_600_000), iso(T0 + 4000)),
                                 "%s to %s (2 h 59 min first to last, over 2 files)"
                                 % (iso(T0 + 5000 - 3_600_000), iso(T0 + 7_201_000))])
        self.assertIn("  time covered     9.000 s by the counter\n", text)
        chart = ElementTree.parse(self.path("chart.svg")).getroot()
        subtitles = [e.text for e in chart.iter(SVG + "text") if e.text and " samples in " in e.text]
        self.assertTrue(subtitles[1].startswith(spans[1] + ":"), subtitles)

    def test_json_has_the_same_keys_for_every_run_and_no_negative_zero(self):
        log = Log()
        log.add(BANNER, "unknown parameter: -x", "", BANNER)  # a run without samples
        log.sample(1000.0, 1000.00001, at=T0)  # -0.0000 as printed
        log.sample(1000.0, 1000.00001)
        out, _ = self.analyze("--json", self.write("clock.log", log.bytes()))
        self.assertNotRegex(out, r"-0(\.0+)?(?![.\d])")

        def shape(value):
            if isinstance(value, dict):
                return {key: shape(item) for key, item in value.items()}
            return type(value) if isinstance(value, list) else None

        summary = json.loads(out)
        empty, full = summary["runs"]
        self.assertEqual((empty["samples"], full["samples"]), (0, 2))
        self.assertEqual(shape(empty), shape(full))
        self.assertEqual((empty["first_sample"], empty["difference_ms"]["mean"], empty["difference_ms"]["min"],
                          empty["rate_ppm"]["run"], empty["stability"]), (None, None, None, None, []))
        self.assertEqual(empty["frequency"], {"offset_ppm": None, "uncertainty_ppm": None, "residual_rms_ms": None,
                                              "significant": False, "fitted_across_slews": False})
        self.assertEqual(set(empty["difference_ms"]["percentiles"].values()), {None})
        self.assertEqual(full["difference_ms"]["min"], 0)

    def test_csv_has_a_row_per_sample_and_dash_is_standard_output_and_input(self):
        log, t = crafted_log()
        self.analyze(self.write("clock.log", log.bytes()), "--csv", self.path("clock.csv"))
        rows = [line.split(",") for line in self.read("clock.csv").splitlines()]
        self.assertEqual(rows[0], ["utc_time", "run", "system_ms", "counter_ms", "difference_ms", "rate_ppm",
                                   "adjustment", "increment", "adjustment_ppm", "step"])
        self.assertEqual(len(rows), 1 + 12)
        self.assertEqual(rows[3], [iso(t[2]), "1", "1031.2500", "1000.0012", "31.2488", "31248.763", "156250",
                                   "156250", "0.000", "1"])
        self.assertEqual(rows[5][6:9], ["156001", "156250", "-1593.600"])
        self.assertEqual([r[1] for r in rows[1:]], ["1"] * 8 + ["2"] * 4)

        # "-" is standard output, as it is standard input for a LOG; the
        # summary then goes to standard error; with --json there is no room.
        out, err = self.analyze("--csv", "-", self.path("clock.log"), cwd=self.dir)
        self.assertEqual(out, self.read("clock.csv"))
        self.assertIn("Total: 2 runs in 1 file", err)
        self.assertFalse(os.path.exists(self.path("-")))
        _, err = self.analyze("--csv", "-", "--json", self.path("clock.log"), status=2)
        self.assertIn("--csv - and --json would both write to standard output", err)
        from_file, _ = self.analyze("--json", self.path("clock.log"))
        from_pipe, _ = self.analyze("--json", "-", stdin=log.bytes())
        self.assertEqual(from_pipe, from_file.replace(self.path("clock.log"), "standard input"))

    def test_a_long_log_gives_a_small_chart(self):
        # Two days of samples, one a second, in one pass.
        lines = [BANNER, ""]
        for i in range(172_800):
            lines.append(FORMAT % (2024, 3, 5 + i // 86400, i // 3600 % 24, i // 60 % 60, i % 60, 15, 1000.0,
                                   1000.0 - (i % 7) / 1000, (i % 7) / 1000, 156250, 0, ""))
        path = self.write("long.log", ("\r\n".join(lines) + "\r\n").encode())
        self.analyze(path, "--svg", self.path("long.svg"))
        self.assertLess(os.path.getsize(self.path("long.svg")), 200_000)
        root = ElementTree.parse(self.path("long.svg")).getroot()
        paths = {e.get("id"): e.get("d") for e in root.iter(SVG + "path")}
        self.assertLessEqual(len(re.findall(r"[ML]", paths["difference"])), 2 * 1060, "two points per pixel column")
        # The trend shows: a mean per column, inside the column's band.
        band = {}
        for x, y in re.findall(r"[ML]([\d.]+) ([\d.]+)", paths["difference"]):
            band.setdefault(x, []).append(float(y))
        means = re.findall(r"[ML]([\d.]+) ([\d.]+)", paths["difference-mean"])
        self.assertGreater(len(means), 1000)
        for x, y in means:
            self.assertTrue(min(band[x]) <= float(y) <= max(band[x]), (x, y, band[x]))
