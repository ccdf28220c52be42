"""The end of tools/test's output: the figures that the tests measured (their
"figures:" lines), then one line saying which architectures ran under Wine
and how many tests were skipped, and why.

    python3 tools/test_summary.py TESTS_JSON RESULTS_XML LAST_TEST_LOG

TESTS_JSON is ctest --show-only=json-v1 (the tests' labels; what each means:
tests/e2e/CMakeLists.txt), RESULTS_XML what ctest --output-junit wrote for
the run, and LAST_TEST_LOG the run's log, which holds each test's whole
output (the XML cuts long ones short).
"""

import json
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

ARCHITECTURES = (("win32", "x86"), ("win64", "x64"))
# The fuzzers' seed replays print figures too, but those of the fuzzing
# itself are the ones to record.
NO_FIGURES_LABEL = "fuzz_seeds"


def labels_by_test(listing):
    with open(listing) as f:
        tests = json.load(f)["tests"]
    labels = {}
    for test in tests:
        for prop in test.get("properties", []):
            if prop["name"] == "LABELS":
                labels[test["name"]] = set(prop["value"])
    return labels


def figures(log, labels):
    """The figures lines of the log, but for those of tests labelled
    NO_FIGURES_LABEL."""
    found, test = [], None
    with open(log, errors="replace") as f:
        for line in f:
            started = re.match(r"\d+/\d+ Test: (\S+)$", line.rstrip("\n"))
            if started:
                test = started.group(1)
            elif line.startswith("figures:") and NO_FIGURES_LABEL not in labels.get(test, ()):
                found.append(line.rstrip("\n"))
    return found


def skip_reason(case):
    """Why a test did not run: the reason a skipped test printed, or how
    CTest put it."""
    output = (case.findtext("system-out") or "").strip()
    for line in output.splitlines():
        if line.startswith("skipped: "):
            return line[len("skipped: "):]
    return output.lower() or "skipped"


def main():
    listing, results, log = sys.argv[1:4]
    if not os.path.isfile(results):
        print("Wine: no test ran")
        return
    labels = labels_by_test(listing)
    if os.path.isfile(log):
        for line in figures(log, labels):
            print(line)
    ran, skipped = [], {}  # skipped: reason -> names
    for case in ElementTree.parse(results).getroot().iter("testcase"):
        if case.get("status") in ("run", "fail"):
            ran.append(case.get("name"))
        else:
            skipped.setdefault(skip_reason(case), []).append(case.get("name"))

    def under_wine(names, arch):
        return [n for n in names if {"wine", arch} <= labels.get(n, set())]

    ran_under_wine, not_run = [], []
    for arch, shown in ARCHITECTURES:
        if under_wine(ran, arch):
            ran_under_wine.append(shown)
        else:
            reasons = [r for r, names in skipped.items() if under_wine(names, arch)]
            not_run.append("%s %s" % (shown, "skipped: " + "; ".join(reasons) if reasons else "not selected"))
    wine = " and ".join(ran_under_wine) or "nothing"
    if ran_under_wine and not_run:
        wine += " only"
    if not_run:
        wine += " (%s)" % ", ".join(not_run)
    count = sum(len(names) for names in skipped.values())
    line = "Wine: %s; %d test%s skipped" % (wine, count, "" if count == 1 else "s")
    # Skips for other reasons than an architecture's, with their tests.
    others = ["%s: %s" % (reason, ", ".join(names)) for reason, names in skipped.items()
              if not any(under_wine(names, arch) for arch, _ in ARCHITECTURES)]
    if others:
        line += " (%s)" % "; ".join(others)
    print(line)


if __name__ == "__main__":
    main()
