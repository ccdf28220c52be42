"""The end of tools/test's output: the figures that the tests measured (their
"figures:" lines), then one line saying which architectures ran under Wine
and how many tests were skipped, and why.

    python3 tools/test_summary.py BUILD_DIR RESULTS_XML

RESULTS_XML is what ctest --output-junit wrote for this run; the tests'
labels come from ctest --show-only in BUILD_DIR (tests/e2e/CMakeLists.txt
says what each label means).
"""

import json
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

ARCHITECTURES = (("win32", "x86"), ("win64", "x64"))


def labels_by_test(build_dir):
    listing = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build_dir, check=True, capture_output=True,
                             text=True).stdout
    labels = {}
    for test in json.loads(listing)["tests"]:
        for prop in test.get("properties", []):
            if prop["name"] == "LABELS":
                labels[test["name"]] = set(prop["value"])
    return labels


def skip_reason(case):
    """Why a test did not run: the reason a skipped test printed, or how
    CTest put it."""
    output = (case.findtext("system-out") or "").strip()
    for line in output.splitlines():
        if line.startswith("skipped: "):
            return line[len("skipped: "):]
    return output.lower() or "skipped"


def main():
    build_dir, results = sys.argv[1:3]
    if not os.path.isfile(results):
        print("Wine: no test ran")
        return
    labels = labels_by_test(build_dir)
    cases = ElementTree.parse(results).getroot().iter("testcase")
    ran, skipped = [], {}  # skipped: reason -> names
    for case in cases:
        name, status = case.get("name"), case.get("status")
        if status in ("run", "fail"):
            ran.append(name)
            if "fuzz_seeds" not in labels.get(name, ()):
                for line in (case.findtext("system-out") or "").splitlines():
                    if line.startswith("figures:"):
                        print(line)
        else:
            skipped.setdefault(skip_reason(case), []).append(name)

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
