"""Ours against the serial stacks hosts commonly use, in one run, on the same
pseudo-terminal meter: reply latency, CPU per 1 000 lines at full speed and
lines lost, idle wake-ups, round trip, and the cost of a search.

    run_peers.py BUILD_DIR [--smoke]

--smoke runs a few hundred lines and short waits, to keep the script working.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
SMOKE = "--smoke" in sys.argv
HERE = os.path.dirname(os.path.abspath(__file__))
LINES = 300 if SMOKE else 10000
FLOOD = 500 if SMOKE else 20000
IDLE_S = 1 if SMOKE else 10
ROUND_TRIPS = 20 if SMOKE else 200
WIRE_NS = 20 * 10 * 1e9 / 9600  # "g" CR LF and a 17-byte reply at 9600 baud


# Each of our paths is held against the peer that works the same way: the
# handler (on the receive thread) against libserialport's one-thread host, the
# queue (lines handed to the host's thread) against pyserial's ReaderThread.
PAIRS = [("ovrin handler", "libserialport"), ("ovrin queue", "pyserial")]


def peers():
    ours = os.path.join(BUILD, "ovrin_host")
    found = [("ovrin handler", [ours, "handler"], {}), ("ovrin queue", [ours, "queue"], {})]
    found.append(("pyserial", [sys.executable, os.path.join(HERE, "pyserial_host.py"), "{port}"], {}))
    lsp = os.path.join(BUILD, "libserialport_host")
    if os.path.exists(lsp):
        shims = [os.path.join(BUILD, "libpty_shim.so"), os.path.join(BUILD, "shim", "$LIB", "libtiocm_shim.so")]
        found.append(("libserialport", [lsp, "{port}"], {"LD_PRELOAD": ":".join(shims)}))
    return found


class Meter:
    def __init__(self, *args):
        self.log = tempfile.NamedTemporaryFile(prefix="bench-meter-", delete=False).name
        self.process = subprocess.Popen([os.path.join(BUILD, "bench_meter"), "--log", self.log, *args],
                                        stdout=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip()

    def sent(self):
        with open(self.log) as log:
            return dict(map(int, line.split()) for line in log if line.strip())

    def stop(self):
        self.process.terminate()
        self.process.wait()
        os.unlink(self.log)


def run_host(peer, meter, mode, count, config):
    _name, command, extra = peer
    env = dict(os.environ, OVRIN_SERIAL_PORTS=meter.port, XDG_CONFIG_HOME=config, **extra)
    argv = [part.format(port=meter.port) for part in command] + [mode, str(count)]
    return subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, text=True)


def results(process):
    out, _ = process.communicate(timeout=600)
    pairs, cpu = [], 0
    for line in out.splitlines():
        if line.startswith("# cpu"):
            cpu = int(line.split()[2])
        elif line.strip():
            pairs.append(tuple(map(int, line.split())))
    return pairs, cpu


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else float("nan")


def task_stats(pid):
    """(context switches of all threads, CPU ticks) of a process."""
    switches = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as status:
            for line in status:
                if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                    switches += int(line.split()[1])
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return switches, int(fields[11]) + int(fields[12])


def measure(peer, config):
    row = {}
    meter = Meter("--stream", str(LINES), "--interval-us", "5000")
    received, _ = results(run_host(peer, meter, "stream", LINES, config))
    sent = meter.sent()
    meter.stop()
    latencies = [(at - sent[seq]) / 1000 for seq, at in received if seq in sent]
    row["p50"], row["p99"] = percentile(latencies, 0.5), percentile(latencies, 0.99)

    meter = Meter("--stream", str(FLOOD))
    received, cpu = results(run_host(peer, meter, "stream", FLOOD, config))
    meter.stop()
    row["cpu"] = cpu / 1e6 / (FLOOD / 1000)
    row["lost"] = FLOOD - len(received)

    meter = Meter()
    host = run_host(peer, meter, "idle", IDLE_S + 3, config)
    time.sleep(2)  # opened and settled
    before = task_stats(host.pid)
    time.sleep(IDLE_S)
    after = task_stats(host.pid)
    results(host)
    meter.stop()
    row["wakeups"] = after[0] - before[0]
    row["idle_cpu"] = (after[1] - before[1]) * 1000 / os.sysconf("SC_CLK_TCK")

    for label, args in (("rt", ["--echo"]), ("rt9600", ["--echo", "--baud", "9600"])):
        meter = Meter(*args)
        trips, _ = results(run_host(peer, meter, "roundtrip", ROUND_TRIPS, config))
        meter.stop()
        row[label] = statistics.median(ns for _, ns in trips) / 1000 if trips else float("nan")
    return row


def main():
    rows = {}
    with tempfile.TemporaryDirectory() as config:
        for peer in peers():
            rows[peer[0]] = measure(peer, config)
    columns = [("p50", "latency p50 µs"), ("p99", "latency p99 µs"), ("cpu", "CPU ms / 1000 lines"),
               ("lost", "lines lost"), ("wakeups", "idle wake-ups / %d s" % IDLE_S),
               ("idle_cpu", "idle CPU ms / %d s" % IDLE_S), ("rt", "round trip µs"),
               ("rt9600", "round trip at 9600 baud µs")]
    names = list(rows)
    pairs = [(ours, peer) for ours, peer in PAIRS if peer in rows]
    print("| measure | " + " | ".join(names) + " | " +
          " | ".join("%s / %s" % pair for pair in pairs) + " |")
    print("|---" * (1 + len(names) + len(pairs)) + "|")
    for key, title in columns:
        cells = ["%.1f" % rows[name][key] for name in names]
        ratios = ["%.2f" % (rows[ours][key] / rows[peer][key]) if rows[peer][key] else "-" for ours, peer in pairs]
        print("| %s | %s | %s |" % (title, " | ".join(cells), " | ".join(ratios)))
    for ours, _peer in pairs:
        print("\n%s: round trip at 9600 baud against the wire time of 3 + 17 bytes (%.1f µs): %.3f"
              % (ours, WIRE_NS / 1000, rows[ours]["rt9600"] * 1000 / WIRE_NS))
    search = os.path.join(BUILD, "search_bench")
    if not SMOKE and os.path.exists(search):
        print()
        sys.stdout.flush()
        subprocess.run([search], check=False)
    lost = rows["ovrin handler"]["lost"] + rows["ovrin queue"]["lost"]
    print("\nours lost %d lines" % lost)
    return 1 if lost else 0


if __name__ == "__main__":
    sys.exit(main())
