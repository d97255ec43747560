"""What ovrin type types for a reading: value1 x --scale, rounded once, half
away from zero, to --decimals places. The options are parsed as ovrin parses
them (typed_number_probe); the reference is Python's decimal, which shares
nothing with ovrin's integer arithmetic.

Usage: typed_number_test.py BUILD_DIR
"""
import os
import random
import subprocess
import sys
import unittest
from decimal import ROUND_HALF_UP, Decimal, localcontext

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import BUILD, main  # noqa: E402  (takes BUILD_DIR from the command line)

LOW, HIGH = -2**31, 2**31 - 1  # value1's range


def probe(lines):
    """ovrin's answer to each "SCALE DECIMALS VALUE..." line."""
    return subprocess.run([os.path.join(BUILD, "typed_number_probe")], input="".join(line + "\n" for line in lines),
                          capture_output=True, text=True, timeout=120, check=True).stdout.splitlines()


def reference(value, scale, decimals):
    with localcontext() as context:
        context.prec = 100  # exact: ROUND_HALF_UP is half away from zero
        text = format((value * Decimal(scale)).quantize(Decimal(1).scaleb(-decimals), ROUND_HALF_UP), "f")
    return text.lstrip("-") if Decimal(text) == 0 else text  # no "-0"


class TypedNumberTest(unittest.TestCase):
    def test_table(self):
        rows = [  # scale, decimals, value1, typed (written out by hand)
            ("0.001", 1, 1445, "1.4"), ("0.001", 1, 14449, "14.4"), ("0.001", 1, -1449, "-1.4"),
            ("0.001", 0, 1449, "1"), ("0.001", 1, -1450, "-1.5"), ("0.001", 2, 1015, "1.02"),
            ("0.001", 0, -499, "0"), ("0.001", 3, 0, "0.000"), ("2.54", 1, 5, "12.7"), (".5", 0, -3, "-2"),
            ("999999999", 9, HIGH, "2147483644852516353.000000000"),
            ("-999999999", 9, LOW, "2147483645852516352.000000000"),
            ("0.000000001", 9, LOW, "-2.147483648"), ("0.00000000000000000005", 0, HIGH, "0"),
            ("2.540000000", 1, 5, "12.7"), ("0.1000000000", 2, -7, "-0.70"),  # zeros at the end count for nothing
        ]
        answers = probe("%s %d %d" % row[:3] for row in rows)
        self.assertEqual(answers, [row[3] for row in rows])
        self.assertEqual(probe(["0.001 10 1", "1e3 0 1", "1234567890 0 1", "1. 0 1"]), ["refused 2"] * 4)

    def test_sweep_against_decimal(self):
        """Every decimals with many scales; for each pair the values around the
        points half-way between two typed numbers, both signs, zero, the ends
        of value1's range and random ones."""
        rng = random.Random(32)
        mantissas = [1, 2, 3, 5, 7, 25, 125, 254, 1000, 3048, 99999, 123456789, 500000000, 999999999, -1, -254,
                     -999999999, 0]
        lines, expected = [], []
        for mantissa in mantissas:
            for exponent in list(range(13)) + [18, 19, 20, 25]:
                for decimals in range(10):
                    scale = format(Decimal(mantissa).scaleb(-exponent), "f")
                    values = {0, 1, -1, LOW, HIGH, LOW + 1, HIGH - 1, *(rng.randint(LOW, HIGH) for _ in range(8))}
                    step = Decimal(10) ** (exponent - decimals) / abs(mantissa or 1)  # value1 per typed unit
                    for _ in range(6 if exponent > decimals else 0):
                        half = int((rng.randrange(2**31) // max(1, int(step)) + Decimal("0.5")) * step)
                        near = (half - 1, half, half + 1, 1 - half, -half, -half - 1)
                        values.update(v for v in near if LOW <= v <= HIGH)
                    lines.append("%s %d %s" % (scale, decimals, " ".join(map(str, sorted(values)))))
                    expected.append(" ".join(reference(v, scale, decimals) for v in sorted(values)))
        for line, answer, want in zip(lines, probe(lines), expected):
            self.assertEqual(answer, want, line)
        print("typed numbers: %d values over %d scale/decimals pairs agree with Python's decimal"
              % (sum(len(line.split()) - 2 for line in lines), len(lines)), file=sys.stderr)


if __name__ == "__main__":
    main()
