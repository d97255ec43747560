"""A Python host as a user writes one: measures once with the installed
ovrin70 on the port given and prints which module and which library it used.

Usage: python_host.py PORT   (prints MODULE LIBRARY VALUE)
"""
import sys

import ovrin70

with ovrin70.Meter(port=sys.argv[1]) as meter:
    reading = meter.measure()
with open("/proc/self/maps") as maps:
    library = next(line.split()[-1] for line in maps if "libOvrin70" in line)
print(ovrin70.__file__, library, reading.value1)
