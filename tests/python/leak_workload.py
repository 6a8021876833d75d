"""Mixed operations for the leak checks (test_leaks.py and scripts/leak_check.py): every method and
operator of both classes, about a third of them failing calls that raise, and measurement of the
memory they leave behind (resident set size and tracemalloc)."""

import gc
import os
import sys
import tracemalloc

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
L = LogTolvat.unit


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


def fails(call, *exc_types):
    """An operation that must raise one of `exc_types`."""

    def run():
        try:
            call()
        except exc_types:
            return
        raise AssertionError("expected a failure")

    return run


def make_operations():
    quiet()
    q = (U("m") * 3.5).as_unit("ft2/m")
    k = U("km/hr") * 90
    d = Tolvat.empty() * 2
    w = U("N.m.kg/J") * 7
    g = L("dB") * 20
    nan = U("m") * float("nan")
    bad = Unprintable()

    ok = [
        lambda: U("km/hr"), lambda: Tolvat.empty(), lambda: Tolvat.constant("c"),
        lambda: Tolvat.custom("smoot", "smoot", U("m") * 1.7018),
        lambda: q.as_unit("km"), lambda: q.as_number(U("km") * 2, scale=True), lambda: q.as_number(),
        lambda: k.as_base_units(), lambda: d.as_unitless(), lambda: w.simplify(), lambda: (w * 1).simplify_inplace(),
        lambda: q + q, lambda: 2 - d, lambda: q * k, lambda: 3 / q, lambda: q ** 2, lambda: 2 ** d, lambda: pow(q, 2, 7),
        lambda: -q, lambda: +k, lambda: abs(q), lambda: q.__div__(k), lambda: q.__rdiv__(2), lambda: d.exp(),
        lambda: d.log(), lambda: d.__log10__(), lambda: float(q), lambda: int(k), lambda: q == q, lambda: q < "km",
        lambda: q != None,  # noqa: E711 - the None fallback is what is measured
        lambda: str(w), lambda: repr(q), lambda: w.latex(), lambda: w.descriptive(), lambda: round(q, 2),
        lambda: q.round_sfig(3), lambda: format(k, ".2f"), lambda: round(q, 400),
        lambda: L("Np"), lambda: g + g, lambda: g - 1, lambda: g * 2, lambda: 2 * g, lambda: g / g, lambda: g ** 2,
        lambda: -g, lambda: abs(g), lambda: float(g), lambda: int(g), lambda: g.as_unit(L("B")), lambda: g.as_number(g),
        lambda: g.as_unitless(), lambda: g.log(), lambda: g.__div__(2), lambda: g.__rdiv__(2), lambda: g < 100,
        lambda: g == "dB", lambda: str(g), lambda: round(g, 2), lambda: g.round_sfig(2), lambda: format(g, ".1f"),
        lambda: d * g, lambda: g * d,
    ]
    failing = [
        fails(lambda: U("nonsense"), LookupError), fails(lambda: U(5), TypeError),
        fails(lambda: U("\ud800"), UnicodeEncodeError), fails(lambda: Tolvat.constant("x"), LookupError),
        fails(lambda: Tolvat.custom("a", "a", None), TypeError), fails(lambda: q.as_unit("s"), TypeError),
        fails(lambda: q.as_unit(None), TypeError), fails(lambda: q.as_unit(bad), TypeError),
        fails(lambda: q.as_unit(10**400), OverflowError), fails(lambda: q.as_number("m", scale=1), TypeError),
        fails(lambda: q + "nonsense", TypeError), fails(lambda: q + U("s"), TypeError), fails(lambda: q < None, TypeError),
        fails(lambda: q.round_sfig("3"), TypeError), fails(lambda: round(q, 2**40), OverflowError),
        fails(lambda: q.exp(), TypeError), fails(lambda: int(nan), ValueError), fails(lambda: q.as_unit(), TypeError),
        fails(lambda: q.as_unit(x=1), TypeError), fails(lambda: L("db"), LookupError),
        fails(lambda: g.as_unit(q), TypeError), fails(lambda: g.__div__("x"), TypeError),
        fails(lambda: g.__div__(bad), TypeError), fails(lambda: g + "x", TypeError), fails(lambda: g.round_sfig(None), TypeError),
        fails(lambda: format(q, "zz"), ValueError), fails(lambda: hash(q), TypeError),
    ]
    return ok + failing


def make_array_operations():
    """Operations on quantities over arrays: every path (fused loops over contiguous float64, the
    array library's own operations over a strided view), about a third of them failing calls."""
    import copy
    import pickle

    import numpy as np

    a = U("m") * np.linspace(1.0, 2.0, 16)
    b = Tolvat.wrap(np.linspace(1.0, 2.0, 32)[::2], "km")
    c = U("°C") * np.arange(16.0)
    x = np.arange(16.0)
    g = L("dB") * 20

    ok = [
        lambda: U("km/hr") * x, lambda: x * U("s"), lambda: a + b, lambda: b - a, lambda: a * b, lambda: a / 2,
        lambda: 2 / a, lambda: a**2, lambda: b**0.5, lambda: -a, lambda: +b, lambda: abs(c), lambda: a < b,
        lambda: b >= U("m"), lambda: a.as_unit("ft"), lambda: b.as_number("m"), lambda: c.as_number("K"),
        lambda: a.as_base_units(), lambda: (a * b).simplify(), lambda: str(a), lambda: b.latex(), lambda: format(c, ".1f"),
        lambda: round(a, 1), lambda: b.round_sfig(2), lambda: a[3], lambda: b[1:4], lambda: a[a > U("m") * 1.5],
        lambda: len(b), lambda: a.shape, lambda: list(b)[0], lambda: copy.deepcopy(b),
        lambda: pickle.loads(pickle.dumps(a)), lambda: Tolvat.wrap(x, "s"), lambda: (Tolvat.empty() * x).exp(),
        lambda: a.__setitem__(0, U("cm") * 100),
    ]
    failing = [
        fails(lambda: a + U("s"), TypeError), fails(lambda: a + U("m") * np.arange(3.0), ValueError),
        fails(lambda: a * np.array(["x"]), TypeError), fails(lambda: a**x, TypeError), fails(lambda: a + g, TypeError),
        fails(lambda: float(a), TypeError), fails(lambda: a < U("s"), TypeError), fails(lambda: Tolvat.wrap(x.astype(int), "m"), TypeError),
        fails(lambda: a.__setitem__(0, U("s")), TypeError), fails(lambda: b.exp(), TypeError),
        fails(lambda: a.as_unit("s"), TypeError), fails(lambda: bool(a), ValueError),
        fails(lambda: Tolvat._from_state(pickle.dumps(1)), TypeError, ValueError),
    ]
    return ok + failing


def run(operations, count):
    """Runs `count` operations, cycling through the list."""
    n = len(operations)
    for i in range(count):
        operations[i % n]()


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def quiet():
    """Silences the reports of the unprintable operand (they are expected)."""
    sys.unraisablehook = lambda args: None


def measure(read, count, warmup, arrays=False):
    """read() after `warmup` operations and again after `count` more."""
    ops = make_array_operations() if arrays else make_operations()
    run(ops, warmup)
    gc.collect()
    before = read()
    run(ops, count)
    gc.collect()
    return before, read()


def measure_rss(count, warmup, arrays=False):
    """Resident memory before and after."""
    return measure(resident_bytes, count, warmup, arrays)


def measure_blocks(count, warmup, arrays=False):
    """The interpreter's count of allocated blocks before and after."""
    return measure(sys.getallocatedblocks, count, warmup, arrays)


def measure_tracemalloc(count, warmup):
    """Bytes still allocated after `count` operations, by tracemalloc, and the biggest sources.
    Tracing starts with a first round of `count` operations that is not counted: the interpreter
    keeps some of the objects made while tracing (the method cache holds the attribute names that
    calls look up, for one), up to a bound that does not depend on the count."""
    ops = make_operations()
    run(ops, warmup)
    gc.collect()
    tracemalloc.start(1)
    try:
        run(ops, count)
        gc.collect()
        first = tracemalloc.take_snapshot()
        run(ops, count)
        gc.collect()
        second = tracemalloc.take_snapshot()
    finally:
        tracemalloc.stop()
    filters = [tracemalloc.Filter(False, tracemalloc.__file__)]
    stats = second.filter_traces(filters).compare_to(first.filter_traces(filters), "lineno")
    growth = sum(s.size_diff for s in stats)
    return growth, [s for s in stats if s.size_diff > 0][:5]
