"""Concurrent work on shared quantities over arrays, used by test_arrays.py and scripts/stress.py.

Threads released together by a barrier pick operations at random on a pool of shared array
quantities: arithmetic between them, conversions, comparisons, indexing, text and rounding, item
assignment of the value an element already has (converted from other units), and
simplify_inplace, which replaces a quantity's units and array together. The only exceptions
allowed are the access conflicts: RuntimeError "Already borrowed" / "Already mutably borrowed",
and from an operator, Python's TypeError for unsupported operands (a slot that meets a held object
declines). Afterwards every shared quantity must measure what it measured before, element by
element in base units, to within a few units in the last place (simplify_inplace converts).
"""

import random
import sys
import threading

import numpy as np

from tolvat import Tolvat

U = Tolvat.unit
ALLOWED_RUNTIME = ("Already borrowed", "Already mutably borrowed")


def build_pool(n=64):
    x = np.linspace(1.0, 2.0, n)
    return [
        (U("m") * x).as_unit("km.m/ft"),  # length, simplify_inplace rewrites it
        U("ft") * x[::-1],  # length
        Tolvat.wrap(np.linspace(0.0, 3.0, 2 * n)[::2], "km"),  # length over a strided view
        (U("m/s") * x).as_unit("km.ft/hr.m"),  # speed
        U("km/hr") * x,  # speed
        U("°C") * x,  # temperature
    ]


LENGTHS, SPEEDS, TEMPERATURE = (0, 1, 2), (3, 4), 5


def base_values(q):
    return q.as_base_units().as_number().copy()


def operation(pool, rng):
    i, j = rng.choice(LENGTHS), rng.choice(LENGTHS)
    s = rng.choice(SPEEDS)
    choice = rng.randrange(12)
    if choice == 0:
        return pool[i] + pool[j]
    if choice == 1:
        return pool[i] * pool[s] / pool[j]
    if choice == 2:
        return pool[i] < pool[j]
    if choice == 3:
        return pool[s].as_unit("m/s")
    if choice == 4:
        return str(pool[i]) + pool[s].latex()
    if choice == 5:
        return round(pool[j], 3)
    if choice == 6:
        return pool[i][rng.randrange(64)]
    if choice == 7:
        return pool[TEMPERATURE].as_number("K")
    if choice == 8:
        return pool[rng.choice(LENGTHS + SPEEDS)].simplify_inplace()
    if choice == 9:
        # An element set to the value it already has, given in other units: nothing changes
        # beyond the roundings of the two conversions.
        k = rng.randrange(64)
        pool[i][k] = pool[i][k].as_unit("mm")
        return None
    if choice == 10:
        return list(pool[s][:4])
    return -pool[i] ** 2


def worker(pool, barrier, seed, count, unexpected):
    rng = random.Random(seed)
    barrier.wait()
    for _ in range(count):
        try:
            operation(pool, rng)
        except RuntimeError as exc:
            if str(exc) not in ALLOWED_RUNTIME:
                unexpected.append(repr(exc))
        except TypeError as exc:
            if "unsupported operand" not in str(exc):
                unexpected.append(repr(exc))
        except Exception as exc:  # noqa: BLE001 - any other exception is a failure, reported
            unexpected.append(repr(exc))


def run(threads=8, operations_per_thread=500, seed=1234, switch_interval=1e-6):
    """Runs the work; returns (unexpected exception texts, indexes of quantities that drifted)."""
    pool = build_pool()
    before = [base_values(q) for q in pool]
    barrier = threading.Barrier(threads)
    unexpected = []
    old = sys.getswitchinterval()
    sys.setswitchinterval(switch_interval)
    try:
        workers = [threading.Thread(target=worker, args=(pool, barrier, seed + t, operations_per_thread, unexpected))
                   for t in range(threads)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()
    finally:
        sys.setswitchinterval(old)
    drifted = [k for k, q in enumerate(pool) if not np.allclose(base_values(q), before[k], rtol=1e-13, atol=0)]
    return unexpected, drifted
