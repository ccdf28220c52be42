"""--check as a monitoring core runs it: Debian's Nagios 4, on a private
configuration, checks a service per log and records the state and the
performance data that it read from the one line.

  NAGIOS  nagios4 (Debian's nagios4-core)
"""

import os
import re
import subprocess
import time

from analyze_e2e import ANALYZE, ROOT, AnalyzeTestCase

NAGIOS = os.environ.get("NAGIOS", "/usr/sbin/nagios4")
DOCS = os.path.join(ROOT, "docs")
CONFIG = """log_file={d}/nagios.log
cfg_file={d}/objects.cfg
status_file={d}/status.dat
object_cache_file={d}/objects.cache
precached_object_file={d}/objects.precache
lock_file={d}/nagios.lock
temp_file={d}/nagios.tmp
temp_path={d}
check_result_path={d}
nagios_user={user}
nagios_group={group}
check_result_reaper_frequency=1
status_update_interval=1
interval_length=1
retain_state_information=0
use_syslog=0
enable_notifications=0
illegal_macro_output_chars=`~$&|'"<>
"""
OBJECTS = """define timeperiod {{
  timeperiod_name always
  alias always
{days}
}}
define command {{
  command_name true
  command_line /bin/true
}}
define command {{
  command_name tickwatch
  command_line {analyze} --check $ARG1$
}}
define contact {{
  contact_name nobody
  host_notification_period always
  service_notification_period always
  host_notification_options n
  service_notification_options n
  host_notification_commands true
  service_notification_commands true
}}
define host {{
  host_name clock
  address 127.0.0.1
  check_command true
  max_check_attempts 1
  check_period always
  contacts nobody
}}
"""
SERVICE = """define service {
  host_name clock
  service_description %s
  check_command tickwatch!%s
  max_check_attempts 1
  check_interval 1
  retry_interval 1
  check_period always
  notification_period always
  contacts nobody
}
"""


class CheckUnderNagios(AnalyzeTestCase):

    def setUp(self):
        super().setUp()
        if not os.path.isfile(NAGIOS):
            self.skipTest("no nagios4 at NAGIOS=%r: tools/install-deps.sh installs nagios4-core" % NAGIOS)

    def configure(self, logs):
        user, group = (subprocess.check_output(["id", option], text=True).strip() for option in ("-un", "-gn"))
        self.write("nagios.cfg", CONFIG.format(d=self.dir, user=user, group=group).encode())
        days = "\n".join("  %s 00:00-24:00" % day for day in ("sunday", "monday", "tuesday", "wednesday",
                                                                "thursday", "friday", "saturday"))
        objects = OBJECTS.format(days=days, analyze=ANALYZE) + "".join(SERVICE % item for item in logs.items())
        self.write("objects.cfg", objects.encode())
        verified = subprocess.run([NAGIOS, "-v", self.path("nagios.cfg")], capture_output=True, text=True, timeout=60)
        self.assertEqual(verified.returncode, 0, verified.stdout)

    def recorded(self, names):
        """Each service's current_state and performance_data from status.dat,
        once every one has been checked."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                status = self.read("status.dat")
            except FileNotFoundError:
                status = ""
            services = {}
            for block in re.findall(r"servicestatus \{(.*?)\}", status, re.S):
                fields = dict(re.findall(r"^\s*(\w+)=(.*)$", block, re.M))
                if fields.get("has_been_checked") == "1":
                    services[fields["service_description"]] = fields
            if set(services) == set(names):
                return services
            time.sleep(0.5)
        self.fail("nagios did not check every service within 60 s: %s" % self.read("nagios.log"))

    def test_the_core_records_each_logs_state_and_perfdata(self):
        logs = {"steps": os.path.join(DOCS, "steps.log"), "clock": os.path.join(DOCS, "clock.log"),
                "missing": self.path("missing.log")}
        self.configure(logs)
        core = subprocess.Popen([NAGIOS, self.path("nagios.cfg")], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            services = self.recorded(logs)
        finally:
            core.terminate()
            core.wait(timeout=30)
        self.assertEqual({name: services[name]["current_state"] for name in logs},
                         {"steps": "2", "clock": "0", "missing": "3"})
        self.assertIn("largest step -1000 ms (critical above 100 ms)", services["steps"]["plugin_output"])
        self.assertIn("missing.log: cannot read", services["missing"]["plugin_output"])
        # As the core parsed it: the label, the value in seconds, the ranges.
        self.assertIn("'largest_step'=1s;;0.1;0 ", services["steps"]["performance_data"])
        self.assertIn("'steps'=0;0;10;0 ", services["clock"]["performance_data"])


class CheckUsage(AnalyzeTestCase):

    def test_a_usage_error_is_unknown_in_the_one_line(self):
        for args in (["--json"], ["--warn-steps", "10:5"], ["--bogus"]):
            out, _ = self.analyze("--check", *args, os.path.join(DOCS, "clock.log"), status=3)
            self.assertRegex(out, r"^TICKWATCH UNKNOWN - [^|\n]+\n$", args)
