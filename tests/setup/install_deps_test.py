"""scripts/install-deps.sh on a machine whose mirror is mid-sync and whose
32-bit Wine cannot be installed, with stand-in apt-get, dpkg and dpkg-query
commands on PATH: no mirror is needed, nothing is installed.

Usage: install_deps_test.py
"""
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIM_FAILED_INDEX = ("E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/"
                    "binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?")
# Each stand-in logs its arguments; apt-get fails as the machine under test does.
STAND_INS = {
    "apt-get": r'''echo "apt-get $*" >>"$LOG"
case "$1" in
  update) n=$(grep -c '^apt-get update' "$LOG")
          if [ "$n" -le "$UPDATE_FAILURES" ]; then echo "$FAILED_INDEX" >&2; exit 100; fi ;;
  install) for package in "$@"; do
             if [ "$package" = "$BROKEN" ]; then
               echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100
             fi
           done ;;
esac''',
    "dpkg-query": 'exit 1  # nothing is installed',
    "dpkg": 'echo "dpkg $*" >>"$LOG"',
    "sudo": '"$@"',
    "install": 'echo "install $*" >>"$LOG"',
}


class InstallDepsTest(unittest.TestCase):
    def run_script(self, runs_32bit, update_failures, broken):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        for name, body in STAND_INS.items():
            path = os.path.join(folder.name, name)
            with open(path, "w") as file:
                file.write("#!/bin/sh\n" + body + "\n")
            os.chmod(path, 0o755)
        log = os.path.join(folder.name, "log")
        open(log, "w").close()
        environment = dict(os.environ, PATH=folder.name + ":" + os.environ["PATH"], LOG=log,
                           UPDATE_FAILURES=str(update_failures), BROKEN=broken, FAILED_INDEX=SIM_FAILED_INDEX,
                           OVRIN_RUNS_32BIT=runs_32bit, OVRIN_APT_RETRY_PAUSE="0")
        result = subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh")], env=environment,
                                capture_output=True, text=True, timeout=60)
        with open(log) as file:
            return result, file.read().splitlines()

    def test_a_bad_index_and_no_32bit_wine_stop_nothing_else(self):
        cases = [  # machine runs 32-bit, failed updates, broken package: updates, i386 install tried, what is said
            ("1", 5, "wine32:i386", 3, True, "apt-get could not install wine32:i386 gcc-multilib: "
                                             "Unable to correct problems, you have held broken packages."),
            ("0", 5, "wine32:i386", 3, False, "this machine cannot run 32-bit programs"),
            ("1", 1, "", 2, True, None),
        ]
        for runs_32bit, update_failures, broken, updates, tried32, said in cases:
            with self.subTest(runs_32bit=runs_32bit, update_failures=update_failures, broken=broken):
                result, log = self.run_script(runs_32bit, update_failures, broken)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(sum(line == "apt-get update -qq" for line in log), updates, log)
                self.assertEqual("warning: apt-get update failed" in result.stderr, update_failures >= 3)
                self.assertEqual("dpkg --add-architecture i386" in log, tried32)
                # An architecture added for an install that failed is taken back.
                self.assertEqual("dpkg --remove-architecture i386" in log, tried32 and broken == "wine32:i386")
                installs = [line.split() for line in log if line.startswith("apt-get install")]
                # Everything every machine needs in one install, first; the i386 packages alone, after.
                self.assertIn("mingw-w64", installs[0])
                self.assertIn("wine64", installs[0])
                self.assertNotIn("wine32:i386", installs[0])
                self.assertEqual(installs[1:], [installs[0][:4] + ["wine32:i386", "gcc-multilib"]] if tried32 else [])
                message = "32-bit Windows programs will not be run on this machine"
                if said is None:
                    self.assertNotIn(message, result.stderr)
                else:
                    self.assertIn("%s: %s" % (message, said), result.stderr)

    def test_what_every_machine_needs_is_still_required(self):
        result, _ = self.run_script("1", 0, "mingw-w64")
        self.assertNotEqual(result.returncode, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
