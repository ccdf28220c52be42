"""The HTML report: one page that needs nothing else, its tables and plots."""

import random
import re
import xml.etree.ElementTree as ElementTree

from analyze_e2e import SVG, BANNER, T0, Log, AnalyzeTestCase, crafted_log


class HtmlReport(AnalyzeTestCase):

    def report(self, log, name="clock.log"):
        self.analyze(self.write(name, log.bytes()), "--html", self.path("report.html"))
        return self.read("report.html")

    def test_one_page_with_tables_and_charts_that_needs_nothing_else(self):
        log, _ = crafted_log()
        log.add(BANNER)  # and a run without samples
        page = self.report(log, "clock & <co>.log")
        self.assertTrue(page.startswith("<!DOCTYPE html>"))
        # Nothing fetched, nothing run: a page that opens from disk offline.
        for outside in ("<script", "<link", "src=", "href=", "url(", "@import"):
            self.assertNotIn(outside, page)
        self.assertIn("clock &amp; &lt;co&gt;.log", page)
        self.assertNotIn("<co>", page)
        self.assertIn("@page{size:A4", page)
        ids = re.findall(r' id="([^"]+)"', page)
        self.assertEqual(len(ids), len(set(ids)), "each id once in the page")
        # The charts, each well-formed and as wide as the page.
        charts = [ElementTree.fromstring(svg) for svg in re.findall(r"<svg .*?</svg>", page, re.S)]
        self.assertEqual(len(charts), 7, "difference, time error, frequency, detrended, stability, histogram, "
                                         "corrections")
        for chart in charts:
            self.assertEqual((chart.get("width"), chart.get("viewBox").split()[:2]), ("100%", ["0", "0"]))
        ids = [{e.get("id") for e in chart.iter()} for chart in charts]
        for chart, promised in zip(ids, ("difference", "phase", "measured-rate", "detrended", "oadev", "histogram",
                                         "timeline")):
            self.assertIn(promised, chart)

        def rows(table):
            body = re.search(r'<table id="%s">(.*?)</table>' % table, page, re.S).group(1)
            return [re.findall(r"<t[dh][^>]*>(.*?)</t[dh]>", row) for row in re.findall(r"<tr[^>]*>(.*?)</tr>", body)]

        runs = rows("run-table")
        self.assertEqual([r[0] for r in runs[1:]], ["1", "2", "3", "total"])
        self.assertEqual(runs[2][8], "3<br><small>3 lost lines in 1 place</small>")
        self.assertIn('<td class="n">0</td><td colspan="6">no samples</td>', page)
        self.assertEqual([r[2] for r in rows("step-table")[1:]], ["+31.2488", "-1000.0000"])
        self.assertEqual(len(rows("change-table")), 1 + 2)
        self.assertEqual(rows("timekeeping-table")[1][:6], ["1", "-0.1000", "-0.1000", "+0.0000", "+0.0187", "+0.0187"])
        # The histogram holds each unmarked line once, by its value: 0.0187,
        # 0.0010, 0.0, -0.1, -0.1, 0.0 in run 1 and four 0.0 in run 2, in
        # bins of 20 values from -0.1000 to +0.0199.
        bars = re.findall(r"<title>([-+][\d.]+)(?: to ([-+][\d.]+))? ms: (\d+)</title></rect>", page)
        self.assertEqual([(float(low), float(high), int(n)) for low, high, n in bars],
                         [(-0.1, -0.0981, 2), (0.0, 0.0019, 7), (0.018, 0.0199, 1)])
        self.assertIn("0 below and 0 above the range drawn", page)

    def test_steps_and_gaps_show_apart_and_every_deviation_has_its_interval(self):
        # Two runs of white phase noise of 0.0001 ms; in the first, a gap of
        # 1.6 s and, later, a step.
        noise = random.Random(8)
        log = Log()
        for start in (T0, T0 + 600_000):
            log.add(BANNER)
            log.sample(at=start)
            phase = 0
            for i in range(400):
                counter = 1600.0 if start == T0 and i == 100 else 1000.0
                step = 40.0 if start == T0 and i == 300 else 0.0
                last, phase = phase, noise.randint(-1, 1) / 10_000
                log.sample(round(counter + phase - last + step, 4), counter)
        page = self.report(log)
        charts = {c.get("id"): c for svg in re.findall(r"<svg .*?</svg>", page, re.S)
                  for c in ElementTree.fromstring(svg).iter() if c.get("id")}
        # The step starts a segment, drawn as such; the gap is a band, and
        # the time error's line runs on across it: it breaks at the start,
        # the step and the second run alone.
        self.assertEqual(len(list(charts["phase-steps"].iter(SVG + "line"))), 1)
        self.assertEqual(len(list(charts["phase-gaps"].iter(SVG + "rect"))), 1)
        self.assertEqual(charts["phase"].get("d").count("M"), 3)
        # Per run and in total, each deviation with its interval and α.
        for table in ("stability-table", "stability-table-run-1", "stability-table-run-2"):
            body = re.search(r'<table id="%s">(.*?)</table>' % table, page, re.S).group(1)
            self.assertIn("<th>noise \u03b1</th>", body)
            first = re.findall(r"<td[^>]*>(.*?)</td>", re.findall(r"<tr>(.*?)</tr>", body)[1])
            self.assertEqual(first[2], "+2", "white PM")
            for cell in first[3:7]:
                self.assertRegex(cell, r"^[\d.e+-]+<br><small>[\d.e+-]+&ndash;[\d.e+-]+</small>$")
        bars = [e for e in charts["oadev"].iter(SVG + "path") if e.get("class") == "interval"]
        self.assertGreater(len(bars), 5)
        self.assertIn("hdev", charts)
        # Small figures in significant digits, not rounded to nothing.
        offset, uncertainty = re.search(r'<table id="timekeeping-table">.*<tr class="total"><td>total</td>'
                                        r'(?:<td[^>]*>[^<]*</td>){5}<td class="n">([^<]*)(?:<br><small>[^<]*</small>)?</td>'
                                        r'<td class="n">([^<]*)</td>',
                                        page, re.S).groups()
        self.assertNotEqual(float(uncertainty), 0)
        self.assertRegex(uncertainty, r"^\d\.\de-0\d$")

    def test_the_plots_keep_their_marks_inside_their_frames(self):
        log = Log()
        log.sample(at=T0)
        noise = random.Random(6)
        for _ in range(600):
            log.sample(1000.0 + noise.randint(-30, 30) / 10_000, 1000.0)
        page = self.report(log)
        charts = {c.get("id"): c for svg in re.findall(r"<svg .*?</svg>", page, re.S)
                  for c in ElementTree.fromstring(svg).iter() if c.get("id")}
        for frame, marks in (("stability-frame", "oadev"), ("stability-frame", "mdev"),
                             ("histogram-frame", "histogram")):
            left, top, width, height = (float(charts[frame].get(k)) for k in ("x", "y", "width", "height"))
            points = [(float(e.get("cx")), float(e.get("cy"))) for e in charts[marks].iter(SVG + "circle")]
            points += [(float(e.get("x")), float(e.get("y"))) for e in charts[marks].iter(SVG + "rect")]
            self.assertGreater(len(points), 5, marks)
            for x, y in points:
                self.assertTrue(left <= x <= left + width and top <= y <= top + height, (marks, x, y))
        # And the grid with them.
        left, top, width, height = (float(charts["stability-frame"].get(k)) for k in ("x", "y", "width", "height"))
        for line in charts["stability-axes"].iter(SVG + "line"):
            for y in (float(line.get("y1")), float(line.get("y2"))):
                self.assertTrue(top <= y <= top + height, line.attrib)
        # Its one segment's offset (+0.032 ppm +- 0.071) is not significant:
        # the time error is drawn as measured, and its legend says so.
        self.assertIn("time error, mean per column (its offset, +0.032 ppm, not significant: not taken off)", page)

    def test_many_runs_list_the_first_and_count_the_rest(self):
        log = Log()
        for run in range(25):
            log.run(1, T0 + run * 10_000)
            log.run(6, system_ms=1031.2500, banner=False)
        page = self.report(log)
        self.assertEqual(len(re.findall(r"<tr><td class=\"n\">\d+</td><td class=\"file\">", page)), 20)
        self.assertEqual(page.count("and 5 more runs, not listed"), 3, "one row in each per-run table")
        # Steps of the listed runs, up to a hundred in all.
        self.assertIn("and 50 more steps, not listed", page)
