"""LogTolvat operations: sums and differences in the logarithmic domain, scaling by numbers, every
other mix on the ratio, powers, unary operators, the division methods, comparison by ratios, the
text form, rounding of the ratio, and how a LogTolvat meets a Tolvat."""

import decimal
import fractions
import math
import sys

import pytest

from tolvat import LogTolvat, Tolvat
from test_log_tolvat import ONE_IN
from thread_support import run_against_writer

L = LogTolvat.unit
U = Tolvat.unit
NOTE = ["while processing 'other'"]


def db(v):
    return L("dB") * v


def bel_with_ratio(ratio):
    """A bel quantity whose ratio is exactly `ratio` (checked, so a differing pow shows here)."""
    x = L("B") * math.log10(ratio)
    assert float(x) == ratio
    return x


def same(x, value, symbol):
    """x is a LogTolvat of exactly `value` in the unit printed as `symbol`."""
    assert type(x) is LogTolvat
    got = x.as_number()
    if math.isnan(value):
        assert math.isnan(got)
    else:
        assert got == value and math.copysign(1.0, got) == math.copysign(1.0, value)
    assert str(x).endswith(f" [{symbol}]")


def exactly(result, value):
    assert type(result) is float and result == value


# ---- two logarithmic quantities: sums and differences stay logarithmic, in the left unit --------


def test_documented_sums_and_differences():
    same(db(10) + db(10), 20.0, "dB")
    same(db(10) + L("B"), 20.0, "dB")
    same(L("B") + db(10), 2.0, "B")
    assert str(L("B") + db(10)) == "2 [B]"
    # 10 dB carried into bel is not exactly 1, 20 dB carried into decibel not exactly 20.
    same(L("B") - db(10), -2.220446049250313e-16, "B")
    same(db(20) - db(20), -3.552713678800501e-15, "dB")


def test_the_right_operand_is_carried_into_the_left_unit():
    for left, row in ONE_IN.items():
        x = L(left) * 3
        for right, one in row.items():
            y = L(right) * 2
            # 2 units of the right operand's are 2 / one of the left's.
            assert (x + y).as_number() == pytest.approx(3.0 + 2.0 / one, rel=1e-14, abs=0)
            assert (x - y).as_number() == pytest.approx(3.0 - 2.0 / one, rel=1e-14, abs=1e-14)
            assert str(x + y).endswith(f" [{left}]") and str(x - y).endswith(f" [{left}]")


def test_products_quotients_and_powers_of_two_log_quantities_are_ratio_floats():
    exactly(db(20) * db(20), 10000.000000000024)
    exactly(db(20) / db(20), 1.0)
    exactly(db(20) / L("B"), float(db(20)) / 10.0)
    exactly(L("B") ** L("B"), 1e10)  # the exponent's ratio
    exactly(L("Np") * L("B"), 10.0 * math.e)


# ---- with plain numbers ---------------------------------------------------------------------------


def test_sums_and_differences_with_numbers_work_on_the_ratio():
    exactly(db(10) + 1, 11.000000000000005)
    exactly(1 + db(10), 11.000000000000005)
    exactly(db(20) - 100, 1.1368683772161603e-13)
    exactly(100 - db(20), -1.1368683772161603e-13)
    exactly(db(20) - 0.5, float(db(20)) - 0.5)


def test_scaling_by_numbers_keeps_a_log_quantity():
    same(db(10) * 2, 20.0, "dB")
    same(2 * db(10), 20.0, "dB")
    same(db(20) / 2, 10.0, "dB")
    same(L("stn") * 12, 12.0, "stn")
    same(L("Np") * True, 1.0, "Np")
    same(L("B") * -0.0, -0.0, "B")


def test_division_of_a_number_by_a_log_quantity_uses_the_ratio():
    exactly(2 / db(20), 0.019999999999999976)
    exactly(db(20).__rdiv__(2), 0.019999999999999976)
    exactly(db(20).__rdiv__(other=L("B")), 10.0 / float(db(20)))


def test_ints_of_any_size_are_numbers():
    x = L("B")
    same(x * 2**40, 2.0**40, "B")
    same(x / 10**30, 1.0 / 1e30, "B")
    exactly(x + 2**60, 10.0 + 2.0**60)
    exactly(2**70 / x, 2.0**70 / 10.0)
    assert x < 2**64 and x > -(10**300)


def test_division_by_zero_and_overflow_give_ieee_values():
    same(db(20) / 0, math.inf, "dB")
    same(-db(20) / 0, -math.inf, "dB")
    same(L("B") * 0 / 0, math.nan, "B")
    exactly(1 / (L("B") * -400), math.inf)  # ratio underflows to 0
    exactly(L("B") * 400 - 1e308, math.inf)
    assert math.isnan((L("B") * 400) * (L("B") * -400))


# ---- powers ------------------------------------------------------------------------------------


def test_powers_work_on_ratios():
    exactly(db(20) ** 2, 10000.000000000022)
    exactly(2 ** L("B"), 1024.0)
    assert db(20) ** 0.5 == pytest.approx(10.0, rel=1e-15, abs=0)
    exactly(L("B") ** 2**70, math.inf)


@pytest.mark.parametrize("modulus", [7, 7.5, 2**80, True, None, L("dB")])
def test_the_modulus_is_checked_then_ignored(modulus):
    exactly(pow(db(20), 2, modulus), 10000.000000000022)
    exactly(pow(2, L("B"), modulus), 1024.0)
    exactly(pow(L("B"), L("B"), modulus), 1e10)


@pytest.mark.parametrize("modulus", ["7", Tolvat.empty(), [7], 2**1024, 7j])
def test_a_modulus_that_is_no_number_makes_pow_unsupported(modulus):
    for call in (lambda: pow(db(20), 2, modulus), lambda: pow(2, L("B"), modulus)):
        with pytest.raises(TypeError) as info:
            call()
        assert "unsupported operand" in str(info.value)


# ---- unary operators ------------------------------------------------------------------------------


def test_unary_minus_plus_and_abs():
    minus = -db(20)
    assert str(minus) == "-20 [dB]"
    exactly(float(minus), 0.009999999999999988)
    exactly(abs(minus), 0.009999999999999988)
    exactly(abs(db(20)), 100.00000000000011)
    same(-(L("B") * 0), -0.0, "B")  # the sign bit flips
    same(-(-(L("B") * 0)), 0.0, "B")
    assert str(-(L("Np") * 0)) == "-0 [Np]"
    x = db(3)
    plus = +x
    assert plus is not x
    same(plus, 3.0, "dB")
    assert math.isnan(abs(L("B") * math.nan))


# ---- operands that are no numbers --------------------------------------------------------------


class StrRaises:
    def __str__(self):
        raise ValueError("not printable")


NO_NUMBERS = [None, "dB", "2", [1], 1j, decimal.Decimal(2), fractions.Fraction(1, 2), 2**1024, object(), StrRaises()]


@pytest.mark.parametrize("other", NO_NUMBERS + [Tolvat.empty()])
def test_the_slots_give_up_on_operands_that_are_no_numbers(other, monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    x = db(10)
    for name in ("__add__", "__radd__", "__sub__", "__rsub__", "__mul__", "__rmul__", "__truediv__",
                 "__rtruediv__", "__pow__", "__rpow__", "__lt__", "__eq__", "__ge__"):
        assert getattr(x, name)(other) is NotImplemented, name
    if other is not None:
        assert x.__pow__(2, other) is NotImplemented
    assert reports == []  # giving up never describes the object
    assert x.as_number() == 10.0


@pytest.mark.parametrize("other", NO_NUMBERS)
def test_python_then_raises_its_own_errors(other):
    x = db(10)
    calls = [lambda: x + other, lambda: other - x, lambda: x * other, lambda: other / x, lambda: x < other,
             lambda: other >= x]
    if not isinstance(other, fractions.Fraction):  # Fraction.__rpow__ falls back to x ** float(other)
        calls.append(lambda: x**other)
    for call in calls:
        with pytest.raises(TypeError):
            call()
    assert (x == other) is False and (x != other) is True
    assert (other == x) is False


def test_a_text_is_never_repeated_by_a_log_quantity():
    with pytest.raises(TypeError):
        L("B") * "ab"
    with pytest.raises(TypeError):
        "ab" * L("B")


@pytest.mark.parametrize("method", ["__div__", "__rdiv__"])
def test_the_division_methods_raise_with_the_argument_note(method, monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    x = db(20)
    cases = [("dB", TypeError, "dB cannot be coerced into a number"),
             (None, TypeError, "None cannot be coerced into a number"),
             (StrRaises(), TypeError, "<unprintable StrRaises object> cannot be coerced into a number"),
             (2**1024, OverflowError, None)]
    for other, error, message in cases:
        with pytest.raises(error) as info:
            getattr(x, method)(other)
        assert info.value.__notes__ == NOTE
        if message is not None:
            assert info.value.args == (message,)
    assert len(reports) == 1  # the str() that failed
    for bad_call in (lambda: getattr(x, method)(), lambda: getattr(x, method)(1, 2),
                     lambda: getattr(x, method)(value=2)):
        with pytest.raises(TypeError):
            bad_call()


def test_div_is_the_division_operator():
    same(db(20).__div__(2), 10.0, "dB")
    same(db(20).__div__(other=4), 5.0, "dB")
    exactly(db(20).__div__(db(20)), 1.0)
    exactly(db(20).__rdiv__(2), 2 / db(20))


def test_method_signatures():
    signatures = {"__div__": "($self, other)", "__rdiv__": "($self, other)", "__round__": "($self, ndigits=None)",
                  "round_sfig": "($self, n_sig_figs)"}
    for name, signature in signatures.items():
        assert LogTolvat.__dict__[name].__text_signature__ == signature
        assert LogTolvat.__dict__[name].__doc__ is None


# ---- comparison by ratios ---------------------------------------------------------------------------


def test_documented_comparisons():
    assert (db(20) == 100) is False  # the ratio is 100.00000000000011
    assert db(20) < 100.5
    assert (L("B") == 10) is True
    assert (db(10) == L("B")) is False  # 10.000000000000005 against 10
    assert db(10) > L("B") and L("B") < db(10)
    assert db(3) > 1.99
    assert (db(20) == "dB") is False and (db(20) != "dB") is True
    assert (L("B") * 0 == L("Np") * 0) is True  # different units, both ratio 1


@pytest.mark.parametrize(
    "left, right, expected",
    [(L("B"), 10, [False, True, True, False, False, True]),
     (L("B"), 10.5, [True, True, False, True, False, False]),
     (L("B"), L("B") * 1.5, [True, True, False, True, False, False]),
     (L("B") * math.nan, 1.0, [False, False, False, True, False, False]),
     (L("B"), L("B") * math.nan, [False, False, False, True, False, False])],
)
def test_all_six_comparisons(left, right, expected):
    got = [left < right, left <= right, left == right, left != right, left > right, left >= right]
    assert got == expected
    # Reflected through the number's own comparison.
    if not isinstance(right, LogTolvat):
        assert [right > left, right >= left, right == left, right != left, right < left, right <= left] == expected


# ---- text form ----------------------------------------------------------------------------------


def test_text_form_is_the_stored_value_and_symbol():
    for x, text in [(L("dB"), "1 [dB]"), (db(20), "20 [dB]"), (L("decibel") * 2.5, "2.5 [dB]"),
                    (L("neper") * -0.125, "-0.125 [Np]"), (L("B") * 1e20, "100000000000000000000 [B]"),
                    (L("stn") * math.inf, "inf [stn]"), (L("stn") * -math.inf, "-inf [stn]"),
                    (L("B") * math.nan, "NaN [B]"), (L("B").as_unit(L("dB")), "9.999999999999998 [dB]")]:
        assert str(x) == repr(x) == text
    assert f"{db(20)}" == "20 [dB]" and [db(20)].__repr__() == "[20 [dB]]"


# ---- rounding ---------------------------------------------------------------------------------------


def test_round_gives_the_rounded_ratio_as_a_float():
    exactly(round(L("dB")), 1.0)
    exactly(round(L("dB"), 2), 1.26)
    exactly(round(db(20)), 100.0)
    exactly(round(db(20), None), 100.0)
    exactly(db(20).__round__(ndigits=-1), 100.0)
    exactly(round(L("Np"), 3), 2.718)
    exactly(round(L("B") * 3.5, -3), 3000.0)


def test_rounding_is_half_away_from_zero():
    exactly(round(bel_with_ratio(2.5)), 3.0)
    exactly(round(bel_with_ratio(0.5)), 1.0)
    exactly(round(bel_with_ratio(1.25), 1), 1.3)
    exactly(round(bel_with_ratio(0.125), 2), 0.13)
    exactly(bel_with_ratio(1.25).round_sfig(2), 1.3)
    exactly(bel_with_ratio(0.0125).round_sfig(2), 0.013)


def test_round_sfig_of_the_ratio():
    exactly(L("Np").round_sfig(3), 2.72)
    exactly(db(3).round_sfig(3), 2.0)
    exactly(db(33).round_sfig(2), 2000.0)
    exactly(L("B").round_sfig(n_sig_figs=1), 10.0)
    exactly((L("B") * -2).round_sfig(1), 0.01)


def test_rounding_at_the_edges_of_the_range():
    x = db(20)
    exactly(round(x, 400), float(x))  # no NaN from an infinite scale
    exactly(round(x, -400), 0.0)
    exactly(x.round_sfig(400), float(x))
    for edge in (L("B") * -400, L("B") * 400, L("B") * math.nan):  # ratios 0, inf, NaN
        r = float(edge)
        for got in (round(edge), round(edge, 2), edge.round_sfig(3)):
            assert got == r or (math.isnan(got) and math.isnan(r))
    with pytest.raises(OverflowError):
        round(L("B") * 308.2, -308)  # 1.58e308 rounds to 2e308, like round(float, -308)


@pytest.mark.parametrize(
    "argument, error", [("2", TypeError), (2.0, TypeError), (2**31, OverflowError), (-(2**31) - 1, OverflowError)]
)
def test_rounding_counts_are_32_bit_ints_with_the_argument_note(argument, error):
    x = db(20)
    for call, name in ((lambda: round(x, argument), "ndigits"), (lambda: x.round_sfig(argument), "n_sig_figs")):
        with pytest.raises(error) as info:
            call()
        assert info.value.__notes__ == [f"while processing '{name}'"]
        if error is OverflowError:
            assert info.value.args == ("out of range integral type conversion attempted",)
    exactly(round(x, 2**31 - 1), float(x))
    exactly(round(x, True), 100.0)
    with pytest.raises(TypeError):
        x.round_sfig()


# ---- access -------------------------------------------------------------------------------------


def test_operators_meet_an_object_held_by_round_sfig_only_as_documented():
    """While one thread keeps x under exclusive access, the operator slots give up (so Python
    raises its TypeError), comparison and the unary operators raise "Already mutably borrowed",
    and every result that is computed is right."""
    x = db(20)
    calls = {"sum": (lambda: (x + x).as_number(), 40.0), "scaled": (lambda: (2 * x).as_number(), 40.0),
             "ratio": (lambda: x / x, 1.0), "less": (lambda: x < 101, True), "neg": (lambda: (-x).as_number(), -20.0)}

    def write():
        assert x.round_sfig(2) == 100.0

    def use():
        for _ in range(2000):
            for name, (call, value) in calls.items():
                try:
                    assert call() == value, name
                except TypeError as exc:
                    assert name not in ("less", "neg") and "unsupported operand" in str(exc), name
                except RuntimeError as exc:
                    assert name in ("less", "neg") and exc.args == ("Already mutably borrowed",), name

    assert run_against_writer(write, use) == []
    exactly(x.round_sfig(2), 100.0)  # nobody holds x any more


# ---- meeting a Tolvat: the LogTolvat gives up, the Tolvat takes it as its ratio -----------------


def test_a_tolvat_is_left_to_its_own_slots():
    q = U("m")
    for name in ("__add__", "__mul__", "__rtruediv__", "__pow__", "__lt__", "__eq__"):
        assert getattr(db(20), name)(q) is NotImplemented


def test_comparison_with_a_tolvat_uses_its_reflected_comparison():
    one = Tolvat.empty()
    assert (L("B") * 0 == one) is True and (one == L("B") * 0) is True
    assert L("B") > one and one < L("B") and (db(20) != one) is True
    with pytest.raises(TypeError) as info:
        db(20) < U("m")  # reflected: the log quantity's (dimensionless) units come first
    assert info.value.args == ("[] and [m] are not compatible",)
    with pytest.raises(TypeError) as info:
        U("m") == db(20)
    assert info.value.args == ("[] and [m] are not compatible",)


def test_arithmetic_with_a_tolvat_takes_the_ratio_both_ways():
    r = float(db(20))
    one = Tolvat.empty()
    for result, value in [(db(20) + one, r + 1.0), (one + db(20), 1.0 + r), (db(20) - one, r - 1.0),
                          (one - db(20), 1.0 - r), (one * db(20), r), (db(20) / one, r), (one / db(20), 1 / r),
                          (2 * one ** L("B"), 2.0), (db(20) * U("m"), r), (U("m") / db(20), 1 / r)]:
        assert type(result) is Tolvat
        assert result.as_number() == value
    assert (U("m") * db(20)).as_number("m") == r and (db(20) * U("m")).as_number("m") == r
    with pytest.raises(TypeError) as info:
        db(20) + U("m")  # the Tolvat on the right is self: its units come first
    assert info.value.args == ("[m] and [] are not compatible",)
    with pytest.raises(TypeError) as info:
        U("m") - db(20)
    assert info.value.args == ("[m] and [] are not compatible",)
