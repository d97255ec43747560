"""ovrin type with real windows: under Xvfb, readings from the simulated
meter arrive, formatted and in order with the key after each, in the focused
text field of a real Tk window; the measure key, pressed through XTest,
measures; a reading waits while Shift is held, and Caps Lock changes nothing.
Without a display: the message and the exit status.

Usage: type_test.py BUILD_DIR
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import BUILD, OvrinCase, main  # noqa: E402  (takes BUILD_DIR from the command line)

HERE = os.path.dirname(os.path.abspath(__file__))


@unittest.skipUnless(shutil.which("Xvfb") and shutil.which("xdotool"), "needs Xvfb and xdotool")
class TypeTest(OvrinCase):
    def setUp(self):
        super().setUp()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.display = ":" + self.xvfb.stdout.readline().strip()
        self.folder = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.xvfb.terminate()
        self.xvfb.wait(timeout=10)
        self.folder.cleanup()
        super().tearDown()

    def field(self, name):
        """A Tk window whose focused text field is saved to a file; its reader."""
        path = os.path.join(self.folder.name, name)
        window = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "type_target.py"), path],
                                  env=dict(os.environ, DISPLAY=self.display))
        self.addCleanup(window.kill)
        self.wait_for(lambda: os.path.exists(path), "the window")

        def text():
            with open(path) as file:
                return file.read()
        return text

    def wait_for(self, condition, what, state=None, seconds=20):
        """Waits for condition; on failure tells what the field held and what ovrin said."""
        end = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > end:
                held, ovrin = state() if state else ("", None)
                if ovrin is not None:
                    ovrin.kill()
                    held += " / ovrin: " + ovrin.stderr.read()
                self.fail("no %s: %r" % (what, held))
            time.sleep(0.05)

    def type(self, meter, *options):
        environment = dict(self.environment([meter.path]), DISPLAY=self.display)
        ovrin = subprocess.Popen([os.path.join(BUILD, "ovrin"), "type", *options], env=environment,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, stdin=subprocess.DEVNULL)
        self.addCleanup(ovrin.kill)
        return ovrin

    def test_readings_typed_in_order_then_the_measure_key(self):
        cases = [  # options, what the field holds after a burst of three and one more measured by the key
            (["--scale", "0.001", "--decimals", "3", "--then", "tab"], "1.234\t2.345\t3.456\t", "4.567\t"),
            (["--scale", "0.001", "--decimals", "2", "--decimal-separator", ","], "1,23\n2,35\n3,46\n", "4,57\n"),
        ]
        for options, burst, measured in cases:
            text = self.field("field-%d" % len(burst))
            meter = self.sim("--burst", "3", "--value", "1234", "--step", "1111", "--baud", "0")
            ovrin = self.type(meter, *options, "--measure-key", "F9")
            self.wait_for(lambda: text() == burst, "burst typed", lambda: (text(), ovrin))
            subprocess.run(["xdotool", "key", "F9"], env=dict(os.environ, DISPLAY=self.display), check=True)
            self.wait_for(lambda: text() == burst + measured, "reading measured by the key", lambda: (text(), ovrin))
            ovrin.send_signal(signal.SIGINT)
            self.assertEqual(ovrin.wait(timeout=10), 0, ovrin.stderr.read())
            meter.stop()  # the next case's ovrin must not find this meter where it remembers one

    @unittest.skipUnless(shutil.which("setxkbmap"), "needs setxkbmap (x11-xkb-utils, which Xvfb brings)")
    def test_a_reading_waits_while_shift_is_held_and_caps_lock_changes_nothing(self):
        """AZERTY (the digits need Shift) with Caps Lock on and Shift held: the
        first reading waits, is not typed after 5 s and is reported and kept;
        the second is typed once Shift is let go; Caps Lock is on after."""
        x = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["setxkbmap", "fr"], env=x, check=True)
        text = self.field("held")
        subprocess.run(["xdotool", "key", "Caps_Lock", "keydown", "shift"], env=x, check=True)
        meter = self.sim("--burst", "2", "--value", "1445", "--step", "-2890", "--baud", "0")
        output = os.path.join(self.folder.name, "readings.json")
        ovrin = self.type(meter, "--scale", "0.001", "--decimals", "2", "--output", output, "--format", "json")
        said = []
        threading.Thread(target=lambda: said.extend(ovrin.stderr), daemon=True).start()
        self.wait_for(lambda: "ovrin: reading 3 waits until the modifier keys (Shift, Ctrl, Alt) are let go\n" in said,
                      "second reading waiting", lambda: (text() + repr(said), None))
        self.assertEqual(text(), "", "nothing is typed while Shift is held")
        self.assertIn("ovrin: reading 2 was not typed: 1.45<Enter> (a modifier key was held for 5 s)\n", said)
        subprocess.run(["xdotool", "keyup", "shift"], env=x, check=True)
        self.wait_for(lambda: text() == "-1.45\n", "second reading typed", lambda: (text() + repr(said), None))
        subprocess.run(["xdotool", "key", "a"], env=x, check=True)
        self.wait_for(lambda: text() == "-1.45\nA", "Caps Lock on again", lambda: (text(), None))
        with open(output) as file:
            lines = [json.loads(line) for line in file]
        told = [line.get("state") or line["value1"] for line in lines]  # after the search and the start-up reply
        self.assertEqual(told[told.index(1445):], [1445, "typing-failed", -1445, "connected"], lines)


class NoDisplayTest(OvrinCase):
    """What needs no X server at all."""

    def test_without_a_display_it_says_what_is_missing(self):
        meter = self.sim()
        environment = dict(self.environment([meter.path]))
        environment.pop("DISPLAY", None)
        result = subprocess.run([os.path.join(BUILD, "ovrin"), "type"], env=environment, capture_output=True,
                                text=True, timeout=30, stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 7, result.stderr)
        self.assertIn("no X display ($DISPLAY is not set)", result.stderr)
        # A dry run needs no display: it prints what it would type.
        meter = self.sim("--burst", "2", "--value", "1445", "--step", "13004", "--baud", "0")
        dry = subprocess.Popen([os.path.join(BUILD, "ovrin"), "type", "--dry-run", "--scale", "0.001", "--decimals", "1"],
                               env=dict(environment, OVRIN_SERIAL_PORTS=meter.path), stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, stdin=subprocess.DEVNULL)
        self.addCleanup(dry.kill)
        self.assertEqual([dry.stdout.readline(), dry.stdout.readline()], ["1.4<Enter>\n", "14.4<Enter>\n"])


if __name__ == "__main__":
    main()
