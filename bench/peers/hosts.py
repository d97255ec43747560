"""The hosts of the peer benchmarks, the meter they read, and the figures of
their receive path that the machine's load does not change: instructions per
line (valgrind's callgrind) and system calls per line (strace). Each is the
difference between two paced feeds of different length divided by the lines
between them, so that starting, opening and closing cancel out; the lines
come 5 ms apart, one per read, as the meter sends them.
"""
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
INTERVAL_US = 5000


def peers(build):
    """(name, command, environment) of every host this build can run: ours by
    its two paths, pyserial, and libserialport when it was built."""
    ours = os.path.join(build, "ovrin_host")
    found = [("ovrin handler", [ours, "handler"], {}), ("ovrin queue", [ours, "queue"], {})]
    found.append(("pyserial", [sys.executable, os.path.join(HERE, "pyserial_host.py"), "{port}"], {}))
    lsp = os.path.join(build, "libserialport_host")
    if os.path.exists(lsp):
        shims = [os.path.join(build, "libpty_shim.so"), os.path.join(build, "shim", "$LIB", "libtiocm_shim.so")]
        found.append(("libserialport", [lsp, "{port}"], {"LD_PRELOAD": ":".join(shims)}))
    return found


class Meter:
    """bench_meter on a pseudo-terminal: answers the probe and, on "g", sends
    numbered lines, logging when it wrote each one's LF."""

    def __init__(self, build, *args):
        self.log = tempfile.NamedTemporaryFile(prefix="bench-meter-", delete=False).name
        self.process = subprocess.Popen([os.path.join(build, "bench_meter"), "--log", self.log, *args],
                                        stdout=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip()

    def sent(self):
        with open(self.log) as log:
            return dict(map(int, line.split()) for line in log if line.strip())

    def stop(self):
        self.process.terminate()
        self.process.wait()
        os.unlink(self.log)


def host_env(meter, config, extra):
    return dict(os.environ, OVRIN_SERIAL_PORTS=meter.port, XDG_CONFIG_HOME=config, **extra)


def command_line(peer, meter, mode, count):
    return [part.format(port=meter.port) for part in peer[1]] + [mode, str(count)]


def run_quiet(build, peer, lines, wrapper):
    """Runs a host (a peer: name, command, environment) in its quiet mode
    under `wrapper` on a paced feed of `lines` lines; its stderr."""
    meter = Meter(build, "--stream", str(lines), "--interval-us", str(INTERVAL_US))
    try:
        with tempfile.TemporaryDirectory() as config:
            done = subprocess.run(wrapper + command_line(peer, meter, "quiet", lines),
                                  env=host_env(meter, config, peer[2]), capture_output=True, text=True,
                                  timeout=600, check=False)
    finally:
        meter.stop()
    if "# lines %d\n" % lines not in done.stdout:
        raise RuntimeError("%s under %s did not receive %d lines:\n%s%s" %
                           (peer[0], wrapper[0], lines, done.stdout, done.stderr))
    return done.stderr


def instructions(build, peer, lines):
    with tempfile.NamedTemporaryFile(prefix="callgrind-") as out:
        report = run_quiet(build, peer, lines, ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out.name])
    return int(re.search(r"Collected : (\d+)", report).group(1))


def system_calls(build, peer, lines):
    with tempfile.NamedTemporaryFile(mode="r", prefix="strace-") as out:
        run_quiet(build, peer, lines, ["strace", "-f", "-c", "-o", out.name])
        total = out.read().strip().splitlines()[-1].split()
    return int(total[3])  # % time, seconds, usecs/call, calls, [errors,] "total"


def per_line(count, build, peer, short=50, long=250):
    """What `count` adds per line between a feed of `short` and one of `long` lines."""
    return (count(build, peer, long) - count(build, peer, short)) / (long - short)
