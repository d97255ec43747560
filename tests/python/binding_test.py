"""The Python binding against ovrin-sim processes.

Usage: binding_test.py BUILD_DIR  (imports ovrin70 from bindings/python)
"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else "build"
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
os.environ["OVRIN70_LIBRARY"] = os.path.join(BUILD, "libOvrin70.so")
sys.path.insert(0, os.path.join(ROOT, "bindings", "python"))
import ovrin70  # noqa: E402


class BindingTest(unittest.TestCase):
    def setUp(self):
        self.config = tempfile.TemporaryDirectory()
        os.environ["XDG_CONFIG_HOME"] = self.config.name
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            if sim.poll() is None:
                sim.terminate()
            sim.wait(timeout=5)
        self.config.cleanup()
        ovrin70.set_question_answer(None)

    def sim(self, *args):
        process = subprocess.Popen([os.path.join(BUILD, "ovrin-sim"), *args], stdout=subprocess.PIPE, text=True)
        self.sims.append(process)
        path = process.stdout.readline().strip()
        return path

    def ports(self, *paths):
        os.environ["OVRIN_SERIAL_PORTS"] = ":".join(paths)

    def test_open_and_measure(self):
        self.ports(self.sim("--value", "777", "--step", "3"))
        before = datetime.datetime.now(datetime.timezone.utc)
        with ovrin70.Meter() as meter:
            self.assertTrue(meter.port.startswith("/dev/pts/"))
            reading = meter.measure()
            self.assertEqual((reading.kind, reading.aux_digit, reading.value1, reading.value2), (6, 0, 777, 0))
            self.assertEqual((reading.seq, reading.line), (2, b"31..00+00000777"))  # after the start-up answer
            self.assertLess(abs(reading.time - before), datetime.timedelta(seconds=10))
            self.assertEqual(meter.measure().value1, 780)
            self.assertEqual(meter.latest(), ovrin70.Reply(6, 0, 780, 0))

    def test_every_reading_once_in_order(self):
        self.ports(self.sim("--burst", "500", "--value", "1", "--step", "1", "--baud", "0"))
        with ovrin70.Meter(capacity=600) as meter:
            readings = list(meter.readings(timeout=1))
            self.assertEqual([r.seq for r in readings], list(range(1, 502)))
            self.assertEqual([r.value1 for r in readings[1:]], list(range(1, 501)))
            self.assertEqual(meter.dropped, 0)

    def test_lines_beside_the_reply_are_kept(self):
        self.ports(self.sim("--repeat", "3"))
        with ovrin70.Meter() as meter:
            # The search takes the probe's answer up to its first CR LF: the two
            # repeats after it, and the start-up answer three times.
            self.assertEqual(len(list(meter.readings(timeout=0.5))), 5)
            self.assertEqual(meter.measure().value1, 12345)  # the first of three lines
            self.assertEqual([reading.value1 for reading in meter.readings(timeout=1)], [12345, 12345])

    def test_error_reply_and_texts(self):
        self.ports(self.sim("--error", "256"))
        with ovrin70.Meter() as meter:
            reply = meter.measure()
        self.assertEqual((reply.kind, reply.value1), (1, 256))
        self.assertEqual(ovrin70.error_text(reply.value1), "Receiver signal too high")
        self.assertEqual(ovrin70.error_text(-1), "unkown error")

    def test_no_meter(self):
        self.ports(self.sim("--silent"))
        with self.assertRaises(ovrin70.OvrinError):
            ovrin70.Meter()

    def test_no_question_is_asked(self):
        """Four silent ports before the meter: the classic search would ask
        before the fourth; this one asks nothing, and a No changes nothing."""
        silent = [self.sim("--silent") for _ in range(4)]
        meter = self.sim()
        self.ports(*silent, meter)
        ovrin70.set_question_answer(False)
        start = time.monotonic()
        with ovrin70.Meter() as found:
            self.assertEqual(found.port, meter)
        self.assertLess(time.monotonic() - start, 1.5)  # one by one: over 2 s

    def test_lost_link(self):
        self.ports(self.sim("--vanish", "3"))  # probe, start-up, then half a reply
        with ovrin70.Meter() as meter:
            with self.assertRaises(ovrin70.LinkLost):
                meter.measure(timeout=5)

    def test_port_tried_first(self):
        first, second = self.sim(), self.sim()
        self.ports(first, second)
        with ovrin70.Meter(port=second) as meter:
            self.assertEqual(meter.port, second)


    def test_which_library_is_loaded(self):
        # As a wheel installs it, with the library inside the package: that one,
        # unless OVRIN70_LIBRARY names another build, which then wins.
        built = os.environ["OVRIN70_LIBRARY"]
        with tempfile.TemporaryDirectory() as site:
            shutil.copytree(os.path.join(ROOT, "bindings", "python", "ovrin70"), os.path.join(site, "ovrin70"))
            inside = shutil.copy(built, os.path.join(site, "ovrin70", "libOvrin70.so"))
            for named, expected in ((None, inside), (built, built)):
                env = dict(os.environ, PYTHONPATH=site)
                env.pop("OVRIN70_LIBRARY")
                if named:
                    env["OVRIN70_LIBRARY"] = named
                loaded = subprocess.run(
                    [sys.executable, "-c", "import ovrin70; print(*(l.split()[-1] for l in open('/proc/self/maps') "
                     "if 'libOvrin70' in l))"], env=env, capture_output=True, text=True, check=True).stdout.split()
                self.assertEqual(set(loaded), {os.path.realpath(expected)}, named)
            # A named build that cannot be loaded is an error, never the packaged one instead.
            failed = subprocess.run([sys.executable, "-c", "import ovrin70"], capture_output=True, text=True,
                                    env=dict(os.environ, PYTHONPATH=site, OVRIN70_LIBRARY=os.path.join(site, "none.so")))
            self.assertNotEqual(failed.returncode, 0)
            self.assertIn("OVRIN70_LIBRARY names", failed.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
