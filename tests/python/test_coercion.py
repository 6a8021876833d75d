"""Operand coercion: how floats, ints, unit texts, quantities and logarithmic quantities enter the
operations of Tolvat (as quantities) and of LogTolvat (as numbers), and how everything else fails.

Methods raise a failed coercion with the note naming the argument; operators return NotImplemented,
so Python raises its own TypeError."""

import math
import sys

import pytest

from tolvat import LogTolvat, Tolvat
from thread_support import run_against_writer

L = LogTolvat.unit
U = Tolvat.unit
NOTE = ["while processing 'other'"]


def value_of(operand):
    """The value of the quantity an operand becomes (multiplied into a dimensionless one)."""
    return (Tolvat.empty() * operand).as_number()


def method_failure(operand, expected):
    """Runs both methods that take `other` as a quantity; returns the exception they raise."""
    raised = []
    for method in ("__div__", "as_unit"):
        with pytest.raises(expected) as info:
            getattr(Tolvat.empty(), method)(operand)
        # The argument note first; a text naming no unit may add advice after it.
        assert info.value.__notes__[:1] == NOTE
        assert len(info.value.__notes__) == 1 or expected is LookupError
        raised.append(info.value)
    assert raised[0].args == raised[1].args
    return raised[0]


def operator_refuses(operand):
    """The operator gives up on the operand both ways round, and Python raises its TypeError."""
    q = U("m")
    for op in (lambda: q * operand, lambda: operand * q, lambda: q / operand):
        with pytest.raises(TypeError) as info:
            op()
        assert "unsupported operand" in str(info.value) or "can't multiply" in str(info.value)


class IntWithOwnConversions(int):
    def __float__(self):
        return 99.0

    def __index__(self):
        return 98


class FloatWithOwnConversions(float):
    def __float__(self):
        return 99.0


class TextWithOwnStr(str):
    def __str__(self):
        return "s"


# ---- numbers ------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "operand, value",
    [
        (2.5, 2.5),
        (-0.0, -0.0),
        (True, 1.0),
        (False, 0.0),
        (7, 7.0),
        (2147483647, 2147483647.0),
        (2147483648, 2147483648.0),
        (-2147483649, -2147483649.0),
        (2**63, 9.223372036854775808e18),
        (10**30, 1e30),
        (2**53 + 1, 9007199254740992.0),  # the nearest double, ties to even
        (-(10**300), -1e300),
        (IntWithOwnConversions(5), 5.0),  # the stored value, not __float__ or __index__
        (FloatWithOwnConversions(5.5), 5.5),
        (math.inf, math.inf),
    ],
)
def test_numbers_enter_as_dimensionless_values(operand, value):
    got = value_of(operand)
    assert got == value and math.copysign(1.0, got) == math.copysign(1.0, value)
    assert (Tolvat.empty() * operand).as_unitless() == value
    with pytest.raises(TypeError):
        (Tolvat.empty() * operand).as_number("m")


def test_nan_enters_as_nan():
    assert math.isnan(value_of(math.nan))


def test_ints_beyond_32_bits_work_like_their_float():
    q = U("km") * 3
    for n in (2147483648, -2147483649, 10**20):
        assert (q * n).as_number() == (q * float(n)).as_number()
        assert q.__div__(n).as_number() == q.__div__(float(n)).as_number()


def test_ints_too_large_for_a_float():
    with pytest.raises(OverflowError) as reference:
        float(2**1024)
    error = method_failure(2**1024, OverflowError)
    assert error.args == reference.value.args
    method_failure(-(2**1024), OverflowError)
    operator_refuses(2**1024)


# ---- unit texts ---------------------------------------------------------------------------------


def test_unit_texts_enter_as_one_of_their_unit():
    assert (Tolvat.empty() * "km").as_number("m") == 1000.0
    assert (Tolvat.empty() * "km").as_number() == 1.0
    assert (U("m") * 3).as_number("km") == 0.003
    assert (U("m") * 3).as_unit("km").as_number() == 0.003
    # A str subclass enters by its own text, whatever its __str__ says.
    assert (Tolvat.empty() * TextWithOwnStr("km")).as_number("m") == 1000.0
    assert U("m").as_number(TextWithOwnStr("km")) == 0.001


# ---- quantities and logarithmic quantities --------------------------------------------------------


def test_quantities_are_copied():
    q = U("km") * 2
    assert U("m").as_number(q) == 0.001
    assert (q * q).as_number("m2") == 4e6
    assert q.__div__(q).as_number() == 1.0
    assert q.as_number() == 2.0


def test_log_quantities_enter_as_their_ratio():
    assert value_of(L("B")) == 10.0
    assert value_of(L("dB")) == 1.2589254117941673
    assert value_of(L("B").as_unit(L("Np"))) == pytest.approx(10.0, rel=1e-15, abs=0)  # the same ratio
    assert (Tolvat.empty() * L("B")).as_unitless() == 10.0
    assert Tolvat.empty().as_unit(L("dB")).as_number() == 1.0  # dimensionless target
    with pytest.raises(TypeError):
        U("m").as_unit(L("dB"))
    assert value_of(L("B") * 3) == 1000.0


# ---- objects of no operand kind ------------------------------------------------------------------


@pytest.fixture
def unraisable(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    return seen


class StrRaises:
    def __str__(self):
        raise ValueError("no text for you")


class StrReturnsNoText:
    def __str__(self):
        return 5


class StrWithSurrogate:
    def __str__(self):
        return "a\udc80b"


def _reported(hook_args, obj, exc_type):
    assert hook_args.exc_type is exc_type
    named = hook_args.object is obj or type(obj).__name__ in (hook_args.err_msg or "")
    assert named


@pytest.mark.parametrize("cls, exc_type", [(StrRaises, ValueError), (StrReturnsNoText, TypeError)])
def test_objects_whose_str_fails_are_reported_and_named_by_type(unraisable, cls, exc_type):
    obj = cls()
    error = method_failure(obj, TypeError)
    assert error.args == (f"<unprintable {cls.__name__} object> cannot be coerced into a unit",)
    assert len(unraisable) == 2  # once per method
    for hook_args in unraisable:
        _reported(hook_args, obj, exc_type)


def test_str_with_lone_surrogates_still_gives_a_message(unraisable):
    error = method_failure(StrWithSurrogate(), TypeError)
    message = error.args[0]
    message.encode("utf-8")  # a clean text, whatever the object printed
    assert message.startswith("a") and message.endswith("b cannot be coerced into a unit")
    assert unraisable == []


# ---- number operands (LogTolvat) ------------------------------------------------------------------


def number_failure(operand, expected):
    with pytest.raises(expected) as info:
        L("dB").__div__(operand)
    assert info.value.__notes__ == NOTE
    return info.value


def test_numbers_for_log_quantities():
    x = L("B")
    assert x.__div__(2147483648).as_number() == x.__div__(2147483648.0).as_number() == 1 / 2147483648
    assert x.__div__(10**20).as_number() == 1e-20
    assert x.__div__(True).as_number() == 1.0
    assert x.__div__(IntWithOwnConversions(4)).as_number() == 0.25
    assert x.__div__(FloatWithOwnConversions(0.5)).as_number() == 2.0
    assert x.__div__(L("B")) == 1.0  # two log quantities divide their ratios


def test_number_operands_whose_str_fails(unraisable):
    obj = StrRaises()
    error = number_failure(obj, TypeError)
    assert error.args == ("<unprintable StrRaises object> cannot be coerced into a number",)
    assert len(unraisable) == 1
    _reported(unraisable[0], obj, ValueError)


def test_the_power_modulus_is_a_number_operand():
    q = U("m") * 2
    expected = (q**2).as_number()
    for modulus in (7, 2**40, 7.5, True, L("dB"), None):
        assert pow(q, 2, modulus).as_number() == expected
    for modulus in ("m", U("m"), [1], 2**1024):
        with pytest.raises(TypeError):
            pow(q, 2, modulus)


# ---- access -----------------------------------------------------------------------------------------


def test_failed_coercions_leave_every_object_free(unraisable):
    q, x = U("km") * 2, L("dB")
    for bad in (None, "parsnips", 2**1024, "k\udc80m", StrRaises(), x.as_unit):
        with pytest.raises((TypeError, LookupError, OverflowError, UnicodeEncodeError)):
            q.__div__(bad)
    q.simplify_inplace()  # exclusive access: only possible when nobody holds q
    assert q.as_number("m") == 2000.0
    assert value_of(q) == 2.0 and value_of(x) == float(x)


def test_sources_held_exclusively_are_refused_without_waiting():
    """One thread keeps printing a quantity (exclusive access) while others use it as an operand:
    a use either succeeds or meets "Already mutably borrowed"; the operator then gives up."""
    q = U("km") * 2
    str(q)

    def use():
        other = U("m")
        for _ in range(3000):
            try:
                assert other.__div__(q).as_number("m/km") == 0.5
            except RuntimeError as exc:
                assert exc.args == ("Already mutably borrowed",) and exc.__notes__ == NOTE
            try:
                assert (other * q).as_number("m.km") == 2.0
            except TypeError as exc:
                assert "unsupported operand" in str(exc)

    assert run_against_writer(lambda: str(q), use) == []
    assert q.as_number("m") == 2000.0
