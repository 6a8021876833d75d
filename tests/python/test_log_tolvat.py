"""LogTolvat: the logarithmic units, the constructor, conversion to other logarithmic units and to
plain numbers, and the access rules of its members."""

import inspect
import math
import weakref

import pytest

from tolvat import LogTolvat, Tolvat
from thread_support import run_against_writer, run_together

L = LogTolvat.unit

# name, symbol, base
UNITS = [
    ("bel", "B", 10.0),
    ("decibel", "dB", 1.2589254117941673),
    ("neper", "Np", 2.718281828459045),
    ("semitone", "stn", 1.0594630943592953),
]
BASE = {symbol: base for _, symbol, base in UNITS}
# One unit of the row in the column's units: 1 B = 10 dB = ln 10 Np = 12 log2(10) stn, and so on.
ONE_IN = {
    "B": {"B": 1.0, "dB": 10.0, "Np": 2.302585092994046, "stn": 39.86313713864835},
    "dB": {"B": 0.1, "dB": 1.0, "Np": 0.23025850929940456, "stn": 3.986313713864835},
    "Np": {"B": 0.4342944819032518, "dB": 4.342944819032518, "Np": 1.0, "stn": 17.312340490667562},
    "stn": {"B": 0.025085832971998432, "dB": 0.25085832971998434, "Np": 0.05776226504666211, "stn": 1.0},
}


# ---- unit() -------------------------------------------------------------------------------------


@pytest.mark.parametrize("name, symbol, base", UNITS)
def test_name_and_symbol_give_one_unit_of_the_same_row(name, symbol, base):
    by_name, by_symbol = L(name), L(symbol)
    assert type(by_name) is LogTolvat and by_name is not by_symbol
    for x in (by_name, by_symbol, L(unit_name_or_symbol=symbol)):
        assert x.as_number() == 1.0
        assert float(x) == base and x.as_unitless() == base
    # The same base and value, hence the same carried amount into every unit.
    for _, target, _ in UNITS:
        assert by_name.as_number(L(target)) == by_symbol.as_number(L(target))


def test_name_and_symbol_give_the_same_text_form():
    for name, symbol, _ in UNITS:
        assert str(L(name)) == str(L(symbol)) == f"1 [{symbol}]"


@pytest.mark.parametrize(
    "text",
    ["db", "DB", "Db", "Bel", "NP", "STN", "", " ", " dB", "dB ", "\tB", "decibels", "bels", "deci", "mB", "kdB",
     "dB2", "dB^2", "dB/s", "dB.dB", "m", "km", "s", "dB\x00", "\x00", "ｄB", "В", "x" * 10000],
)
def test_unit_reports_texts_naming_no_logarithmic_unit_verbatim(text):
    with pytest.raises(LookupError) as info:
        L(text)
    assert type(info.value) is LookupError
    assert info.value.args == (f"Logarithmic ratio unit {text} not found",)
    # At most one note, the nearest logarithmic unit, which is one.
    notes = getattr(info.value, "__notes__", [])
    assert len(notes) <= 1
    for note in notes:
        assert note.startswith("did you mean '") and note.endswith("'?")
        assert L(note[len("did you mean '"):-2]).as_number() == 1.0


def test_unit_accepts_str_subclasses_by_their_text():
    class Text(str):
        def __str__(self):
            return "B"

    assert float(L(Text("dB"))) == BASE["dB"]


def test_unit_argument_binding_errors():
    for call in (lambda: L(), lambda: L("dB", "B"), lambda: L(name="dB"), lambda: L("dB", unit_name_or_symbol="dB")):
        with pytest.raises(TypeError):
            call()


# ---- the type's members ---------------------------------------------------------------------------


def test_members_expose_their_signatures_and_no_other_documentation():
    signatures = {
        "unit": "($cls, unit_name_or_symbol)",
        "as_unit": "($self, other)",
        "as_number": "($self, other=None)",
        "as_unitless": "($self)",
        "exp": "($self)",
        "__exp__": "($self)",
        "log": "($self)",
        "__log__": "($self)",
        "log10": "($self)",
        "__log10__": "($self)",
    }
    for name, signature in signatures.items():
        member = LogTolvat.__dict__[name]
        assert member.__text_signature__ == signature, name
        assert member.__doc__ is None, name
    assert str(inspect.signature(LogTolvat.unit)) == "(unit_name_or_symbol)"
    # A class method: reachable through an instance too, always giving a LogTolvat.
    assert str(L("B").unit("dB")) == "1 [dB]"
    # Operators and text forms are not members of this model; the class has no docstring.
    assert LogTolvat.__doc__ is None
    assert "constant" not in LogTolvat.__dict__ and "empty" not in LogTolvat.__dict__


def test_instances_are_unhashable_always_true_and_closed():
    x = L("dB")
    with pytest.raises(TypeError):
        hash(x)
    assert LogTolvat.__hash__ is None
    assert bool(x) is True and bool(L("B").as_unit(L("Np"))) is True
    with pytest.raises(AttributeError):
        x.value = 2.0
    with pytest.raises(AttributeError):
        x.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(x)


def test_methods_without_arguments_refuse_arguments():
    x = L("B")
    for method in ("as_unitless", "exp", "__exp__", "log", "__log__", "log10", "__log10__"):
        with pytest.raises(TypeError):
            getattr(x, method)(1)
        with pytest.raises(TypeError):
            getattr(x, method)(other=1)


# ---- as_unit and as_number ----------------------------------------------------------------------


def test_one_bel_as_number_and_as_plain_numbers():
    x = L("B")
    assert x.as_number() == 1.0 and x.as_number(None) == 1.0 and x.as_number(other=None) == 1.0
    assert float(x) == 10.0 and x.as_unitless() == 10.0
    assert type(x.as_number()) is float and type(float(x)) is float
    assert L("Np").log() == 1.0 and x.log10() == 1.0


def test_as_unit_carries_the_ratio_over():
    for source, row in ONE_IN.items():
        x = L(source)
        for target, value in row.items():
            y = x.as_unit(L(target))
            assert type(y) is LogTolvat and str(y).endswith(f" [{target}]")
            assert y.as_number() == x.as_number(L(target)) == x.as_number(other=L(target))
            assert y.as_number() == pytest.approx(value, rel=1e-15, abs=0)
            assert float(y) == pytest.approx(BASE[source], rel=1e-15, abs=0)  # the same ratio
        assert x.as_number() == 1.0  # the source is not changed


def test_carried_value_is_ln_ratio_over_ln_base_not_a_scaled_value():
    # 1 B as dB is the documented 9.999999999999998.
    assert L("B").as_unit(L("dB")).as_number() == 9.999999999999998
    # 1 Np as bel and back: ln(ratio) / ln(e) gives 0.9999999999999998, where v * ln(b) / ln(c)
    # would give 0.9999999999999999.
    there = L("Np").as_unit(L("B"))
    assert there.as_number() == 0.43429448190325176
    assert there.as_unit(L("Np")).as_number() == 0.9999999999999998
    assert there.as_number(L("Np")) == 0.9999999999999998
    back = L("stn").as_unit(L("dB")).as_unit(L("stn"))
    assert back.as_number() == 1.0


def test_as_unit_uses_only_the_unit_of_other():
    target = L("B").as_unit(L("dB"))  # a decibel quantity of value 9.999999999999998
    assert target.as_number(None) == target.as_number() == 9.999999999999998
    x = L("Np")
    assert x.as_unit(target).as_number() == x.as_unit(L("dB")).as_number() == pytest.approx(ONE_IN["Np"]["dB"], rel=1e-15, abs=0)
    assert x.as_number(target) == x.as_number(L("dB"))
    # Converting to one's own unit keeps the ratio.
    assert L("B").as_unit(L("B")).as_number() == 1.0


def test_as_unit_keeps_the_target_name_and_symbol():
    assert str(L("B").as_unit(L("decibel"))) == "9.999999999999998 [dB]"
    assert str(L("dB").as_unit(L("bel"))).endswith(" [B]")


def type_name(obj):
    """The type's name as the interpreter prints it in messages."""
    cls = type(obj)
    return cls.__qualname__ if cls.__module__ == "builtins" else f"{cls.__module__}.{cls.__qualname__}"


NOT_LOG_QUANTITIES = [Tolvat.unit("m"), Tolvat.empty(), "dB", "B", 1, 1.0, True, [L("dB")], LogTolvat, object()]


@pytest.mark.parametrize("bad", NOT_LOG_QUANTITIES + [None])
def test_as_unit_refuses_anything_but_a_log_quantity(bad):
    with pytest.raises(TypeError) as info:
        L("dB").as_unit(bad)
    # The message says what is wrong with the argument: its type, and the one type wanted.
    assert str(info.value) == f"'{type_name(bad)}' object cannot be converted to 'LogTolvat'"
    assert info.value.__notes__ == ["while processing 'other'"]


@pytest.mark.parametrize("bad", NOT_LOG_QUANTITIES)
def test_as_number_refuses_anything_but_none_or_a_log_quantity(bad):
    with pytest.raises(TypeError) as info:
        L("dB").as_number(bad)
    assert str(info.value) == f"'{type_name(bad)}' object cannot be converted to 'LogTolvat'"
    assert info.value.__notes__ == ["while processing 'other'"]


def test_conversion_argument_binding():
    x = L("dB")
    assert x.as_unit(other=L("B")).as_number() == pytest.approx(0.1, rel=1e-15, abs=0)
    for call in (
        lambda: x.as_unit(),
        lambda: x.as_unit(L("B"), L("B")),
        lambda: x.as_unit(target=L("B")),
        lambda: x.as_unit(L("B"), other=L("B")),
        lambda: x.as_number(None, None),
        lambda: x.as_number(scale=True),
        lambda: x.as_number(L("B"), other=None),
    ):
        with pytest.raises(TypeError):
            call()


# ---- numbers from the ratio ------------------------------------------------------------------------


@pytest.mark.parametrize("name, symbol, base", UNITS)
def test_exp_log_and_log10_act_on_the_ratio(name, symbol, base):
    x = L(symbol)
    assert x.exp() == x.__exp__() == math.exp(base)
    assert x.log() == x.__log__() == pytest.approx(ONE_IN[symbol]["Np"], rel=1e-15, abs=0)
    assert x.log10() == x.__log10__() == pytest.approx(ONE_IN[symbol]["B"], rel=1e-15, abs=0)
    assert int(x) == math.trunc(base) and type(int(x)) is int


def test_values_reached_by_scaling():
    db20 = L("dB") * 20
    assert float(db20) == 100.00000000000011
    assert db20.as_number() == db20.as_number(None) == 20.0
    assert db20.as_unit(L("B")).as_number() == 2.0000000000000004
    assert db20.log10() == 2.0000000000000004
    stn12 = L("stn") * 12
    assert float(stn12) == 2.000000000000001
    assert stn12.as_unit(L("B")).as_number() == 0.30102999566398136
    assert float(L("B") * 3) == 1000.0


def test_int_truncates_the_ratio_to_an_exact_int():
    # Larger than 32 bits: the exact integer, no saturation.
    assert int(L("B") * 10) == 10_000_000_000
    assert int(L("B") * 300) == int(1e300)
    assert int(L("B") * -1) == 0  # ratio 0.1
    assert int(L("dB") * 20) == 100
    assert int(L("Np") * 2.5) == math.trunc(math.e**2.5)


def test_int_of_nan_and_infinite_ratios_raises_pythons_errors():
    with pytest.raises(ValueError) as nan_info:
        int(L("B") * math.nan)
    with pytest.raises(ValueError) as reference:
        int(math.nan)
    assert nan_info.value.args == reference.value.args
    with pytest.raises(OverflowError) as inf_info:
        int(L("B") * 400)
    with pytest.raises(OverflowError) as reference:
        int(math.inf)
    assert inf_info.value.args == reference.value.args


def test_overflow_and_zero_ratios_give_ieee_results():
    huge = L("B") * 400  # ratio overflows to infinity
    assert float(huge) == math.inf and huge.log() == math.inf and huge.log10() == math.inf
    assert huge.exp() == math.inf
    assert huge.as_unit(L("dB")).as_number() == math.inf
    tiny = L("B") * -400  # ratio underflows to zero
    assert float(tiny) == 0.0 and int(tiny) == 0 and tiny.exp() == 1.0
    assert tiny.log() == -math.inf and tiny.log10() == -math.inf
    assert tiny.as_number(L("Np")) == -math.inf
    nan = L("dB") * math.nan
    assert math.isnan(float(nan)) and math.isnan(nan.log()) and math.isnan(nan.as_number(L("B")))
    assert math.isnan(nan.as_number())


# ---- access -------------------------------------------------------------------------------------------


def test_failed_calls_leave_the_object_free():
    x = L("dB")
    for call in (lambda: x.as_unit(1), lambda: x.as_number("B"), lambda: L(5), lambda: x.as_unit()):
        with pytest.raises(TypeError):
            call()
    assert x.as_unit(x).as_number() == 1.0
    x.round_sfig(3)  # exclusive access succeeds only when nobody holds the object


def test_readers_share_one_object_across_threads():
    x, target = L("Np"), L("dB")
    expected = (float(x), x.as_number(target), x.log10(), int(x))

    def read():
        for _ in range(2000):
            assert (float(x), x.as_number(target), x.log10(), int(x)) == expected
            x.as_unit(target)

    assert run_together(*[read] * 8) == []


def test_readers_never_see_an_object_held_exclusively_except_as_runtime_error():
    x = L("dB")
    # Each read, its value, and the notes of its refusal: only the operand of another's method
    # is named.
    reads = [(lambda: float(x), float(x), []), (x.as_number, 1.0, []), (x.log, x.log(), []),
             (lambda: L("B").as_number(x), L("B").as_number(x), ["while processing 'other'"])]

    def use():
        for _ in range(5000):
            for call, value, notes in reads:
                try:
                    assert call() == value
                except RuntimeError as exc:
                    assert exc.args == ("Already mutably borrowed",)
                    assert getattr(exc, "__notes__", []) == notes

    assert run_against_writer(lambda: x.round_sfig(2), use) == []
    x.round_sfig(2)
    assert x.as_number() == 1.0
