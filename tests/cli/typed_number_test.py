"""What ovrin type types for a reading: value1 x --scale, rounded once, half
away from zero, to --decimals places. The options are parsed as ovrin parses
them (typed_number_probe); the reference is Python's decimal, exact to 100
digits, which shares nothing with ovrin's integer arithmetic.

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

INT32 = (-2**31, 2**31 - 1)


def probe(lines):
    """ovrin's answer to each "SCALE DECIMALS VALUE..." line."""
    result = subprocess.run([os.path.join(BUILD, "typed_number_probe")], input="".join(line + "\n" for line in lines),
                            capture_output=True, text=True, timeout=120, check=True)
    return result.stdout.splitlines()


def reference(value, scale, decimals):
    with localcontext() as context:
        context.prec = 100
        exact = Decimal(value) * Decimal(scale)  # ROUND_HALF_UP is half away from zero
        text = format(exact.quantize(Decimal(1).scaleb(-decimals), rounding=ROUND_HALF_UP), "f")
    return text.lstrip("-") if Decimal(text) == 0 else text  # no "-0"


def scale_text(mantissa, exponent):
    """mantissa x 10^-exponent in plain decimal notation, as a user writes it."""
    digits = str(abs(mantissa)).rjust(exponent + 1, "0")
    text = digits[:len(digits) - exponent] + ("." + digits[len(digits) - exponent:] if exponent else "")
    return ("-" if mantissa < 0 else "") + text


def values_near_halves(mantissa, exponent, decimals, rng):
    """Values around the points where value x scale lies half-way between two
    typed numbers, both signs, with zero and the ends of value1's range."""
    values = {0, 1, -1, INT32[0], INT32[1], INT32[0] + 1, INT32[1] - 1}
    dropped = exponent - decimals
    if dropped > 0 and mantissa != 0:
        step = Decimal(10) ** dropped / abs(mantissa)  # value1 per typed unit
        for _ in range(6):
            half = (rng.randrange(0, 2**31) // max(1, int(step)) + Decimal("0.5")) * step
            for near in (int(half) - 1, int(half), int(half) + 1):
                values.update(v for v in (near, -near) if INT32[0] <= v <= INT32[1])
    values.update(rng.randrange(*INT32) for _ in range(8))
    return sorted(values)


class TypedNumberTest(unittest.TestCase):
    def test_table(self):
        rows = [  # scale, decimals, value1, typed (written out by hand)
            ("0.001", 1, 1445, "1.4"),  # 1.445: one rounding, not 1.45 and then 1.5
            ("0.001", 1, 14449, "14.4"),
            ("0.001", 1, -1449, "-1.4"),
            ("0.001", 0, 1449, "1"),
            ("0.001", 1, 1450, "1.5"),
            ("0.001", 1, -1450, "-1.5"),
            ("0.001", 2, 1015, "1.02"),  # 1.015 exactly, which a double holds as 1.01499...
            ("0.001", 0, -499, "0"),  # no "-0"
            ("0.001", 3, 0, "0.000"),
            ("999999999", 9, 2**31 - 1, "2147483644852516353.000000000"),
            ("-999999999", 9, -2**31, "2147483645852516352.000000000"),
            ("0.000000001", 9, -2**31, "-2.147483648"),
            ("0.00000000000000000005", 0, 2**31 - 1, "0"),
            ("2.54", 1, 5, "12.7"),
            (".5", 0, -3, "-2"),
        ]
        answers = probe("%s %d %d" % (scale, decimals, value) for scale, decimals, value, _ in rows)
        for (scale, decimals, value, typed), answer in zip(rows, answers):
            self.assertEqual(answer, typed, (scale, decimals, value))
        refused = probe(["0.001 10 1", "1e3 0 1", "1234567890 0 1", "1. 0 1", "- 0 1"])
        self.assertEqual(refused, ["refused 2"] * 5)

    def test_sweep_against_decimal(self):
        rng = random.Random(32)
        mantissas = [1, 2, 3, 5, 7, 25, 125, 254, 1000, 3048, 99999, 123456789, 500000000, 999999999, -1, -254,
                     -999999999, 0]
        exponents = list(range(13)) + [18, 19, 20, 25]
        pairs = [(m, e, d) for m in mantissas for e in exponents for d in range(10)]
        lines, expected = [], []
        for mantissa, exponent, decimals in pairs:
            scale = scale_text(mantissa, exponent)
            values = values_near_halves(mantissa, exponent, decimals, rng)
            lines.append("%s %d %s" % (scale, decimals, " ".join(map(str, values))))
            expected.append([(scale, decimals, v, reference(v, scale, decimals)) for v in values])
        checked = 0
        for cases, answer in zip(expected, probe(lines)):
            self.assertEqual(answer.split(" "), [typed for *_, typed in cases], cases[0][:2])
            checked += len(cases)
        print("typed numbers: %d values over %d scale/decimals pairs agree with Python's decimal"
              % (checked, len(pairs)), file=sys.stderr)


if __name__ == "__main__":
    main()
