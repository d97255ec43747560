"""Keeps the receive path's cost from creeping up unnoticed: instructions per
line of our two paths (a handler on the receive thread, the queue drained by
the host's thread), counted by callgrind on paced feeds of 50 and 250 lines,
against bench/peers/instructions_baseline.json. More than 10 % above the
baseline fails; the figures, and libserialport's on the same feed, are
printed at every run. A line lost fails as well.

    instructions_guard.py BUILD_DIR

A change that is worth its instructions updates the baseline in the same commit.
"""
import json
import os
import sys

import counts

BUILD = os.path.abspath(sys.argv[1])
HERE = os.path.dirname(os.path.abspath(__file__))
ALLOWED_RISE = 1.10


def main():
    with open(os.path.join(HERE, "instructions_baseline.json")) as file:
        baseline = json.load(file)
    ours = os.path.join(BUILD, "ovrin_host")
    measured = {path: counts.per_line(counts.instructions, BUILD, (path, [ours, path], {}))
                for path in ("handler", "queue")}
    failed = False
    for path, figure in measured.items():
        ratio = figure / baseline[path]
        print("%-8s %6.0f instructions per line, %.2f of the baseline's %d" % (path, figure, ratio, baseline[path]))
        failed |= ratio > ALLOWED_RISE
    peer = os.path.join(BUILD, "libserialport_host")
    if os.path.exists(peer):
        shims = ":".join([os.path.join(BUILD, "libpty_shim.so"), os.path.join(BUILD, "shim", "$LIB", "libtiocm_shim.so")])
        figure = counts.per_line(counts.instructions, BUILD, ("libserialport", [peer, "{port}"], {"LD_PRELOAD": shims}))
        print("libserialport's read loop: %.0f instructions per line" % figure)
    if failed:
        print("more than %d %% above the baseline: find the new work per line, or, if it is worth it, "
              "write these figures into bench/peers/instructions_baseline.json:" % round((ALLOWED_RISE - 1) * 100))
        print(json.dumps({path: round(figure) for path, figure in measured.items()}))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
