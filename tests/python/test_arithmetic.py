"""Quantity arithmetic: the operators in both orders, the named methods and exp/log."""

import math
import operator

import pytest

from tolvat import LogTolvat, Tolvat
from thread_support import run_against_writer

U = Tolvat.unit


def test_addition_keeps_the_left_units():
    assert str(U("m") + U("km")) == "1001 [m]"
    assert str(U("km") + U("m")) == "1.001 [km]"
    half = Tolvat.empty() * 0.5
    assert str(half + 2) == "2.5 []"
    assert str(2 + half) == "2.5 []"


def test_addition_refuses_other_dimensions_naming_self_first():
    with pytest.raises(TypeError) as info:
        2 + U("m") * 3
    assert info.value.args == ("[m] and [] are not compatible",)
    with pytest.raises(TypeError) as info:
        U("m") - U("s")
    assert info.value.args == ("[m] and [s] are not compatible",)


def test_subtraction_in_both_orders_counts_in_the_quantity_units():
    deg = U("degree")
    assert (1 - deg).as_number() == 56.29577951308232
    assert (deg - 1).as_number() == -56.29577951308232
    assert str(U("km") - U("m")) == "0.999 [km]"


def test_offsets_take_no_part_in_sums():
    c20 = U("°C") * 20
    assert str(c20 + U("°C") * 5) == "25 [°C]"
    assert str(c20 + U("K") * 5) == "25 [°C]"
    assert str(c20 - U("°C") * 10) == "10 [°C]"
    assert str(2 * c20) == "40 [°C]"


def test_products_quotients_and_their_units():
    assert str((U("m") * 3) * (U("s") * 2)) == "6 [m.s]"
    assert str((U("m") * 3) / (U("s") * 2)) == "1.5 [m/s]"
    assert str(2 / (U("s") * 4)) == "0.5 [1/s]"
    assert str(U("m") * "s") == "1 [m.s]"
    assert str(U("km") / U("m")) == "1000 []"


def test_text_operands():
    q = U("m")
    with pytest.raises(TypeError) as info:
        q + "parsnips"
    assert "unsupported operand" in str(info.value)
    with pytest.raises(LookupError) as info:
        q.__div__("parsnips")
    assert info.value.__notes__ == ["while processing 'other'"]
    assert str(q.__div__("s")) == "1 [m/s]"
    assert str(q.__rdiv__(2)) == "2 [1/m]"
    with pytest.raises(TypeError) as info:
        q.__rdiv__(None)
    assert info.value.args == ("None cannot be coerced into a unit",)
    assert info.value.__notes__ == ["while processing 'other'"]


def test_powers():
    assert str((U("m") * 2) ** 2) == "4 [m2]"
    assert str((U("m2") * 4) ** 0.5) == "2 [m]"
    assert str(pow(U("m") * 3, 2, 7)) == "9 [m2]"
    assert str(2 ** (Tolvat.empty() * 3)) == "8 []"
    # A dimensionless exponent counts by its value without units: 90 degrees is pi/2.
    assert str(U("m") ** (U("degree") * 90)) == f"1 [m{math.pi / 2!r}]"
    with pytest.raises(TypeError) as info:
        U("m") ** U("m")
    assert info.value.args == ("[m] and [] are not compatible",)
    with pytest.raises(TypeError) as info:
        2 ** (U("m") * 3)
    assert info.value.args == ("[m] and [] are not compatible",)
    with pytest.raises(TypeError) as info:
        pow(U("m"), 2, "seven")
    assert "unsupported operand" in str(info.value)
    assert str(pow(U("m"), 2, LogTolvat.unit("dB"))) == "1 [m2]"


def test_ieee_results_never_raise():
    assert (U("m") / 0).as_number() == math.inf
    assert math.isnan((U("m") * 0 / 0).as_number())
    assert math.isnan(((Tolvat.empty() * -1) ** 0.5).as_number())
    assert (U("m") * 1e308 * 10).as_number() == math.inf


def test_unary_operations():
    q = U("m") * -3
    assert str(abs(q)) == "3 [m]"
    assert str(-q) == "3 [m]"
    assert str(+q) == "-3 [m]"
    assert math.copysign(1, abs(U("m") * -0.0).as_number()) == 1.0
    assert math.copysign(1, (-(U("m") * 0.0)).as_number()) == -1.0
    # abs keeps the collection as it was, without the closing simplification.
    mk = U("m/km")
    assert abs(mk).as_number() == 1.0 and str(abs(mk)) == "0.001 []"
    assert (+mk).as_number() == 0.001 and (-mk).as_number() == -0.001


def test_exp_log_and_log10_need_a_dimensionless_quantity():
    zero = Tolvat.empty() * 0
    assert zero.exp() == 1.0 and zero.__exp__() == 1.0
    assert zero.log() == -math.inf and zero.__log__() == -math.inf
    assert (Tolvat.empty() * 1000).log10() == 3.0
    assert U("degree").exp() == math.exp(0.017453292519943295)
    assert math.isnan((Tolvat.empty() * -1).log10())
    for method in ("exp", "log", "log10", "__exp__", "__log__", "__log10__"):
        with pytest.raises(TypeError) as info:
            getattr(U("m"), method)()
        assert info.value.args == ("[m] and [] are not compatible",)


def test_large_integers_are_operands():
    q = U("m")
    assert (q * 2147483648).as_number() == (q * 2147483648.0).as_number()
    assert (q * 10**30).as_number() == 1e30
    with pytest.raises(TypeError):
        q * 10**400  # too large even for a float: the operand does not coerce
    assert (q * True).as_number() == 1.0 and (q * False).as_number() == 0.0


@pytest.mark.parametrize("bad", [None, [1], object(), 1j, "parsnips"])
def test_refused_operands_give_python_type_errors(bad):
    q = U("m")
    for op in (lambda: q + bad, lambda: bad - q, lambda: q * bad, lambda: bad / q, lambda: q**bad):
        with pytest.raises(TypeError):
            op()
    assert str(q) == "1 [m]"


def test_operations_leave_operands_unchanged():
    a, b = U("km") * 2, U("m") * 3
    for _ in (a + b, a - b, a * b, a / b, a**2, -a, abs(a)):
        pass
    assert a.as_number() == 2.0 and b.as_number() == 3.0


def test_results_in_unchanged_units_keep_their_exact_value():
    # The closing step converts into the same units; that must not add rounding noise.
    assert (Tolvat.unit("°C") * 0.1).as_number() == 0.1
    assert (Tolvat.unit("°F") * 1).as_number() == 1.0
    assert (Tolvat.unit("km/hr") * 36).as_number() == 36.0
    assert str(Tolvat.unit("°C") * 0.1 + Tolvat.unit("K") * 5) == "5.1 [°C]"


def test_the_same_units_keep_the_value_whatever_multiplier_they_carry():
    # The parser carries a multiplier (0.0254 / 60 for in/min) that the simplification, which
    # recomputes it from the entries, may miss by a bit; between the same units nothing converts.
    assert str(U("in/min")) == "1 [in/min]"
    assert float(U("lb/in2") * 14.7) == 14.7
    assert (U("in/min") * 90).as_number("in/min") == 90.0
    assert float(U("km/hr") ** 2) == 1.0
    q = U("in/min") * 90
    str(q)  # settles the units in place, with the recomputed multiplier
    assert float(q) == 90.0 and q.as_number("in/min") == 90.0
    assert q == U("in/min") * 90 and U("in/min") * 90 == q and not q < U("in/min") * 90
    assert (U("in/min") * 90).as_unit("in/min").as_number() == 90.0
    assert (U("in/min") * 90).as_number("in/hr") == 5400.0  # other units still convert


def test_two_quantities_answer_in_the_left_units_or_decline_while_a_writer_holds_the_left():
    """While another thread holds the left operand exclusively, the operator declines; it never
    falls back to the reflected operation, which could run a moment later and answer in the right
    operand's units (6000 [m] for q + other)."""
    q, other = U("km") * 3, U("m") * 3000
    answers = {operator.add: "6 [km]", operator.sub: "0 [km]", operator.mul: "9000 [km.m]",
               operator.truediv: "1 []"}

    def use():
        for _ in range(5000):
            for op, answer in answers.items():
                try:
                    result = op(q, other)
                except TypeError as exc:
                    assert "unsupported operand" in str(exc)
                    continue
                assert str(result) == answer

    assert run_against_writer(q.simplify_inplace, use) == []
    assert str(q) == "3 [km]"
