"""Ours against the serial stacks hosts commonly use, in one run, on the same
pseudo-terminal meter: reply latency and CPU per line on a paced feed,
instructions and system calls per line, CPU at full speed and lines lost,
idle wake-ups, round trip, and the cost of a search.

    run_peers.py BUILD_DIR [--smoke] [--runs N]

--runs repeats the paced feed N times (5 by default), every host once per run
in turn, and gives each ratio as its median and its range over the runs.
--smoke runs a few hundred lines and short waits, to keep the script working.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import hosts

BUILD = os.path.abspath(sys.argv[1])
SMOKE = "--smoke" in sys.argv
RUNS = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 1 if SMOKE else 5
PACED = 300 if SMOKE else 2000  # lines 5 ms apart
FLOOD = 500 if SMOKE else 20000
IDLE_S = 1 if SMOKE else 10
ROUND_TRIPS = 20 if SMOKE else 200
COUNTED = (10, 30) if SMOKE else (50, 250)  # the two feeds whose difference is counted
WIRE_NS = 20 * 10 * 1e9 / 9600  # "g" CR LF and a 17-byte reply at 9600 baud


# Each of our paths is held against the peer that works the same way: the
# handler (on the receive thread) against libserialport's one-thread host, the
# queue (lines handed to the host's thread) against pyserial's ReaderThread.
PAIRS = [("ovrin handler", "libserialport"), ("ovrin queue", "pyserial")]


def run_host(peer, meter, mode, count, config):
    return subprocess.Popen(hosts.command_line(peer, meter, mode, count), env=hosts.host_env(meter, config, peer[2]),
                            stdout=subprocess.PIPE, text=True)


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


def paced(peer, config):
    """Latency and CPU per line of PACED lines 5 ms apart. The CPU is what the
    scheduler's nanosecond counters of all the host's threads (its
    CLOCK_PROCESS_CPUTIME_ID) add from its "g" to its last line."""
    meter = hosts.Meter(BUILD, "--stream", str(PACED), "--interval-us", str(hosts.INTERVAL_US))
    received, cpu = results(run_host(peer, meter, "stream", PACED, config))
    sent = meter.sent()
    meter.stop()
    latencies = [(at - sent[seq]) / 1000 for seq, at in received if seq in sent]
    return {"p50": percentile(latencies, 0.5), "p99": percentile(latencies, 0.99), "cpu": cpu / 1000 / PACED,
            "paced_lost": PACED - len(received)}


def measure(peer, config):
    row = {}
    meter = hosts.Meter(BUILD, "--stream", str(FLOOD))
    received, cpu = results(run_host(peer, meter, "stream", FLOOD, config))
    meter.stop()
    row["flood_cpu"] = cpu / 1e6 / (FLOOD / 1000)
    row["lost"] = FLOOD - len(received)

    meter = hosts.Meter(BUILD)
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
        meter = hosts.Meter(BUILD, *args)
        trips, _ = results(run_host(peer, meter, "roundtrip", ROUND_TRIPS, config))
        meter.stop()
        row[label] = statistics.median(ns for _, ns in trips) / 1000 if trips else float("nan")

    # Deterministic counts. An interpreter under valgrind is too slow for
    # lines 5 ms apart, so pyserial's instructions are not counted.
    nan = float("nan")
    row["syscalls"] = hosts.per_line(hosts.system_calls, BUILD, peer, *COUNTED) if shutil.which("strace") else nan
    countable = shutil.which("valgrind") and not SMOKE and peer[0] != "pyserial"
    row["instructions"] = hosts.per_line(hosts.instructions, BUILD, peer, *COUNTED) if countable else nan
    return row


def spread(values, digits):
    """The median, and with more than one value its range."""
    middle = "%.*f" % (digits, statistics.median(values))
    return middle if len(values) < 2 else "%s (%.*f–%.*f)" % (middle, digits, min(values), digits, max(values))


def main():
    found = hosts.peers(BUILD)
    runs = {peer[0]: [] for peer in found}
    rows = {}
    with tempfile.TemporaryDirectory() as config:
        for run in range(RUNS):
            # Each run starts with another host: none always comes first.
            for peer in found[run % len(found):] + found[:run % len(found)]:
                runs[peer[0]].append(paced(peer, config))
        for peer in found:
            rows[peer[0]] = measure(peer, config)
    for name, row in rows.items():
        for key in ("p50", "p99", "cpu", "paced_lost"):
            row[key] = [run[key] for run in runs[name]]
        row["lost"] += sum(row.pop("paced_lost"))
    columns = [("p50", "latency p50 µs", 1), ("p99", "latency p99 µs", 1), ("cpu", "CPU µs / line", 2),
               ("instructions", "instructions / line", 0), ("syscalls", "system calls / line", 2),
               ("flood_cpu", "CPU ms / 1000 lines at full speed", 1), ("lost", "lines lost", 0),
               ("wakeups", "idle wake-ups / %d s" % IDLE_S, 0), ("idle_cpu", "idle CPU ms / %d s" % IDLE_S, 0),
               ("rt", "round trip µs", 1), ("rt9600", "round trip at 9600 baud µs", 1)]
    names = list(rows)
    pairs = [(ours, peer) for ours, peer in PAIRS if peer in rows]
    print("%d paced run%s of %d lines 5 ms apart; the paced rows give the median (and the range) over them."
          % (RUNS, "" if RUNS == 1 else "s", PACED))
    print("| measure | " + " | ".join(names) + " | " + " | ".join("%s / %s" % pair for pair in pairs) + " |")
    print("|---" * (1 + len(names) + len(pairs)) + "|")
    for key, title, digits in columns:
        cells, ratios = [], []
        for name in names:
            value = rows[name][key]
            cells.append(statistics.median(value) if isinstance(value, list) else value)
        for ours, peer in pairs:
            mine, theirs = rows[ours][key], rows[peer][key]
            if isinstance(mine, list):  # one ratio per run, each within its run
                ratios.append(spread([a / b for a, b in zip(mine, theirs) if b], 2) if any(theirs) else "-")
            else:
                ratios.append("%.2f" % (mine / theirs) if theirs and theirs == theirs else "-")
        print("| %s | %s | %s |" % (title, " | ".join("-" if v != v else "%.*f" % (digits, v) for v in cells),
                                    " | ".join(ratios)))
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
