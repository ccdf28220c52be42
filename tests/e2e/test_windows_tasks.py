"""The scheduled tasks' script shipped in the zip (docs/tickwatch-tasks.ps1),
as far as Wine allows: its powershell.exe is a stub, so the script is checked
by tools/check_powershell.py, and what it names is looked for under Wine."""

import os
import re
import subprocess
import sys

from tickwatch_e2e import LOADER, ROOT, TickwatchTestCase, wine_env


class WindowsTasks(TickwatchTestCase):

    def test_the_script_passes_its_check_and_what_its_tasks_start_is_there(self):
        script = os.path.join(ROOT, "docs", "tickwatch-tasks.ps1")
        checked = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "check_powershell.py"), script],
                                 capture_output=True, text=True)
        self.assertEqual((checked.returncode, checked.stderr), (0, ""))
        text = open(script).read()
        # The rotation task's powershell.exe, where the script names it.
        self.assertIn('"System32\\WindowsPowerShell\\v1.0\\powershell.exe"', text)
        found = subprocess.run([LOADER, "cmd", "/c", "if exist %SystemRoot%\\System32\\WindowsPowerShell\\v1.0\\"
                                "powershell.exe echo found"], env=wine_env(), capture_output=True, timeout=60)
        self.assertEqual(found.stdout.strip(), b"found")
        # tickwatch's task, with the script's arguments, records.
        arguments = re.search(r'"tickwatch\.exe"\) `\s+-Argument "([^"]+)"', text).group(1)
        self.assertEqual(arguments, "-p -m -o clock.log")
        run = self.run_for_lines(2, *arguments.split())
        self.assertEqual(len(re.findall(rb"\) ?(><)?\r\n", self.read("clock.log"))), len(run.report_lines()))
