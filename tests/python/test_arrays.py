"""Quantities over arrays, checked element by element against quantities of one value.

The one-value path is the oracle: every element of a result must be, bit for bit (NaN for NaN),
what the same operation on quantities of that element's values gives, in the same units, and an
operation that raises for one value raises the same way for arrays. Each operation is tried over
the fused loops (contiguous float64 ndarrays) and over the array library's own operations
(non-contiguous views, an ndarray subclass), with array and single-value operands on either side.
"""

import copy
import math
import operator
import pickle
import struct

import numpy as np
import pytest

pytestmark = pytest.mark.filterwarnings("error::RuntimeWarning")

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
INF, NAN = math.inf, math.nan
VALUES = [0.0, -0.0, 1.5, -2.5, 36.0, 0.1, 1e300, NAN, INF, -INF, 273.15, 5e-324]
UNITS = ["m", "km", "ft", "°C", "°F", "K", "km/hr", "m/s", "m.km", "m/km", "degree", "s"]


class Sub(np.ndarray):
    """An ndarray subclass: its operations stay NumPy's own (no fused loop)."""


def bits(x):
    return struct.unpack("<q", struct.pack("<d", x))[0]


def same(x, y):
    return (math.isnan(x) and math.isnan(y)) or bits(x) == bits(y)


def layouts(values):
    """The same float64 values as a contiguous array, a strided view, and a subclass."""
    contiguous = np.array(values, dtype=float)
    strided = np.empty(2 * len(values))[::2]
    strided[:] = values
    return {"contiguous": contiguous, "strided": strided, "subclass": contiguous.copy().view(Sub)}


def single(unit, x):
    """The quantity of one value x in `unit` exactly as parsed (U(unit) * x would simplify it)."""
    return Tolvat.wrap(np.array([x]), unit)[0]


def outcome(fn):
    try:
        return "ok", fn()
    except Exception as exc:  # noqa: BLE001 - the exception is the result compared
        return type(exc), str(exc)


def check_outcome(make, expected_for):
    """make() against expected_for(i) for every i: the same exception, or the same elements. True
    when both gave a result."""
    kind, result = outcome(make)
    expected_kind, expected = outcome(lambda: expected_for(0))
    assert kind == expected_kind, (result, expected)
    if kind != "ok":
        assert result == expected
        return False
    check_elements(result, expected_for)
    return True


def check_elements(result, expected_for):
    """Every element of `result` (a quantity over an array) against the one-value quantity."""
    for i in range(len(VALUES)):
        expected = expected_for(i)
        got = result[i]
        assert same(got.as_number(), expected.as_number()), (i, got, expected)
        assert str(got.as_unit(expected)) == str(expected) or math.isnan(expected.as_number())


OPERATORS = [operator.add, operator.sub, operator.mul, operator.truediv]


@pytest.mark.parametrize("layout", ["contiguous", "strided", "subclass"])
@pytest.mark.parametrize("op", OPERATORS, ids=lambda f: f.__name__)
def test_arithmetic_matches_one_value_quantities(op, layout):
    xs = layouts(VALUES)[layout]
    ys = layouts(VALUES[::-1])[layout]
    checked = 0
    for a in UNITS:
        for b in UNITS:
            left = Tolvat.wrap(xs, a)
            right = Tolvat.wrap(ys, b)
            one = lambda i: op(single(a, VALUES[i]), single(b, VALUES[::-1][i]))  # noqa: E731
            if not check_outcome(lambda: op(left, right), one):
                continue
            # One side a single value, on either side; a plain array is a dimensionless quantity.
            check_elements(op(left, U(b) * 2.5), lambda i: op(single(a, VALUES[i]), U(b) * 2.5))
            check_elements(op(U(b) * 2.5, left), lambda i: op(U(b) * 2.5, single(a, VALUES[i])))
            checked += 1
        check_outcome(lambda: op(Tolvat.wrap(xs, a), 3), lambda i: op(single(a, VALUES[i]), 3))
        check_outcome(lambda: op(ys, U(a)), lambda i: op(VALUES[::-1][i], U(a)))
    assert checked > 20


UNARY = [lambda q: q**2, lambda q: q**0.5, lambda q: q**-1, lambda q: q**3.0, operator.neg, operator.pos, abs, round,
         lambda q: round(q, 2), lambda q: round(q, -1), lambda q: q.round_sfig(2)]


@pytest.mark.parametrize("layout", ["contiguous", "strided", "subclass"])
def test_powers_unary_operations_and_rounding_match(layout):
    xs = layouts(VALUES)[layout]
    for a in UNITS:
        q = Tolvat.wrap(xs, a)
        for f in UNARY:
            check_elements(f(q), lambda i: f(single(a, VALUES[i])))
    # Elementwise exponents of a plain base, in either order.
    d = Tolvat.wrap(layouts([0.5, 2.0, 3.0, -1.0, NAN, INF, 0.0, 1.0, 2.5, -2.5, 10.0, 1e-3])[layout], Tolvat.empty())
    base = Tolvat.empty() * 2.0
    for i, e in enumerate(d):
        assert same((base**d)[i].as_number(), (base**e).as_number())
        assert same((d**d)[i].as_number(), (e**e).as_number())


@pytest.mark.parametrize("layout", ["contiguous", "strided", "subclass"])
def test_conversions_and_comparisons_match(layout):
    xs = layouts(VALUES)[layout]
    for a in UNITS:
        q = Tolvat.wrap(xs, a)
        for b in UNITS:
            if check_outcome(lambda: q.as_unit(b), lambda i: single(a, VALUES[i]).as_unit(b)):
                numbers = q.as_number(b)
                assert isinstance(numbers, np.ndarray)
                scaled = q.as_number(U(b) * 4, scale=True)
                for i, v in enumerate(VALUES):
                    assert same(numbers[i], single(a, v).as_number(b))
                    assert same(scaled[i], single(a, v).as_number(U(b) * 4, scale=True))
            other = Tolvat.wrap(layouts(VALUES[::-1])[layout], b)
            for op in (operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge):
                kind, flags = outcome(lambda: op(q, other))
                expected_kind, expected = outcome(lambda: op(single(a, 1.0), single(b, 1.0)))
                assert kind == expected_kind, (a, b, op)
                if kind != "ok":
                    assert flags == expected
                    continue
                assert isinstance(flags, np.ndarray) and flags.dtype == bool
                assert flags.tolist() == [op(single(a, x), single(b, y)) for x, y in zip(VALUES, VALUES[::-1])]
        # as_unitless: the plain values, or the one-value path's error.
        kind, numbers = outcome(q.as_unitless)
        expected_kind, expected = outcome(lambda: [single(a, v).as_unitless() for v in VALUES])
        assert kind == expected_kind, a
        assert all(map(same, numbers, expected)) if kind == "ok" else numbers == expected
        check_elements(q.as_base_units(), lambda i: (single(a, VALUES[i])).as_base_units())
        check_elements(q.simplify(), lambda i: (single(a, VALUES[i])).simplify())
        in_place = Tolvat.wrap(xs.copy(), a)
        in_place.simplify_inplace()
        check_elements(in_place, lambda i: (single(a, VALUES[i])).simplify())


def test_text_forms_print_each_element_as_a_float_quantity():
    for a in UNITS + ["N.m.kg/J", "kg.m2/s2"]:
        q = U(a) * np.array([1.5, -0.0, NAN, 1e21, 1e-7])
        singles = [U(a) * v for v in (1.5, -0.0, NAN, 1e21, 1e-7)]
        numbers = [str(s).split(" ", 1) for s in singles]
        assert str(q) == "[" + " ".join(n for n, _ in numbers) + "] " + numbers[0][1]
        assert repr(q) == str(q)
        latex = [s.latex().split("~", 1) for s in singles]
        assert q.latex() == "[" + " ".join(n for n, _ in latex) + "]~" + latex[0][1]
        descriptive = [s.descriptive().split(" ", 1) for s in singles]
        assert q.descriptive() == "[" + " ".join(n for n, _ in descriptive) + "] " + descriptive[0][1]
        assert format(q, ".2f") == "[" + " ".join(format(s, ".2f").split(" ")[0] for s in singles) + "] " + numbers[0][1]
    assert str(U("m") * np.arange(1.0, 101.0)) == "[1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 " \
        "26 27 28 29 30 31 32 33 34 35 36 37 38 39 40 41 42 43 44 45 46 47 48 49 50 51 52 53 54 55 56 57 58 59 60 61 62 " \
        "63 64 65 66 67 68 69 70 71 72 73 74 75 76 77 78 79 80 81 82 83 84 85 86 87 88 89 90 91 92 93 94 95 96 97 98 " \
        "99 100] [m]"
    assert str(U("m") * np.arange(1.0, 2001.0)) == "[1 2 3 ... 1998 1999 2000] [m]"
    assert str(U("m") * np.arange(6.0).reshape(2, 3)) == "[[0 1 2]\n [3 4 5]] [m]"
    assert str(U("m") * np.array(7.0)) == "7 [m]"
    assert str(U("m") * np.array([])) == "[] [m]"
    # Printing leaves the object as it was: a wrapped array stays the quantity's own.
    values = np.array([1.0, 2.0])
    q = Tolvat.wrap(values, "m/km")
    str(q), q.latex(), round(q)
    assert q.as_number() is values and str(q) == "[0.001 0.002] []"


def test_making_one_element_types_and_the_no_copy_wrap():
    a = np.arange(4.0)
    for q in (U("m") * a, a * U("m"), Tolvat.wrap(a, "m"), Tolvat.wrap(a, U("m") * 5)):
        assert type(q) is Tolvat and str(q) == "[0 1 2 3] [m]"
    assert not np.shares_memory((U("m") * a).as_number(), a)
    wrapped = Tolvat.wrap(a, "m")
    assert wrapped.as_number() is a
    a[0] = 9.0
    assert wrapped[0].as_number() == 9.0
    for values in (np.arange(3), np.array([True, False, True]), np.arange(3, dtype=np.float32),
                   np.arange(3, dtype=np.uint8), np.arange(3, dtype=np.float16)):
        q = U("m") * values
        assert q.dtype == np.float64
        assert q.as_number().tolist() == values.astype(float).tolist()
    for values in (np.array(["a"]), np.array([object()]), np.array([1j]), np.zeros(2, dtype=np.longdouble),
                   np.array(["2020-01-01"], dtype="datetime64[D]")):
        with pytest.raises(TypeError, match="real numbers: an array of dtype"):
            U("m") * values
    with pytest.raises(TypeError, match="float64 arrays only"):
        Tolvat.wrap(np.arange(3), "m")
    with pytest.raises(TypeError, match="takes an array"):
        Tolvat.wrap([1.0, 2.0], "m")


def test_shape_indexing_iteration_and_assignment():
    q = U("m") * np.arange(12.0).reshape(3, 4)
    assert (len(q), q.shape, q.ndim, q.size, q.dtype) == (3, (3, 4), 2, 12, np.float64)
    assert str(q[1]) == "[4 5 6 7] [m]" and str(q[1, 2]) == "6 [m]"
    assert type(q[1, 2]) is Tolvat and q[1, 2].as_number() == 6.0
    row = (U("km") * np.array([1.0, 2.0, 3.0, 4.0]))
    assert str(row[1:3]) == "[2 3] [km]" and str(row[row > U("m") * 1500]) == "[2 3 4] [km]"
    assert str(row[np.array([3, 0])]) == "[4 1] [km]"
    assert [str(x) for x in row] == ["1 [km]", "2 [km]", "3 [km]", "4 [km]"]
    assert [str(x) for x in q][1] == "[4 5 6 7] [m]"
    row[0] = U("m") * 500
    row[1:3] = U("m") * np.array([1.0, 2.0])
    with pytest.raises(TypeError, match="not compatible"):
        row[3] = 7  # a number is dimensionless
    assert str(row) == "[0.5 0.001 0.002 4] [km]"
    kelvin = U("K") * np.zeros(2)
    kelvin[0] = U("°C") * 0.0  # converted as as_unit converts, with the offsets
    assert kelvin[0].as_number() == (U("°C") * 0.0).as_unit("K").as_number()
    # A quantity of one value answers as before, as an object without these would.
    one = U("m") * 2.0
    for call, message in ((lambda: len(one), "object of type 'Tolvat' has no len()"),
                          (lambda: one[0], "'Tolvat' object is not subscriptable"),
                          (lambda: iter(one), "'Tolvat' object is not iterable")):
        with pytest.raises(TypeError, match=message):
            call()
    with pytest.raises(TypeError, match="does not support item assignment"):
        one[0] = 1
    assert bool(U("m") * 0.0) and not hasattr(one, "shape")
    assert bool(U("m") * np.array([1.0])) and not bool(U("m") * np.array([0.0]))
    with pytest.raises(ValueError, match="ambiguous"):
        bool(U("m") * np.arange(2.0))


def test_bad_input_raises_and_changes_nothing():
    a, b = np.arange(3.0), np.arange(4.0)
    left, right = U("m") * a, U("m") * b
    cases = [
        (lambda: left + right, ValueError, "could not be broadcast"),
        (lambda: left < right, ValueError, "could not be broadcast"),
        (lambda: left + U("s") * a, TypeError, "are not compatible"),
        (lambda: left < U("s"), TypeError, "are not compatible"),
        (lambda: left ** np.arange(3.0), TypeError, "array exponent"),
        (lambda: U("m") ** (Tolvat.empty() * a), TypeError, "array exponent"),
        (lambda: left * np.array([object()] * 3), TypeError, "dtype object"),
        (lambda: left + LogTolvat.unit("dB") * 3, TypeError, "LogTolvat does not mix with arrays"),
        (lambda: LogTolvat.unit("dB") * 3 + left, TypeError, "LogTolvat does not mix with arrays"),
        (lambda: LogTolvat.unit("dB") * a, TypeError, "unsupported operand|does not support ufuncs"),
        (lambda: a * LogTolvat.unit("dB"), TypeError, "unsupported operand|does not support ufuncs"),
        (lambda: float(left), TypeError, "as_number"),
        (lambda: left.__div__(None), TypeError, "cannot be coerced"),
        (lambda: left.exp(), TypeError, "are not compatible"),
    ]
    for call, exc, message in cases:
        with pytest.raises(exc, match=message):
            call()
    assert str(left) == "[0 1 2] [m]" and a.tolist() == [0.0, 1.0, 2.0] and b.tolist() == [0.0, 1.0, 2.0, 3.0]


def test_special_arrays():
    # NaN and infinities, empty, 0-d, non-contiguous and read-only arrays.
    special = np.array([NAN, INF, -INF, -0.0])
    q = U("°C") * special
    assert all(map(same, q.as_number("K"), [(U("°C") * v).as_number("K") for v in special]))
    empty = U("m") * np.array([])
    assert (empty + U("km") * np.array([])).shape == (0,) and (empty < U("m")).shape == (0,)
    assert str(empty.as_unit("km")) == "[] [km]"
    zero_d = U("km") * np.array(2.0)
    assert zero_d.shape == () and (zero_d + U("m")).shape == () and str(zero_d + U("m")) == "2.001 [km]"
    assert (zero_d < U("m") * np.array([1.0, 3000.0])).tolist() == [False, True]
    frozen = np.arange(4.0)
    frozen.flags.writeable = False
    r = Tolvat.wrap(frozen, "m")
    assert str(r + r) == "[0 2 4 6] [m]" and str(r[::2].as_unit("cm")) == "[0 200] [cm]"
    with pytest.raises(ValueError, match="read-only"):
        r[0] = U("m")
    column = U("m") * np.arange(12.0).reshape(3, 4)
    assert str(column[:, 1] + U("km") * np.ones(3)) == "[1001 1005 1009] [m]"
    assert str(U("m") * np.arange(3.0)[:, None] + U("m") * np.arange(2.0)) == "[[0 1]\n [1 2]\n [2 3]] [m]"


def test_pickle_and_copies_round_trip():
    for q in (U("km/hr") * np.arange(5.0), U("°C") * np.array([[1.5, NAN], [INF, -0.0]]), U("m") * np.array(3.0),
              Tolvat.wrap(np.arange(10.0)[::3], "ft")):
        for other in [pickle.loads(pickle.dumps(q, protocol)) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)] + \
                [copy.copy(q), copy.deepcopy(q)]:
            assert type(other) is Tolvat and str(other) == str(q)
            assert not np.shares_memory(other.as_number(), q.as_number())
            assert [bits(x) for x in other.as_number().ravel()] == [bits(x) for x in q.as_number().ravel()]
    state, values = U("m").__reduce__()[1][0], (U("m") * np.arange(2.0)).__reduce__()[1]
    assert values[0][0] == 2 and values[0][1:] == state[1:] and values[1].tolist() == [0.0, 1.0]
    with pytest.raises(ValueError, match="given with an array"):
        Tolvat._from_state(state, np.arange(2.0))
    with pytest.raises(ValueError, match="without its array"):
        Tolvat._from_state(values[0])
    assert str(Tolvat._from_state(state, None)) == "1 [m]"


def test_threads_share_array_quantities():
    # The access rule covers array quantities like any other (free-threaded builds run this truly
    # in parallel): only access conflicts, and every quantity measures what it did before.
    import array_stress_workload

    unexpected, drifted = array_stress_workload.run(threads=6, operations_per_thread=400)
    assert unexpected == [] and drifted == []
