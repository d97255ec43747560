"""The ovrin command as a tool left running: output formats and files,
interrupts, reconnecting when the meter goes away, capture and replay, and
what the search tells about each port.

Usage: session_test.py BUILD_DIR
"""
import csv
import grp
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import BUILD, OvrinCase, main  # noqa: E402  (takes BUILD_DIR from the command line)

HERE = os.path.dirname(os.path.abspath(__file__))
CSV_HEADER = "seq,time,kind,auxDigit,value1,value2,line"


class FilesTest(OvrinCase):
    def setUp(self):
        super().setUp()
        self.folder = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.folder.cleanup()
        super().tearDown()

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def test_files_are_appended_to_with_one_header(self):
        meter = self.sim("--value", "10", "--step", "1")
        for name, fmt in (("readings.csv", "csv"), ("readings.jsonl", "json")):
            for _ in range(2):
                result = self.ovrin("measure", "--count", "2", "--format", fmt, "--output", self.path(name),
                                    ports=[meter.path])
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, "")
        with open(self.path("readings.csv"), newline="") as file:
            rows = list(csv.reader(file))
        self.assertEqual(rows[0], CSV_HEADER.split(","))
        self.assertEqual([row[4] for row in rows[1:]], ["10", "11", "12", "13"])
        self.assertEqual([row[0] for row in rows[1:]], ["1", "2", "1", "2"])  # seq counts each run
        self.assertRegex(rows[1][1], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        self.assertEqual(rows[1][6], "31..00+00000010")
        with open(self.path("readings.jsonl")) as file:
            values = [json.loads(line)["value1"] for line in file]
        self.assertEqual(values, [14, 15, 16, 17])

    def test_error_lines_cannot_become_formulas(self):
        meter = self.sim("--error", "252")
        result = self.ovrin("measure", "--format", "csv", ports=[meter.path])
        row = list(csv.reader(result.stdout.splitlines()))[1]
        self.assertEqual((row[2], row[4], row[6]), ("1", "252", "'@E252"))

    def test_outputs_that_cannot_be_written(self):
        meter = self.sim()
        kept = self.path("kept.csv")
        self.assertEqual(self.ovrin("measure", "--format", "csv", "--output", kept, ports=[meter.path]).returncode, 0)
        before = open(kept).read()
        os.chmod(kept, stat.S_IRUSR)
        cases = [("/dev/full", "No space left"), (self.folder.name, "directory")]
        if os.geteuid() != 0:  # root writes to a read-only file all the same
            cases.append((kept, "ermission"))
        for target, reason in cases:
            with self.subTest(target=target):
                result = self.ovrin("measure", "--format", "csv", "--output", target, ports=[meter.path])
                self.assertEqual(result.returncode, 5, result.stderr)
                self.assertIn('"%s"' % target, result.stderr)
                self.assertIn(reason, result.stderr)
        self.assertEqual(open(kept).read(), before)

    def test_sigterm_in_a_stream_leaves_complete_lines(self):
        meter = self.sim("--burst", "200000", "--value", "1", "--step", "1", "--baud", "0")
        output = self.path("stream.csv")
        monitor = self.start_ovrin("monitor", "--format", "csv", "--output", output, ports=[meter.path])
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and (not os.path.exists(output) or os.path.getsize(output) < 100000):
            time.sleep(0.05)
        monitor.send_signal(signal.SIGTERM)
        self.assertEqual(monitor.wait(timeout=10), 0, monitor.stderr.read())
        with open(output, newline="") as file:
            content = file.read()
        self.assertTrue(content.endswith("\n"))
        rows = list(csv.reader(content.splitlines()))
        self.assertEqual(rows[0], CSV_HEADER.split(","))
        self.assertGreater(len(rows), 1000)
        self.assertEqual([int(row[0]) for row in rows[1:]], list(range(1, len(rows))))
        self.assertTrue(all(len(row) == 7 for row in rows))


class ReconnectTest(OvrinCase):
    def test_readings_on_both_sides_of_a_gap_come_once(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        link = os.path.join(folder, "meter")
        # A burst the library still holds when the link goes: monitor is not
        # read meanwhile, so it cannot take the readings as fast as they come.
        first = self.sim("--link", link, "--burst", "1500", "--value", "1", "--step", "1", "--baud", "0")
        monitor = self.start_ovrin("monitor", "--reconnect", "--json", ports=[link])
        lines = [json.loads(monitor.stdout.readline()) for _ in range(3)]  # searching, connected, a reading
        time.sleep(1)  # the burst has left the meter
        first.stop()  # the meter goes away; it comes back at the same path
        self.sim("--link", link, "--burst", "3", "--value", "100000", "--step", "1", "--baud", "0")
        while True:
            lines.append(json.loads(monitor.stdout.readline()))
            if lines[-1].get("value1") == 100002:
                break
        monitor.send_signal(signal.SIGINT)
        self.assertEqual(monitor.wait(timeout=10), 0)
        readings = [line for line in lines if "seq" in line]
        events = [line["event"] for line in lines if "event" in line]
        self.assertEqual([r["seq"] for r in readings], list(range(1, 1506)))
        self.assertEqual([r["value1"] for r in readings if r["kind"] == 6], list(range(1, 1501)) + [100000, 100001, 100002])
        self.assertEqual(events[:3], ["searching", "connected", "lost"])
        self.assertEqual(events[-1], "connected")
        self.assertTrue(set(events[3:-1]) <= {"searching"}, events)
        errors = monitor.stderr.read()
        self.assertIn("ovrin: lost " + link, errors)
        self.assertIn("ovrin: connected " + link, errors)

    def test_without_reconnect_a_lost_link_ends_the_run(self):
        meter = self.sim("--vanish", "3")
        result = self.ovrin("measure", ports=[meter.path])
        self.assertEqual(result.returncode, 4, result.stderr)


class CaptureTest(OvrinCase):
    def measure(self, port, *extra):
        result = self.ovrin("measure", "--count", "3", "--json", *extra, ports=[port])
        self.assertEqual(result.returncode, 0, result.stderr)
        return [(r["kind"], r["value1"], r["line"]) for r in map(json.loads, result.stdout.splitlines())]

    def test_a_capture_plays_back_as_it_was_recorded(self):
        with tempfile.TemporaryDirectory() as folder:
            capture = os.path.join(folder, "session.capture")
            meter = self.sim("--value", "500", "--step", "7", "--fragment", "5", "--baud", "0")
            recorded = self.measure(meter.path, "--record", capture)
            with open(capture) as file:
                lines = file.read().splitlines()
            self.assertEqual(lines[0], "# ovrin capture 1")
            directions = [line.split()[1] for line in lines if not line.startswith("#")]
            self.assertEqual(directions.count(">"), 5)  # probe, start-up, three measures
            meter.stop()  # else the remembered port would find it again
            replayed = self.measure(self.sim("--replay", capture).path)
        self.assertEqual(replayed, recorded)
        self.assertEqual([value for _, value, _ in recorded], [500, 507, 514])

    def test_the_committed_capture_plays_back(self):
        fixture = os.path.join(HERE, "fixtures", "three-measurements.capture")
        readings = self.measure(self.sim("--replay", fixture, "--speed", "4").path)
        self.assertEqual(readings, [(6, 1520, "31..00+00001520"), (6, 1555, "31..00+00001555"),
                                    (6, 1590, "31..00+00001590")])

    def test_a_file_that_is_no_capture_is_refused(self):
        with tempfile.NamedTemporaryFile("w", suffix=".capture") as bogus:
            bogus.write("0.1 > 67\n")
            bogus.flush()
            result = subprocess.run([os.path.join(BUILD, "ovrin-sim"), "--replay", bogus.name],
                                    capture_output=True, text=True, timeout=10)
        self.assertEqual(result.returncode, 2)
        self.assertIn("not an ovrin capture", result.stderr)


class SearchReportTest(OvrinCase):
    def test_find_verbose_tells_how_each_port_fared(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        silent = self.sim("--silent")
        wrong = self.sim("--probe-reply", "13....+00000001")
        meter = self.sim()
        missing = os.path.join(folder, "nothing-here")
        result = self.ovrin("find", "--verbose", "--yes",
                            ports=[missing, folder, silent.path, wrong.path, meter.path])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), meter.path)
        reported = [line for line in result.stderr.splitlines() if line.startswith("ovrin: /")]
        self.assertEqual(reported, [  # each named by what it is, where the system tells
            "ovrin: %s: no such device" % missing,
            "ovrin: %s: not a serial device" % folder,
            # Still in their answer window when the meter answered.
            "ovrin: %s (pseudo-terminal): not needed: the meter answered on %s first" % (silent.path, meter.path),
            "ovrin: %s (pseudo-terminal): not needed: the meter answered on %s first" % (wrong.path, meter.path),
            "ovrin: %s (pseudo-terminal): accepted" % meter.path,
        ])

    def test_a_failed_measure_tells_why(self):
        silent = self.sim("--silent")
        result = self.ovrin("measure", ports=[silent.path])
        self.assertEqual(result.returncode, 1)
        self.assertIn("no meter found", result.stderr)
        self.assertIn("%s (pseudo-terminal): no answer" % silent.path, result.stderr)

    def copy_for_anyone(self):
        """ovrin and its library copied where another user can run them: the
        build folder may be private (mktemp -d makes it 700)."""
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        os.chmod(folder, 0o755)
        parent = os.path.dirname(folder)
        while parent != os.path.dirname(parent):
            if not os.stat(parent).st_mode & stat.S_IXOTH:
                self.skipTest("%s is closed to other users: nowhere to put a copy they can run" % parent)
            parent = os.path.dirname(parent)
        for name in ("ovrin", "libOvrin70.so.0"):  # ovrin finds the library beside itself
            shutil.copy(os.path.join(BUILD, name), folder)
        return os.path.join(folder, "ovrin")

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root to become another user")
    def test_no_permission_names_the_group_and_the_fix(self):
        meter = self.sim()
        # As a serial adapter's device is: its group may use it, others may not.
        os.chown(meter.path, -1, grp.getgrnam("dialout").gr_gid)
        os.chmod(meter.path, 0o660)
        os.chmod(self.config.name, 0o777)
        result = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                 self.copy_for_anyone(), "find"],
                                env=self.environment([meter.path]), capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn('%s (pseudo-terminal): no permission (the device belongs to group "dialout"' % meter.path,
                      result.stderr)
        self.assertIn('sudo usermod -aG dialout "$USER"', result.stderr)


class PortsTest(OvrinCase):
    def test_ports_lists_the_search_order_with_what_is_known(self):
        meter = self.sim()
        listed = ["/dev/null", "relative/name", meter.path]
        result = self.ovrin("ports", "--json", ports=listed)
        self.assertEqual(result.returncode, 0, result.stderr)
        ports = json.loads(result.stdout)
        self.assertEqual([p["port"] for p in ports], ["/dev/null", meter.path])  # not a path: never tried
        self.assertEqual(ports[0]["listedAs"], "OVRIN_SERIAL_PORTS")
        self.assertEqual(ports[1]["opens"], True)
        self.assertEqual((ports[1]["kind"], ports[1]["description"]), ("virtual", "pseudo-terminal"))
        self.assertNotIn("kind", ports[0])  # /dev/null: nothing known, nothing said
        self.assertFalse(any(p["remembered"] for p in ports))
        # Once a meter was found, its port comes first.
        self.assertEqual(self.ovrin("find", ports=listed).returncode, 0)
        ports = json.loads(self.ovrin("ports", "--json", ports=listed).stdout)
        self.assertEqual([(p["port"], p["remembered"]) for p in ports], [(meter.path, True), ("/dev/null", False)])


if __name__ == "__main__":
    main()
