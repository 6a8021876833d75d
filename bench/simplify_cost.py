"""Cost of the simplification: str() (which fully simplifies a copy) on typical quantities, the
worst cases of the simplification search against the limits the project holds them to, and how
soon the worker threads of an abandoned search end.

    python3 bench/simplify_cost.py
"""

import os
import random
import statistics
import sys
import time
import timeit

from tolvat import Tolvat

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
import worker_support as ws  # noqa: E402

U = Tolvat.unit

CASES = [
    ("one unit (m)", U("m") * 3),
    ("kg.m2/s2", U("kg.m2/s2") * 3),
    ("N.m.kg/J", U("N.m.kg/J") * 3),
    ("m.km", U("m.km") * 3),
    ("N5.m5.s5.kg5 (worst case)", U("N5.m5.s5.kg5") * 3),
    ("J.N.W.Pa.C.V.F.Wb (8 movable)", U("J.N.W.Pa.C.V.F.Wb") * 3),
    ("J5.N5.W5.Pa5.C5.V5.F5.Wb5", U("J5.N5.W5.Pa5.C5.V5.F5.Wb5") * 3),
]

# Collections whose search has the most to walk: several movable units at powers up to 5.
WORST = ["N5.m5.s5.kg5", "N5.m5.s5.kg5.J5.W5.Pa5.km5", "J5.N5.W5.Pa5.g5.m5.s5.min5",
         "N5.J4.W3.Pa5.kg2.km5.ft4.hr5", "kg5.m5.s5.N5.ft5.lb5.min5.J5"]
POOL = ["N", "J", "W", "Pa", "kg", "g", "m", "km", "ft", "s", "min", "hr", "lb", "L", "bar", "C", "A", "V"]
WORST_LIMIT_MS = 50.0  # the first and the slowest simplification of any one collection
MEAN_LIMIT_MS = 1.0  # the mean over repeated simplifications of one collection


def random_worst(count, seed=99):
    """Products of eight distinct units of the pool at powers 1 to 5 (nothing cancels)."""
    rng = random.Random(seed)
    return [".".join(f"{u}{rng.randint(1, 5)}" for u in rng.sample(POOL, 8)) for _ in range(count)]


def simplify_times(q, repeats):
    """Milliseconds of the first simplify() of a fresh quantity and of each repeat."""
    times = []
    for _ in range(repeats + 1):
        start = time.perf_counter()
        q.simplify()
        times.append((time.perf_counter() - start) * 1e3)
    return times[0], times[1:]


def str_costs():
    print(f"{'str() of':32} {'ns per call':>12}   text")
    for name, q in CASES:
        text = str(q)
        number = 2000
        best = min(timeit.repeat(lambda: str(q), number=number, repeat=5)) / number * 1e9
        shown = text if len(text) < 40 else text[:37] + "..."
        print(f"{name:32} {best:12.0f}   {shown}")


def worst_cases():
    print(f"\nsimplify() of the worst cases (aim: first and slowest under {WORST_LIMIT_MS:g} ms, "
          f"mean under {MEAN_LIMIT_MS:g} ms)")
    print(f"{'collection':34} {'first ms':>9} {'mean ms':>9} {'max ms':>9} {'over':>5}")
    within = True
    for i, text in enumerate(WORST + random_worst(20)):
        first, rest = simplify_times(U(text), 1000 if i < len(WORST) else 50)
        mean, slowest = statistics.fmean(rest), max(rest)
        over = sum(t >= WORST_LIMIT_MS for t in rest)
        within &= first < WORST_LIMIT_MS and mean < MEAN_LIMIT_MS
        print(f"{text[:34]:34} {first:9.3f} {mean:9.4f} {slowest:9.3f} {over:5}")
    print("all within the aims" if within else "SOME OUTSIDE THE AIMS")
    # Searches that walk their whole range: nothing satisfies, workers busy throughout.
    first, rest = simplify_times(ws.exhaustive(), 10)
    print(f"{'whole range, no answer':34} {first:9.3f} {statistics.fmean(rest):9.4f} {max(rest):9.3f}")


def worker_wind_down():
    """Milliseconds from the return of a search that left workers running to their last end."""
    if not os.path.isdir("/proc/self/task"):
        return
    baseline = ws.quiet_count()
    q = ws.abandoning()
    waits = []
    for _ in range(40):
        ws.settle(baseline)
        q.simplify()
        start = time.perf_counter()
        ws.settle(baseline)
        waits.append((time.perf_counter() - start) * 1e3)
    print(f"\nworkers of an abandoned search end within {statistics.median(waits):.2f} ms "
          f"(median of 40), {max(waits):.2f} ms at most (aim: median under 100 ms)")


def main():
    str_costs()
    worst_cases()
    worker_wind_down()


if __name__ == "__main__":
    main()
