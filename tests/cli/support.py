"""What the command tests share: the build, simulated meters, running ovrin,
and a main that lists what was skipped."""
import os
import subprocess
import sys
import tempfile
import unittest

BUILD = os.path.abspath(sys.argv.pop(1)) if __name__ != "__main__" and len(sys.argv) > 1 else "build"


class Sim:
    """An ovrin-sim process; its terminal's path is .path."""

    def __init__(self, *args):
        self.process = subprocess.Popen([os.path.join(BUILD, "ovrin-sim"), *args],
                                        stdout=subprocess.PIPE, text=True)
        self.path = self.process.stdout.readline().strip()
        self.process.stdout.close()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=5)


class OvrinCase(unittest.TestCase):
    """A test with a settings folder of its own and meters that end with it."""

    def setUp(self):
        self.config = tempfile.TemporaryDirectory()
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.stop()
        self.config.cleanup()

    def sim(self, *args):
        sim = Sim(*args)
        self.sims.append(sim)
        return sim

    def environment(self, ports, extra=None):
        return dict(os.environ, XDG_CONFIG_HOME=self.config.name, OVRIN_SERIAL_PORTS=":".join(ports), **(extra or {}))

    def ovrin(self, *args, ports=(), timeout=30, extra=None):
        return subprocess.run([os.path.join(BUILD, "ovrin"), *args], env=self.environment(ports, extra),
                              capture_output=True, text=True, timeout=timeout, stdin=subprocess.DEVNULL)

    def start_ovrin(self, *args, ports=()):
        """ovrin running in the background, its output read line by line."""
        return subprocess.Popen([os.path.join(BUILD, "ovrin"), *args], env=self.environment(ports),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                stdin=subprocess.DEVNULL)


def main(argv=None):
    """unittest's main. What was skipped goes, with its reason, to the list
    that the test command prints at its end ($OVRIN_SKIPPED)."""
    result = unittest.main(argv=argv, verbosity=2, exit=False).result
    listing = os.environ.get("OVRIN_SKIPPED")
    if listing:
        script = os.path.basename(sys.argv[0])
        # A class skipped as a whole is one entry, not one a test.
        entries = dict.fromkeys("%s %s: %s" % (script, type(test).__name__, reason) for test, reason in result.skipped)
        with open(listing, "a") as file:
            file.writelines(entry + "\n" for entry in entries)
    sys.exit(0 if result.wasSuccessful() else 1)
