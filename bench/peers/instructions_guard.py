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

import hosts

BUILD = os.path.abspath(sys.argv[1])
HERE = os.path.dirname(os.path.abspath(__file__))
ALLOWED_RISE = 1.10


def main():
    with open(os.path.join(HERE, "instructions_baseline.json")) as file:
        baseline = json.load(file)
    found = {peer[0]: peer for peer in hosts.peers(BUILD)}
    measured = {path: hosts.per_line(hosts.instructions, BUILD, found["ovrin " + path]) for path in ("handler", "queue")}
    failed = False
    for path, figure in measured.items():
        ratio = figure / baseline[path]
        print("%-8s %6.0f instructions per line, %.2f of the baseline's %d" % (path, figure, ratio, baseline[path]))
        failed |= ratio > ALLOWED_RISE
    if "libserialport" in found:
        figure = hosts.per_line(hosts.instructions, BUILD, found["libserialport"])
        print("libserialport's read loop: %.0f instructions per line" % figure)
    if failed:
        print("more than %d %% above the baseline: find the new work per line, or, if it is worth it, "
              "write these figures into bench/peers/instructions_baseline.json:" % round((ALLOWED_RISE - 1) * 100))
        print(json.dumps({path: round(figure) for path, figure in measured.items()}))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
