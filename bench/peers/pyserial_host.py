"""pyserial in the peer benchmarks: serial.threaded.ReaderThread with a
LineReader, doing the host's job (send "g", be told of each reply line,
decode it). Same modes and output as ovrin_host.

    pyserial_host.py PORT stream N | quiet N | roundtrip N | idle SECONDS
"""
import sys
import threading
import time

import serial
import serial.threaded

port, mode, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
quiet = mode == "quiet"
mode = "stream" if quiet else mode
seen = []
cpu = 0
arrived = threading.Event()


class Lines(serial.threaded.LineReader):
    TERMINATOR = b"\r\n"

    def handle_line(self, line):
        at = time.monotonic_ns()
        sequence = int(line[7:15]) if line.startswith("12..") else 0  # decode the fixed columns
        seen.append((sequence, at))
        arrived.set()


link = serial.Serial(port, 9600)
with serial.threaded.ReaderThread(link, Lines) as protocol:
    if mode == "idle":
        time.sleep(count)
    elif mode == "stream":
        cpu_start = time.process_time_ns()
        protocol.write_line("g")
        last = -1
        while len(seen) < count and (arrived.wait(2) or len(seen) != last):
            last = len(seen)
            arrived.clear()
        cpu = time.process_time_ns() - cpu_start
    else:
        results = []
        for i in range(count):
            arrived.clear()
            start = time.monotonic_ns()
            link.write(b"g\r\n")
            if not arrived.wait(2):
                break
            results.append((i, seen[-1][1] - start))
        seen = results
if quiet:
    print("# lines", len(seen))
else:
    for sequence, value in seen:
        print(sequence, value)
print("# cpu", cpu)
