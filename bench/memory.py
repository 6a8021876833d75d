"""Bytes per live quantity, measured with tracemalloc over 100,000 objects; and for tolvat, the
resident memory of a process that prints a million distinct custom units (each thread remembers
what a bounded number of unit collections display as, so it must stay flat).

    python3 bench/memory.py [tolvat|pint]

Prints one JSON object. The figure counts what the Python allocator hands out for the objects
themselves (the list that holds them is subtracted); for tolvat a collection of more than two
units keeps its entries in a separate C++ allocation, which tracemalloc does not see, so that
extra block is reported beside the figure.
"""

import json
import os
import sys
import tracemalloc

COUNT = 100_000


def measure(make):
    holder = [None] * COUNT
    tracemalloc.start()
    before, _ = tracemalloc.get_traced_memory()
    for i in range(COUNT):
        holder[i] = make(i)
    after, _ = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    return (after - before) / COUNT


def resident_mib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def print_distinct_custom_units(count, checkpoints):
    """Resident MiB at each checkpoint while `count` distinct custom units are made and printed in
    all three forms, each as a compound unit (so every one is remembered) and dropped at once."""
    from tolvat import Tolvat

    per_second = Tolvat.unit("s") ** -1
    seen = {}
    for i in range(1, count + 1):
        q = Tolvat.custom(f"unit{i}", f"u{i}", Tolvat.unit("m") * i) * per_second
        str(q), q.latex(), q.descriptive()
        if i in checkpoints:
            seen[i] = resident_mib()
    return seen


def main():
    library = sys.argv[1] if len(sys.argv) > 1 else "tolvat"
    rows = {}
    if library == "tolvat":
        from tolvat import Tolvat

        one, three = Tolvat.unit("m"), Tolvat.unit("kg.m/s2")
        rows["one-unit quantity"] = measure(lambda i: one * float(i))
        rows["three-unit quantity"] = measure(lambda i: three * float(i))
        # Three entries of 24 bytes each live outside the object once there are more than two.
        rows["three-unit entries (C++ heap, not traced)"] = 3 * 24
        # Resident memory while a million distinct custom units are printed: flat once the
        # per-thread memo is full.
        for n, mib in print_distinct_custom_units(1_000_000, {10_000, 100_000, 1_000_000}).items():
            rows[f"MiB resident after printing {n:,} custom units"] = mib
    elif library == "pint":
        import pint

        ureg = pint.UnitRegistry()
        m, three = ureg.meter, ureg("kg*m/s**2").units
        rows["one-unit quantity"] = measure(lambda i: float(i) * m)
        rows["three-unit quantity"] = measure(lambda i: float(i) * three)
    print(json.dumps({"library": library, "rows": rows}))


if __name__ == "__main__":
    main()
