"""The ovrin command, the C hosts and the example host against ovrin-sim
processes: the basics. Formats, files, reconnecting, captures and the search's
reasons are in session_test.py.

Usage: cli_test.py BUILD_DIR
"""
import datetime
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import BUILD, OvrinCase, Sim, main  # noqa: E402  (takes BUILD_DIR from the command line)


class OvrinCommandTest(OvrinCase):
    def test_find_prints_the_port(self):
        silent = self.sim("--silent")
        meter = self.sim()
        result = self.ovrin("find", ports=[silent.path, meter.path])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), meter.path)

    def test_a_port_whose_open_blocks_holds_nothing_up(self):
        """The open of the first port takes 20 s; the meter answers on the
        second, and ovrin ends without waiting for that open."""
        silent = self.sim("--silent")
        meter = self.sim()
        slow = dict(LD_PRELOAD=os.path.join(BUILD, "libslow_open_shim.so"), OVRIN_SLOW_OPEN=silent.path,
                    OVRIN_SLOW_OPEN_MS="20000")
        start = time.monotonic()
        result = self.ovrin("find", "--verbose", ports=[silent.path, meter.path], extra=slow)
        self.assertLess(time.monotonic() - start, 5, result.stderr)
        self.assertEqual(result.stdout.strip(), meter.path, result.stderr)
        self.assertRegex(result.stderr, silent.path + r" .*: still opening after \d+ ms: given up")

    def test_measure_prints_every_reading(self):
        meter = self.sim("--value", "1000", "--step", "25")
        result = self.ovrin("measure", "--count", "3", "--interval", "50", ports=[meter.path])
        self.assertEqual(result.returncode, 0, result.stderr)
        values = [line.split()[5] for line in result.stdout.splitlines()]
        self.assertEqual(values, ["1000", "1025", "1050"])

    def test_measure_as_json(self):
        meter = self.sim("--value", "-42")
        before = time.time()
        result = self.ovrin("measure", "--json", ports=[meter.path])
        self.assertEqual(result.returncode, 0, result.stderr)
        reading = json.loads(result.stdout)
        when = datetime.datetime.strptime(reading.pop("time"), "%Y-%m-%dT%H:%M:%S.%fZ")
        self.assertAlmostEqual(when.replace(tzinfo=datetime.timezone.utc).timestamp(), before, delta=10)
        self.assertEqual(reading, {"seq": 1, "kind": 6, "auxDigit": 0, "value1": -42, "value2": 0,
                                   "line": "31..00-00000042"})

    def test_error_reply_is_explained(self):
        meter = self.sim("--error", "252")
        result = self.ovrin("measure", ports=[meter.path])
        self.assertEqual(result.stdout.strip(), "error 252: Temperature too high")
        result = self.ovrin("measure", "--json", ports=[meter.path])
        reading = json.loads(result.stdout)
        self.assertEqual({key: reading[key] for key in ("kind", "code", "error", "line")},
                         {"kind": 1, "code": 252, "error": "Temperature too high", "line": "@E252"})

    def test_port_option_is_tried_first(self):
        first = self.sim()
        second = self.sim()
        result = self.ovrin("find", "--port", second.path, ports=[first.path, second.path])
        self.assertEqual(result.stdout.strip(), second.path, result.stderr)

    def test_error_texts(self):
        result = self.ovrin("error", "203", "0", "-5")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.splitlines(), [
            "203: Invalid command or invalid parameter", "0: unkown error", "-5: unkown error"])

    def test_exit_codes(self):
        silent = self.sim("--silent")
        cases = [
            (["bogus"], 2), (["measure", "--count", "0"], 2), (["measure", "--count"], 2),
            (["measure", "--frobnicate"], 2), (["error"], 2), (["error", "12x"], 2), ([], 2),
            (["measure"], 1), (["serve", "--listen", "127.0.0.1"], 2), (["serve", "--listen", "::1:8070"], 2),
            (["serve", "--listen", "127.0.0.1:70000"], 2), (["serve", "--listen", "192.0.2.1:0"], 6),
            (["serve", "--listen", "127.0.0.1:0"], 1),
        ]
        for args, code in cases:
            with self.subTest(args=args):
                result = self.ovrin(*args, ports=[silent.path])
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertTrue(result.stderr.startswith("ovrin: "), result.stderr)

    def test_no_reply_in_time(self):
        meter = self.sim("--probe-delay", "0", "--delay", "2000")
        result = self.ovrin("measure", "--timeout", "300", ports=[meter.path])
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertIn("no reply", result.stderr)

    def test_the_search_asks_nothing(self):
        """Four silent ports before the meter: the classic search would ask
        whether to go on; this one never does, so --no stops nothing."""
        sims = [self.sim("--silent") for _ in range(4)]
        meter = self.sim()
        ports = [sim.path for sim in sims] + [meter.path]
        for answer in ("--no", "--yes"):
            result = self.ovrin("find", answer, ports=ports)
            self.assertEqual(result.stdout.strip(), meter.path, result.stderr)
            self.assertNotIn("Keep searching", result.stderr)

    def test_monitor_prints_every_line_of_a_burst_once(self):
        meter = self.sim("--burst", "1000", "--value", "1", "--step", "1", "--baud", "0", "--start-reply", "?\x7f")
        monitor = subprocess.Popen([os.path.join(BUILD, "ovrin"), "monitor", "--json"],
                                   env=self.environment([meter.path]), stdout=subprocess.PIPE, text=True)
        lines = [monitor.stdout.readline() for _ in range(1001)]
        monitor.send_signal(signal.SIGINT)
        self.assertEqual(monitor.wait(timeout=10), 0)
        self.assertEqual(monitor.stdout.read(), "")
        self.assertIn('"line":"?\\u007f"', lines[0])  # bytes outside printable ASCII escaped
        readings = [json.loads(line) for line in lines]
        self.assertEqual([r["seq"] for r in readings], list(range(1, 1002)))
        self.assertEqual([r["value1"] for r in readings[1:]], list(range(1, 1001)))

    def test_monitor_reports_a_lost_link(self):
        meter = self.sim()
        monitor = subprocess.Popen([os.path.join(BUILD, "ovrin"), "monitor"], env=self.environment([meter.path]),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertIn("kind 0", monitor.stdout.readline())  # the answer to the start-up command
        meter.stop()
        self.assertEqual(monitor.wait(timeout=10), 4)
        self.assertIn("lost", monitor.stderr.read())

    def test_monitor_ends_cleanly_on_interrupt(self):
        meter = self.sim()
        monitor = subprocess.Popen([os.path.join(BUILD, "ovrin"), "monitor"], env=self.environment([meter.path]),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        monitor.stdout.readline()
        monitor.send_signal(signal.SIGINT)
        self.assertEqual(monitor.wait(timeout=10), 0)

    def test_c_host_measures(self):
        meter = self.sim()
        result = subprocess.run([os.path.join(BUILD, "c_host")], env=self.environment([meter.path]),
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("c_host: kind 6 value1 12345", result.stdout)

    def test_c_host_drains_a_burst_without_a_window(self):
        meter = self.sim("--burst", "1000", "--value", "1", "--step", "1", "--baud", "0")
        result = subprocess.run([os.path.join(BUILD, "c_readings"), "1000"], env=self.environment([meter.path]),
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("c_readings: 1000 distances, 1001 readings in the callback, 0 failed", result.stdout)

    def test_example_host_measures(self):
        meter = self.sim("--value", "300", "--step", "1")
        result = subprocess.run([os.path.join(BUILD, "queue_host"), "2"], env=self.environment([meter.path]),
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), ["meter on " + meter.path, "distance 300", "distance 301"])


class SimulatorTest(unittest.TestCase):
    def test_help_and_bad_options(self):
        sim = os.path.join(BUILD, "ovrin-sim")
        self.assertIn("--fragment", subprocess.run([sim, "--help"], capture_output=True, text=True).stdout)
        self.assertEqual(subprocess.run([sim, "--delay", "x"], capture_output=True).returncode, 2)

    def test_link_and_clean_exit(self):
        with tempfile.TemporaryDirectory() as folder:
            link = os.path.join(folder, "meter")
            sim = Sim("--link", link)
            self.assertEqual(os.path.realpath(link), sim.path)
            sim.process.send_signal(signal.SIGINT)
            self.assertEqual(sim.process.wait(timeout=5), 0)
            self.assertFalse(os.path.lexists(link))

    def test_paced_answer_takes_the_wire_time(self):
        sim = Sim("--baud", "1200")  # 17 bytes of answer at 120 bytes/s: about 140 ms
        fd = os.open(sim.path, os.O_RDWR | os.O_NOCTTY)
        try:
            os.write(fd, b"g\r\n")
            start = time.monotonic()
            received = b""
            while not received.endswith(b"\r\n"):
                received += os.read(fd, 64)
            self.assertGreater(time.monotonic() - start, 0.12)
            self.assertTrue(received.startswith(b"31..00+"), received)
        finally:
            os.close(fd)
            sim.stop()


if __name__ == "__main__":
    main()
