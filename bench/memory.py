"""Bytes per live quantity, measured with tracemalloc over 100,000 objects.

    python3 bench/memory.py [tolvat|pint]

Prints one JSON object. The figure counts what the Python allocator hands out for the objects
themselves (the list that holds them is subtracted); for tolvat a collection of more than two
units keeps its entries in a separate C++ allocation, which tracemalloc does not see, so that
extra block is reported beside the figure.
"""

import json
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
    elif library == "pint":
        import pint

        ureg = pint.UnitRegistry()
        m, three = ureg.meter, ureg("kg*m/s**2").units
        rows["one-unit quantity"] = measure(lambda i: float(i) * m)
        rows["three-unit quantity"] = measure(lambda i: float(i) * three)
    print(json.dumps({"library": library, "rows": rows}))


if __name__ == "__main__":
    main()
