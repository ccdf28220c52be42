"""The chart's layout: labels apart, marks inside the frame, gaps visible."""

import re
import xml.etree.ElementTree as ElementTree

from analyze_e2e import SVG, T0, Log, AnalyzeTestCase, crafted_log


def text_boxes(root):
    """The boxes of the chart's level text, a little smaller than any
    sans-serif font draws them: (left, top, right, bottom, text)."""
    boxes = []
    for e in root.iter(SVG + "text"):
        if e.get("transform") or not e.text:
            continue
        size = float(e.get("font-size", 12))
        width = 0.55 * size * len(e.text)
        x, y = float(e.get("x")), float(e.get("y"))
        left = {"start": x, "middle": x - width / 2, "end": x - width}[e.get("text-anchor", "start")]
        boxes.append((left, y - 0.7 * size, left + width, y, e.text))
    return boxes


class ChartLayout(AnalyzeTestCase):
    """What the chart must look like, checked in its coordinates."""

    def chart(self, log, name="clock.log"):
        self.analyze(self.write(name, log.bytes()), "--svg", self.path("chart.svg"))
        root = ElementTree.parse(self.path("chart.svg")).getroot()
        return root, {e.get("id"): e for e in root.iter() if e.get("id")}

    def frames(self, root):
        """The panels' frames, top to bottom, as (left, top, right, bottom)."""
        rects = [e for e in root.iter(SVG + "rect") if e.get("fill") == "none"]
        boxes = [tuple(float(r.get(k)) for k in ("x", "y", "width", "height")) for r in rects]
        return sorted((x, y, x + w, y + h) for x, y, w, h in boxes)

    def test_no_label_is_drawn_over_another_nor_run_lines_too_close(self):
        # Run 2 starting at the right edge, beside the +20 ms label.
        log, many = Log(), Log()
        log.run(301, T0, counter_ms=999.9990)
        log.run(2, log.t + 2000)
        # And a long log of many short runs, whose labels crowd.
        for run in range(10_100):
            many.run(2, T0 + run * 10_000)
        for each in (log, many):
            root, ids = self.chart(each)
            boxes = text_boxes(root)
            for i, a in enumerate(boxes):
                for b in boxes[i + 1:]:
                    overlap = a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]
                    self.assertFalse(overlap, "%r over %r" % (a[4], b[4]))
        left, _, right, _ = self.frames(root)[0]
        lines = list(ids["runs"].iter(SVG + "line"))
        self.assertLessEqual(len(lines), 2 * (right - left) / 8, "a run line every 8 pixels at most, in both panels")

    def test_the_crafted_log_shows_what_the_reader_needs_where_it_belongs(self):
        root, ids = self.chart(crafted_log()[0], "clock & co.log")
        self.assertEqual(root.tag, SVG + "svg")
        for promised in ("title", "difference", "thresholds", "steps", "runs", "adjustment", "time-axis", "legend"):
            self.assertIn(promised, ids)
        self.assertIn("clock & co.log", ids["title"].text)
        self.assertEqual(len(ids["thresholds"].findall(SVG + "line")), 2, "at +20 and -20 ms")
        self.assertEqual(len(ids["steps"].findall(SVG + "circle")), 2)
        self.assertEqual(len(ids["runs"].findall(SVG + "line")), 2, "run 2 starts: a line through each panel")
        self.assertIn("13:40", [e.text for e in ids["time-axis"].iter(SVG + "text")])
        # Every step dot inside the frame.
        left, top, right, bottom = self.frames(root)[0]
        for dot in ids["steps"].iter(SVG + "circle"):
            x, y, r = (float(dot.get(k)) for k in ("cx", "cy", "r"))
            self.assertTrue(left <= x - r and x + r <= right and top <= y - r and y + r <= bottom, dot.attrib)
        # Run 2 loses 3 samples within an hour's chart: a band through
        # both panels, at least 2 pixels wide, where they are missing.
        gaps = list(ids["gaps"].iter(SVG + "rect"))
        self.assertEqual(len(gaps), 2)
        self.assertTrue(all(float(g.get("width")) >= 2 for g in gaps))
        # The slew reaches -1593.6 ppm: a tick at or beyond it.
        slew_ticks = [float(e.text) for e in ids["adjustment-axis"].iter(SVG + "text") if not e.get("transform")]
        self.assertLessEqual(min(slew_ticks), -1593.6)
        # Where the difference's scale turns logarithmic.
        labels = [e.text for e in ids["difference-axis"].iter(SVG + "text")]
        self.assertIn("+0.001", labels)
        self.assertIn("-0.001", labels)

    def test_a_lone_sample_shows(self):
        log = Log()
        log.sample(at=T0)
        root, ids = self.chart(log)
        self.assertEqual(len(list(ids["difference-alone"].iter(SVG + "circle"))), 1, "a path of no length is unseen")
        self.assertIn(": 1 sample in 1 run, 0 steps", "".join(root.itertext()))
        # Its histogram counts whole samples.
        self.analyze(self.path("clock.log"), "--html", self.path("report.html"))
        html = self.read("report.html")
        axes = html[html.index('id="histogram-axes"'):]
        labels = re.findall(r">([^<]*)</text>", axes[:axes.index("</g>")])
        self.assertEqual(labels[:2], ["0", "1"], "the count axis, then the difference's")
