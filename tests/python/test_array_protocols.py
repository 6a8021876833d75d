"""NumPy's protocols on quantities: every supported ufunc over arrays against the same operation on
the float-valued quantities of each element (units, value bits, errors), reductions, out=, the
array functions against NumPy on the plain values, and the errors of what is not supported."""

import math
import pickle
import subprocess
import sys
import warnings

import numpy as np
import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
A = np.array([0.0, -0.0, 1.5, -2.25, 12345.678, 3.7e-5, 1e300, np.inf, np.nan, 0.25])
B = np.array([2.5, 7.0, -1e-3, 0.5, -0.0, 1e-300, 3.0, 2.0, 1.0, np.nan])

# Units of the two operands; None is a plain array (a dimensionless number without units).
PAIRS = [
    ("m", "km"), ("km", "ft"), ("°C", "K"), ("K", "°F"), ("°F", "°C"), ("degree", None), ("rad", "degree"),
    (None, "degree"), ("", None), (None, ""), ("m", "s"), ("m", None), ("m.km", "m"), ("km/hr", "m/s"),
]
BINARY = ["add", "subtract", "multiply", "divide", "maximum", "minimum", "hypot", "copysign", "arctan2",
          "less", "less_equal", "equal", "not_equal", "greater", "greater_equal"]
UNARY = ["negative", "positive", "absolute", "fabs", "rint", "floor", "ceil", "trunc", "sqrt", "cbrt", "square",
         "reciprocal", "isnan", "isinf", "isfinite", "signbit", "sin", "cos", "tan", "arcsin", "arccos", "arctan",
         "exp", "log", "log2", "log10", "expm1", "log1p"]
COMPARISONS = {"less", "less_equal", "equal", "not_equal", "greater", "greater_equal"}
# The operators are the float path's own form of these ufuncs.
OPERATORS = {
    "add": lambda a, b: a + b, "subtract": lambda a, b: a - b, "multiply": lambda a, b: a * b,
    "divide": lambda a, b: a / b, "less": lambda a, b: a < b, "less_equal": lambda a, b: a <= b,
    "equal": lambda a, b: a == b, "not_equal": lambda a, b: a != b, "greater": lambda a, b: a > b,
    "greater_equal": lambda a, b: a >= b, "negative": lambda a: -a, "positive": lambda a: +a,
    "absolute": abs,
}


def quantity(values, unit):
    return values if unit is None else Tolvat.wrap(values, Tolvat.empty() if unit == "" else unit)


def state(x):
    """Every field of a result: a quantity's units in order and value bits, or a plain value's bits."""
    if isinstance(x, Tolvat):
        return pickle.dumps(x, 5)
    return np.float64(x).tobytes() if not isinstance(x, (bool, np.bool_)) else bool(x)


def units_and_values(q):
    """The units of a quantity in their order, and its values in C order, as bytes."""
    values = np.asarray(q.as_number())
    return state(Tolvat.wrap(np.zeros(1), q)), values.shape, np.ascontiguousarray(values).tobytes()


def outcome(f, *args):
    """The result of f, or the type and message of its error."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        try:
            return f(*args), None
        except (TypeError, ValueError) as e:
            return None, (type(e), str(e))


def check_elementwise(name, got, error, operands, float_op):
    """Each element of an array result against the float path on that element's operands."""
    for i in range(len(A)):
        want, want_error = outcome(float_op, *(q[i] for q in operands))
        assert error == want_error, (name, i)
        if error is None:
            assert state(got[i]) == state(want), (name, i, got[i], want)


def test_every_ufunc_follows_the_float_path_elementwise():
    for name in BINARY + UNARY:
        ufunc = getattr(np, name)
        float_op = OPERATORS.get(name, ufunc)
        for ua, ub in PAIRS:
            if ufunc.nin == 1 and ua is None:
                continue
            operands = (quantity(A, ua), quantity(B, ub))[: ufunc.nin]
            got, error = outcome(ufunc, *operands)
            if error is None and ufunc.nin == 2:
                assert isinstance(got, Tolvat) != (name in COMPARISONS), name
            check_elementwise(name, got, error, operands, float_op)


def test_rules_by_known_values():
    m2 = Tolvat.wrap(np.array([4.0, 9.0]), "m2")
    assert str(np.sqrt(m2)) == "[2 3] [m]"
    assert str(np.square(Tolvat.wrap(np.array([3.0]), "s"))) == "[9] [s2]"
    assert str(np.reciprocal(Tolvat.wrap(np.array([4.0]), "s"))) == "[0.25] [1/s]"
    deg = Tolvat.wrap(np.array([90.0, 180.0]), "degree")
    assert np.sin(deg).tolist() == [1.0, np.sin(np.pi)]
    assert str(np.arctan2(Tolvat.wrap(np.array([1.0]), "m"), Tolvat.wrap(np.array([0.001]), "km"))) == (
        f"[{math.atan2(1, 1)!r}] [rad]")
    warm = Tolvat.wrap(np.array([20.0, 30.0]), "°C")
    assert np.maximum(warm, U("K") * 300).as_number().tolist() == [26.850000000000023, 30.0]  # 300 K in °C, offsets used
    assert str(np.add(warm, U("K") * 5)) == "[25 35] [°C]"  # a difference: no offsets
    assert str(np.power(m2, 0.5)) == "[2 3] [m]"
    assert str(np.power(m2, U("degree") * 90)) == str(m2 ** (U("degree") * 90))  # the exponent in radians
    assert np.power(2.0, Tolvat.wrap(np.array([3.0]), Tolvat.empty())).as_number().tolist() == [8.0]
    # The arithmetic ufuncs and the operators agree in both operand orders.
    arr = np.arange(3.0)
    for q in (U("km/hr"), Tolvat.wrap(arr + 1, "m")):
        assert state(np.multiply(arr, q)) == state(arr * q) == state(q * arr)
        assert state(np.subtract(arr, Tolvat.empty() * 2)) == state(arr - Tolvat.empty() * 2)


def test_float_valued_quantities_through_numpy():
    q = U("m") * 3
    assert state(np.multiply(2.0, q)) == state(2.0 * q)
    assert state(np.float64(2) * q) == state(2.0 * q)
    assert state(np.sqrt(U("m2") * 16)) == state(U("m") * 4)
    assert np.less(q, U("km")) is True or np.less(q, U("km")) == True  # noqa: E712
    log = LogTolvat.unit("dB") * 20
    for scalar in (np.float64(2), np.int64(2), np.float32(2)):
        assert state(scalar * log) == state(2.0 * log) and state(log * scalar) == state(log * 2.0)
        assert (scalar < log) is True and state(scalar + log) == state(2.0 + log)
    # An array of float-valued quantities is an object array, as before.
    assert np.array([q, q]).dtype == object


def test_reductions_and_outer():
    q = Tolvat.wrap(np.array([[1.0, 5.0], [3.0, 2.0]]), "km")
    assert str(np.add.reduce(q, axis=0)) == "[4 7] [km]"
    assert str(np.maximum.reduce(q, axis=1)) == "[5 3] [km]"
    assert str(np.add.accumulate(q, axis=1)) == str(Tolvat.wrap(np.array([[1.0, 6.0], [3.0, 5.0]]), "km"))
    assert state(np.add.reduce(q, axis=None)) == state(U("km") * 11)
    assert str(np.add.reduceat(Tolvat.wrap(np.arange(4.0), "s"), [0, 2])) == "[1 5] [s]"
    assert str(np.multiply.outer(Tolvat.wrap(np.array([1.0, 2.0]), "m"), Tolvat.wrap(np.array([3.0]), "s"))) == (
        "[[3]\n [6]] [m.s]")
    for bad in (lambda: np.multiply.reduce(q), lambda: np.add.at(q, [0], 1.0), lambda: np.subtract.reduce(q)):
        with pytest.raises(TypeError, match="tolvat does not support numpy.(multiply.reduce|add.at|subtract.reduce)"):
            bad()


def test_out_writes_into_the_out_quantity_in_its_units():
    a, b = Tolvat.wrap(np.array([1.0, 2.0]), "m"), Tolvat.wrap(np.array([1.0, 1.0]), "km")
    out = Tolvat.wrap(np.zeros(2), "m")
    assert np.add(a, b, out=out) is out and out.as_number().tolist() == [1001.0, 1002.0]
    out_km = Tolvat.wrap(np.zeros(2), "km")
    assert np.add(a, b, out=out_km) is out_km and out_km.as_number().tolist() == [1.001, 1.002]
    kept = Tolvat.wrap(np.array([7.0, 7.0]), "km")
    assert np.add(a, b, out=kept, where=np.array([False, True])).as_number().tolist() == [7.0, 1.002]
    flags = np.zeros(2, dtype=bool)
    assert np.less(a, b, out=flags) is flags and flags.tolist() == [True, True]
    wrong = [
        (lambda: np.add(a, b, out=np.zeros(2)), "must be a Tolvat over an array"),
        (lambda: np.less(a, b, out=Tolvat.wrap(np.zeros(2), "m")), "must be a plain array"),
        (lambda: np.add(a, b, out=Tolvat.wrap(np.zeros(2), "s")), "not compatible"),
        (lambda: np.sqrt(a, out=U("m") * 1), "must be a Tolvat over an array"),
    ]
    for call, message in wrong:
        before = (a.as_number().copy(), b.as_number().copy())
        with pytest.raises(TypeError, match=message):
            call()
        assert a.as_number().tolist() == before[0].tolist() and b.as_number().tolist() == before[1].tolist()


def test_what_is_not_supported_raises_and_names_it():
    q = Tolvat.wrap(np.arange(3.0), "m")
    cases = [
        (lambda: np.sinh(q), TypeError, "tolvat does not support numpy.sinh on quantities; use q\\.as_number\\(unit\\)"),
        (lambda: np.bitwise_and(q, q), TypeError, "tolvat does not support numpy.bitwise_and on quantities"),
        (lambda: np.fft.fft(q), TypeError, "tolvat does not support numpy.fft.fft on quantities"),
        (lambda: np.prod(q), TypeError, "tolvat does not support numpy.prod on quantities"),
        (lambda: np.add(q, q, foo=1), TypeError, "foo"),
        (lambda: np.add(q, q, signature=None), TypeError, "takes no keyword 'signature'"),
        (lambda: np.power(q, np.array([1.0, 2.0, 3.0])), TypeError, "element"),
        (lambda: np.power(q, np.array([1.0, 2.0, 3.0]), where=True), TypeError, "differ per element"),
        (lambda: np.power(q, U("m")), TypeError, "not compatible"),
        (lambda: np.add(q, LogTolvat.unit("dB")), TypeError, "LogTolvat"),
        (lambda: np.arange(3.0) * LogTolvat.unit("dB"), TypeError, "LogTolvat does not mix with arrays"),
        (lambda: LogTolvat.unit("dB") * np.arange(3.0), TypeError, "LogTolvat does not mix with arrays"),
        (lambda: np.sqrt(LogTolvat.unit("dB")), TypeError, "numpy.sqrt on a LogTolvat"),
        (lambda: np.exp(q), TypeError, r"\[m\] and \[\] are not compatible"),
        (lambda: np.add(q, np.ones(4)), TypeError, "not compatible|broadcast"),
        (lambda: np.add(q, U("m") * np.ones(4)), ValueError, "broadcast"),
    ]
    for call, kind, message in cases:
        with pytest.raises(kind, match=message):
            call()
    assert q.as_number().tolist() == [0.0, 1.0, 2.0]


def test_array_functions_against_numpy_on_the_values():
    v = np.array([[3.0, -1.0, 2.5], [0.5, 8.0, -4.0]])
    q = Tolvat.wrap(v, "km")
    keep = ["sum", "mean", "std", "median", "ptp", "min", "max", "cumsum", "diff", "sort", "amin", "amax"]
    for name in keep:
        f = getattr(np, name)
        for kwargs in ({}, {"axis": 0}, {"axis": 1}):
            got, want = f(q, **kwargs), f(v, **kwargs)
            assert isinstance(got, Tolvat), name
            assert np.asarray(got.as_number()).tobytes() == np.asarray(want).tobytes(), (name, kwargs)
            assert str(got).endswith("[km]")
    for name in ["argmin", "argmax", "argsort"]:
        assert np.array_equal(getattr(np, name)(q), getattr(np, name)(v))
    assert np.var(q).as_number() == np.var(v) and str(np.var(q)).endswith("[km2]")
    m = Tolvat.wrap(np.array([1.0, 2.0]), "m")
    assert str(np.concatenate([m, U("km") * np.array([1.0])])) == "[1 2 1000] [m]"
    assert str(np.stack([m, m])) == "[[1 2]\n [1 2]] [m]"
    assert str(np.where(np.array([True, False]), m, U("km") * 1)) == "[1 1000] [m]"
    assert str(np.clip(m, U("cm") * 150, None)) == "[1.5 2] [m]"
    assert str(np.clip(m, min=U("cm") * 150, max=U("km") * 0.0015)) == "[1.5 1.5] [m]"
    assert np.isclose(m, U("mm") * np.array([1000.0, 2001.0])).tolist() == [True, False]
    assert np.allclose(m, U("cm") * np.array([100.0, 200.0]))
    assert np.array_equal(m, U("cm") * np.array([100.0, 200.0]))
    assert str(np.linspace(U("m") * 0, U("km") * 0.004, 5)) == "[0 1 2 3 4] [m]"
    assert str(np.round(Tolvat.wrap(np.array([2.5, -2.5, 1.25]), "m"), 1)) == "[2.5 -2.5 1.3] [m]"
    assert str(np.round(Tolvat.wrap(np.array([2.5, -2.5]), "m"))) == "[3 -3] [m]"  # half away from zero
    assert str(np.dot(m, Tolvat.wrap(np.array([3.0, 4.0]), "s"))) == "11 [m.s]"
    assert str(np.matmul(Tolvat.wrap(np.eye(2), "km"), Tolvat.wrap(np.ones((2, 1)), "m"))) == "[[1]\n [1]] [km.m]"
    assert str(np.zeros_like(m)) == "[0 0] [m]" and str(np.ones_like(m)) == "[1 1] [m]"
    assert str(np.full_like(m, U("km") * 2)) == "[2000 2000] [m]"
    assert np.empty_like(m).shape == (2,)
    with pytest.raises(TypeError, match="not compatible"):
        np.concatenate([m, U("s") * np.array([1.0])])
    with pytest.raises(TypeError, match="not compatible"):
        np.full_like(m, 3)


def test_asarray_keeps_the_numbers_and_says_which_units_it_drops():
    q = Tolvat.wrap(np.array([1.0, 2.0]), "km")
    with pytest.warns(UserWarning, match=r"drops the units \[km\]"):
        assert np.asarray(q).tolist() == [1.0, 2.0]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert np.asarray(Tolvat.wrap(np.array([1.0]), Tolvat.empty())).tolist() == [1.0]
    with pytest.raises(TypeError):
        float(q)
    one = U("m") * 2
    assert np.asarray(one).dtype == object and np.asarray(one)[()] is one


def test_import_without_numpy():
    code = (
        "import sys; sys.modules['numpy'] = None\n"
        "import tolvat\n"
        "q = tolvat.Tolvat.unit('m') * 2\n"
        "assert str(q + q) == '4 [m]'\n"
        "assert 'numpy' not in sys.modules or sys.modules['numpy'] is None\n"
        "try:\n"
        "    q.__array_ufunc__(None, '__call__', q)\n"
        "except (ImportError, TypeError):\n"
        "    pass\n"
        "print('ok')\n"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=False)
    assert run.stdout.strip() == "ok", run.stderr


def test_threads_meet_the_protocols_first_at_once():
    # A fresh interpreter, so that the per-interpreter caches of ufuncs, array functions and the
    # Python layer are filled by threads racing each other.
    code = """
import threading, numpy as np
from tolvat import Tolvat
q = Tolvat.wrap(np.arange(1.0, 101.0), "m2")
want = [str(np.sqrt(Tolvat.wrap(np.arange(1.0, 101.0), "m2"))), "5050 [m2]", "[1 100] [m2]"]
barrier, results = threading.Barrier(8), []
def work():
    barrier.wait()
    for _ in range(200):
        got = [str(np.sqrt(q)), str(np.sum(q)), str(np.concatenate([q[:1], q[-1:]]))]
        results.append(got == want)
threads = [threading.Thread(target=work) for _ in range(8)]
for t in threads: t.start()
for t in threads: t.join()
print(len(results), all(results))
"""
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=False)
    assert run.stdout.split() == ["1600", "True"], run.stderr


def test_layouts_give_what_a_contiguous_copy_gives():
    base = np.array([[4.0, -1.0, np.nan], [np.inf, -np.inf, 0.25], [9.0, 16.0, 1e-300]])
    read_only = base.copy()
    read_only.flags.writeable = False
    layouts = {
        "empty": np.zeros((0, 3)), "0-d": np.array(2.25), "strided": base[::2, ::2], "transposed": base.T,
        "read-only": read_only, "fortran": np.asfortranarray(base),
    }
    calls = [
        lambda q: np.sqrt(q), lambda q: np.add(q, U("km") * 2), lambda q: np.less(q, U("km")),
        lambda q: np.sum(q), lambda q: np.maximum(q, q), lambda q: np.add.reduce(q, axis=None),
        lambda q: np.isnan(q), lambda q: np.floor(Tolvat.wrap(q.as_number(), "m.km")),
    ]
    for name, values in layouts.items():
        q, contiguous = Tolvat.wrap(values, "m"), Tolvat.wrap(values.copy(order="C"), "m")
        for i, call in enumerate(calls):
            got, want = outcome(call, q), outcome(call, contiguous)
            assert got[1] == want[1], (name, i)
            if isinstance(got[0], Tolvat):
                assert units_and_values(got[0]) == units_and_values(want[0]), (name, i)
            elif got[0] is not None:
                assert np.asarray(got[0]).tobytes() == np.asarray(want[0]).tobytes(), (name, i)
        assert values.flags.writeable == (name != "read-only")
