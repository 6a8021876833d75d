#!/usr/bin/env python3
"""Writes number_text_cases.txt: one double per line as 16 hex digits of its bits, a space, and
its expected number text.

The expected text takes the digits of Python's repr (shortest round trip, nearest on ties) and
writes them positionally: no exponent, no decimal point for whole numbers, "-0", "NaN", "inf",
"-inf". Run it again to regenerate the file; the seed is fixed so the output is stable.
"""
import math
import random
import struct
import sys
from decimal import Decimal
from pathlib import Path


def bits(x: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def from_bits(b: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def expected(x: float) -> str:
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "-inf" if x < 0 else "inf"
    text = format(Decimal(repr(x)), "f")
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    if text == "0" and math.copysign(1.0, x) < 0:
        text = "-0"
    return text


def sample(rng: random.Random) -> list:
    values = [0.0, -0.0, 1.0, -1.0, 0.5, 0.25, 1e-7, 1e20, 1e21, 1e22, 1e-300, 1e300, -1e300,
              5e-324, -5e-324, 2.2250738585072014e-308, 2.225073858507201e-308,
              1.7976931348623157e308, -1.7976931348623157e308, 0.1, 0.2, 0.3, 1 / 3, 2 / 3,
              9007199254740992.0, 9007199254740993.0, 123456789012345680.0, 1.005, 2.5, -12.0,
              float("nan"), float("inf"), float("-inf"), -float("nan")]
    # Powers of ten and their neighbours on both sides.
    for k in range(-323, 309):
        try:
            p = float(f"1e{k}")
        except OverflowError:
            continue
        values += [p, math.nextafter(p, 0.0), math.nextafter(p, math.inf)]
    # Subnormals.
    for _ in range(600):
        values.append(from_bits(rng.getrandbits(52)) * rng.choice((1, -1)))
    # Uniform bit patterns (most are very large or very small).
    for _ in range(2000):
        values.append(from_bits(rng.getrandbits(64)))
    # Values of everyday magnitude.
    while len(values) < 20000:
        kind = rng.randrange(4)
        if kind == 0:
            values.append(rng.uniform(-1e6, 1e6))
        elif kind == 1:
            values.append(round(rng.uniform(-1000, 1000), rng.randrange(0, 8)))
        elif kind == 2:
            values.append(float(rng.randrange(-10**17, 10**17)))
        else:
            values.append(rng.random() * 10.0 ** rng.randrange(-30, 30))
    return values[:20000]


def main() -> None:
    rng = random.Random(20240611)
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("number_text_cases.txt")
    with out.open("w") as f:
        for x in sample(rng):
            f.write(f"{bits(x):016x} {expected(x)}\n")


if __name__ == "__main__":
    main()
