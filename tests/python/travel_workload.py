"""Quantities and functions that other processes run: the pool and distributed tests map these,
so worker processes import them by name."""

import pickle

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
LENGTHS = ["m", "km", "ft", "mi", "cm", "in"]


def furlong():
    return Tolvat.custom("furlong", "fur", U("m") * 201.168)


def lengths(n):
    """n lengths in mixed units, every seventh in a custom unit, with values that do not sum exactly."""
    fur = furlong()
    out = []
    for i in range(n):
        unit = fur if i % 7 == 3 else U(LENGTHS[i % len(LENGTHS)])
        out.append(unit * (0.1 * i + 1 / (i + 3)))
    return out


def levels(n):
    """n logarithmic quantities in decibels and nepers."""
    return [LogTolvat.unit("dB" if i % 3 else "Np") * (i % 40 - 20 + 0.25) for i in range(n)]


def state(q):
    """Every field of a quantity, as bytes: equal states are equal quantities."""
    return pickle.dumps(q, 5)


def describe_length(q):
    """What a worker computes for one length: conversions, a product and the texts."""
    meters = q.as_unit("m")
    area = q * meters
    return meters, area.as_unit("m2"), str(area), q.latex(), q.as_number("ft")


def describe_level(x):
    return x.as_unit(LogTolvat.unit("dB")), x + LogTolvat.unit("B"), str(x), x.as_number()


def sum_in_meters(partition):
    """The sum of a partition's lengths, in meters, in the partition's order."""
    total = U("m") * 0.0
    for q in partition:
        total = total + q
    return total


def combine_levels(partition):
    """The logarithmic sum (the product of the ratios) of a partition's levels, in decibels."""
    total = LogTolvat.unit("dB") * 0.0
    for x in partition:
        total = total + x
    return total
