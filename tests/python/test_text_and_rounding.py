"""Text forms (str, repr, latex, descriptive) and rounding (round, round_sfig) of Tolvat."""

import math
import sys
import functools

import pytest

from thread_support import run_together
from tolvat import Tolvat

U = Tolvat.unit
INF = float("inf")
NAN = float("nan")
MAX = sys.float_info.max


def same(a, b):
    """Equal, and with the same sign when zero (NaN equals NaN here)."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return a == b and math.copysign(1, a) == math.copysign(1, b)


@pytest.mark.parametrize(
    "value, text",
    [
        (1.0, "1"),
        (5.0, "5"),
        (-12.0, "-12"),
        (0.25, "0.25"),
        (1e-7, "0.0000001"),
        (1e21, "1" + "0" * 21),
        (-0.0, "-0"),
        (NAN, "NaN"),
        (INF, "inf"),
        (-INF, "-inf"),
        (5e-324, "0." + "0" * 323 + "5"),
        (2.0**70, "1180591620717411300000"),  # shortest digits, then zeros
    ],
)
def test_number_text_in_every_form(value, text):
    q = U("m") * value
    assert str(q) == text + " [m]"
    assert repr(q) == text + " [m]"
    assert q.latex() == text + r"~\mathrm{m}"
    assert q.descriptive() == text + " [meter]"


def test_dimensionless_and_compound_forms():
    assert str(Tolvat.empty() * 5) == "5 []"
    assert Tolvat.empty().latex() == r"1~\mathrm{}"
    assert Tolvat.empty().descriptive() == "1 []"
    speed = U("m/s")
    assert str(speed) == "1 [m/s]"
    assert speed.latex() == r"1~\mathrm{\frac{m}{s}}"
    assert speed.descriptive() == "1 [meter/second]"
    assert U("1/s").latex() == r"1~\mathrm{\frac{1}{s}}"


def test_repr_equals_str():
    for q in [U("m"), U("km/hr") * 3.5, Tolvat.empty(), U("m.rad"), U("ft2/m"), U("°C") * -40, U("N.m.kg/J")]:
        assert repr(q) == str(q)


def test_printing_leaves_the_object_simply_simplified():
    # {rad: 1, ft: 2, m: -1}: the cheap pass cancels one ft against the m, the full one drops rad.
    q = U("rad.ft2/m")
    expected = q.as_number("rad.ft")
    assert q.as_number() == 1.0
    text = str(q)
    assert q.as_number() == expected  # the object now holds {rad: 1, ft: 1}
    assert q.descriptive() == f"{expected!r} [foot.radian]"
    assert text == f"{expected!r} [ft]"  # only the printed copy is fully simplified
    assert q.descriptive() == f"{expected!r} [foot.radian]"


@pytest.mark.parametrize("form", [str, repr, Tolvat.latex, Tolvat.descriptive])
def test_every_text_form_simplifies_in_place(form):
    q = U("m/km")
    assert q.as_number() == 1.0
    form(q)
    assert q.as_number() == 0.001
    assert q.descriptive() == "0.001 []"


def test_latex_and_descriptive_do_not_fully_simplify():
    q = U("m.rad")
    assert str(q) == "1 [m]"
    assert q.latex() == r"1~\mathrm{m~rad}"
    assert q.descriptive() == "1 [meter.radian]"
    assert U("N.m.kg/J").descriptive() == "1 [kilogram.meter.newton/joule]"
    assert str(U("N.m.kg/J")) == "1 [kg]"


def test_custom_units_print_their_texts_unescaped():
    q = Tolvat.custom("my unit", "m u", U("m") * 2)
    assert str(q) == "1 [m u]"
    assert q.latex() == r"1~\mathrm{m u}"
    assert q.descriptive() == "1 [my unit]"
    wide = Tolvat.custom("Ωmega", "Ω̃", 3)
    assert str(wide) == "1 [Ω̃]"


def test_round_half_away_from_zero_returns_a_quantity():
    for value, expected in [(2.5, 3.0), (-2.5, -3.0), (0.5, 1.0), (1.5, 2.0), (0.49999999999999994, 0.0),
                            (-0.49999999999999994, -0.0), (-0.2, -0.0), (2.4999999999999996, 2.0),
                            (4503599627370497.0, 4503599627370497.0), (INF, INF), (-INF, -INF), (NAN, NAN)]:
        q = U("m") * value
        r = round(q)
        assert type(r) is Tolvat
        assert same(r.as_number(), expected), value
        assert same(round(q, None).as_number(), expected)
        assert same(q.__round__(ndigits=None).as_number(), expected)
        assert same(q.as_number(), value)  # the object itself keeps its value
    assert str(round(U("km") * 1.26, 1)) == "1.3 [km]"


@pytest.mark.parametrize(
    "value, ndigits, expected",
    [
        (1.005, 2, 1.0),  # 1.005 * 100 is just below 100.5
        (1.0051, 2, 1.01),
        (1234.0, -2, 1200.0),
        (1250.0, -2, 1300.0),
        (-1250.0, -2, -1300.0),
        (0.125, 2, 0.13),  # away from zero, unlike Python's float round
        (2.675, 2, 2.68),  # 2.675 * 100 rounds up to 267.5 in doubles
        (-0.001, 2, -0.0),
        (7.0, 0, 7.0),
        (1e300, -308, 0.0),
        (INF, 3, INF),
        (NAN, -3, NAN),
        (INF, 400, INF),
        (-INF, -400, -INF),
    ],
)
def test_round_to_digits(value, ndigits, expected):
    q = U("m") * value
    assert same(round(q, ndigits).as_number(), expected)
    assert same(q.__round__(ndigits=ndigits).as_number(), expected)


@pytest.mark.parametrize(
    "value, ndigits",
    [
        (1.5, 309),
        (1.5, 400),
        (-1.5, 2**31 - 1),
        (0.0, 500),
        (-0.0, 500),
        (1.5, -309),
        (-1.5, -400),
        (1e300, 10),
        (-1e300, 20),
        (2.5e-310, 311),
        (1.2345678e-305, 310),
        (-7e-320, 322),
        (MAX, -1),
        (1.5, -2**31),
    ],
)
def test_round_outside_the_finite_range_matches_python_float_round(value, ndigits):
    q = U("s") * value
    r = round(q, ndigits)
    assert same(r.as_number(), round(value, ndigits))
    assert r.descriptive().endswith(" [second]")


def test_round_that_overflows_raises_python_overflow_error():
    with pytest.raises(OverflowError):
        round(MAX, -308)
    with pytest.raises(OverflowError):
        round(U("m") * MAX, -308)


def test_round_keeps_simplified_units_and_simplifies_the_object():
    q = U("ft2/m")
    expected = q.as_number("ft")
    r = round(q, 1)
    assert q.as_number() == expected
    assert r.as_number() == 0.3
    assert r.descriptive() == "0.3 [foot]"
    five = U("m/km")
    assert round(five, 3).as_number() == 0.001
    assert five.descriptive() == "0.001 []"


@pytest.mark.parametrize(
    "value, figures, expected",
    [
        (0.0012345, 3, 0.00123),
        (-98765.0, 3, -98800.0),
        (123456.0, 2, 120000.0),
        (999.5, 3, 1000.0),
        (2.5, 1, 3.0),
        (-2.5, 1, -3.0),
        (123.0, 0, 0.0),
        (123.0, -1, 0.0),
        (1.0, 17, 1.0),
        (1e300, 20, 1.0000000000000002e300),  # the scaled formula, not an exact decimal rounding
        (0.0, 3, 0.0),
        (-0.0, 3, -0.0),
        (0.0, -5, 0.0),
        (INF, 2, INF),
        (-INF, 2, -INF),
        (INF, -(2**31), INF),
        (NAN, 4, NAN),
    ],
)
def test_round_sfig(value, figures, expected):
    q = U("m") * value
    r = q.round_sfig(figures)
    assert type(r) is Tolvat
    assert same(r.as_number(), expected)
    assert same(q.round_sfig(n_sig_figs=figures).as_number(), expected)
    assert r.descriptive().endswith(" [meter]")


def test_round_sfig_counts_figures_on_the_simplified_value():
    assert str((U("m/km") * 5).round_sfig(1)) == "0.005 []"
    q = U("ft2/m")  # 1 ft2/m is 0.3048 ft
    r = q.round_sfig(1)
    assert r.as_number() == 0.3
    assert r.descriptive() == "0.3 [foot]"
    assert q.descriptive().endswith(" [foot]")


@pytest.mark.parametrize(
    "value, figures, digits",
    [
        (1e-300, 10, 309),
        (5e-324, 1, 324),
        (1.7e-310, 2, 311),
        (1e300, 400, 99),
        (0.05, 2**31 - 1, 2**31),
        (5.0, 2**31 - 1, 2**31 - 2),
        (5e10, -(2**31), -(2**31) - 11),
        (-7.0, -(2**31), -(2**31) - 1),
    ],
)
def test_round_sfig_outside_the_finite_range_matches_python_float_round(value, figures, digits):
    r = (U("m") * value).round_sfig(figures)
    assert same(r.as_number(), round(value, digits))


def test_round_sfig_of_tiny_values_is_sound():
    assert (U("m") * 1e-300).round_sfig(10).as_number() == 1e-300
    assert (U("m") * 5e-324).round_sfig(1).as_number() == 5e-324
    assert (U("m") * 0.05).round_sfig(2**31 - 1).as_number() == 0.05


@pytest.mark.parametrize("bad, error", [(2.0, TypeError), ("2", TypeError), ([2], TypeError),
                                        (2**31, OverflowError), (-(2**31) - 1, OverflowError),
                                        (10**30, OverflowError)])
def test_bad_counts_raise_with_the_note_and_leave_the_object_untouched(bad, error):
    q = U("ft2/m")
    with pytest.raises(error) as info:
        round(q, bad)
    assert info.value.__notes__ == ["while processing 'ndigits'"]
    if error is OverflowError:
        assert info.value.args == ("out of range integral type conversion attempted",)
    with pytest.raises(error) as info:
        q.round_sfig(bad)
    assert info.value.__notes__ == ["while processing 'n_sig_figs'"]
    assert q.as_number() == 1.0
    assert q.as_number("ft2/m") == 1.0
    assert str(q).endswith(" [ft]")  # untouched until now


def test_count_bounds_and_booleans_are_accepted():
    q = U("m") * 2.5
    assert round(q, 2**31 - 1).as_number() == 2.5
    assert round(q, -(2**31)).as_number() == 0.0
    assert round(q, True).as_number() == 2.5
    assert q.round_sfig(True).as_number() == 3.0


def test_argument_binding():
    q = U("m")
    with pytest.raises(TypeError):
        q.round_sfig()
    with pytest.raises(TypeError):
        q.round_sfig(1, 2)
    with pytest.raises(TypeError):
        q.round_sfig(digits=1)
    with pytest.raises(TypeError):
        q.__round__(1, 2)
    with pytest.raises(TypeError):
        q.__round__(n=1)
    with pytest.raises(TypeError):
        q.latex(1)
    with pytest.raises(TypeError):
        q.descriptive(x=1)


def test_concurrent_text_and_rounding_never_tear_the_object():
    q = U("rad.ft2/m") * 3
    plain = str(q)

    def hammer(call):
        for _ in range(3000):
            try:
                call()
            except RuntimeError as error:
                assert error.args in (("Already borrowed",), ("Already mutably borrowed",))

    calls = [lambda: str(q), lambda: round(q, 2), lambda: q.round_sfig(3), lambda: q < U("m")]
    assert run_together(*(functools.partial(hammer, call) for call in calls)) == []
    assert str(q) == plain
