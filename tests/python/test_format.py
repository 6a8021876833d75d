"""format() and f-strings of Tolvat and LogTolvat."""

import math
import functools

import pytest

from thread_support import run_together
from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
L = LogTolvat.unit

SPECS = [".3f", ".4g", "e", ".2E", "12.2f", "<12.1f", "^14.3g", ">10", "+.1f", " .2f", ",.2f", "_g", "%", "#.0f", "010.3f", "z.1f"]


def expected(q, spec):
    """The oracle: Python's float format of the number str() shows, then str()'s unit text."""
    number, unit = str(q).split(" ", 1)
    return format(float(number), spec) + " " + unit


def quantities():
    return [
        U("m") * 1234.5678,
        U("km/hr") * 90,
        U("N.m.kg/J") * 2,  # the printed copy is fully simplified to kg
        U("m/km") * 5,  # cancels to a dimensionless 0.005
        U("degree Celsius") * -40,
        Tolvat.empty() * -0.0,
        U("s") * 1e-7,
        U("m") * 1e21,
        U("m") * math.inf,
        U("m") * -math.inf,
        U("K") * math.nan,
        Tolvat.custom("smoot", "smt", U("m") * 1.7018) * 3,
        U("fl oz (imp)") * 2,  # a unit text with a space in it
        Tolvat.constant("planck"),
    ]


@pytest.mark.parametrize("index", range(len(quantities())))
def test_tolvat_formats_the_number_as_a_float_and_keeps_str_units(index):
    for spec in SPECS:
        q = quantities()[index]
        assert format(q, spec) == expected(q, spec), spec
    q = quantities()[index]
    assert format(q, "") == str(q)
    assert f"{q}" == str(q) == f"{q!s}"
    assert f"{q:.2f}" == format(q, ".2f")
    width, precision = 9, 2
    assert f"{q:>{width}.{precision}f}" == expected(q, ">9.2f")


def test_tolvat_examples():
    assert f"{U('km/hr') * 90:.3f}" == "90.000 [km/hr]"
    assert f"{U('m') * 1234.5678:,.1f}" == "1,234.6 [m]"
    assert f"{U('m') * 1234.5678:>10.1f}|" == "    1234.6 [m]|"
    assert f"{U('N.m.kg/J') * 2:.1f}" == "2.0 [kg]"
    assert f"{U('m/km') * 5:.1e}" == "5.0e-03 []"
    assert f"{Tolvat.empty() * -0.0:.1f}" == "-0.0 []"
    assert f"{U('K') * math.nan:.2f}" == "nan [K]"
    # A float spec keeps Python's spelling of special values, str() keeps its own.
    assert str(U("K") * math.nan) == "NaN [K]"
    assert f"{U('m') * 1e21:g}" == "1e+21 [m]"


def test_formatting_simplifies_the_object_in_place_as_str_does():
    q = U("m/km") * 5
    before = str(U("m/km") * 5)
    assert format(q, ".3f") == "0.005 []"
    assert q.as_number() == 0.005  # the object now holds the cheaply simplified, empty unit
    assert str(q) == before


@pytest.mark.parametrize("spec", ["d", "x", "s", "c", "b", ".3q", ",_f", ".f", "..2f", "1.2.3f", "\udc80"])
def test_invalid_specs_raise_the_float_error(spec):
    with pytest.raises(ValueError) as float_error:
        format(1.5, spec)
    for q in (U("m") * 1.5, L("dB") * 1.5):
        with pytest.raises(ValueError) as error:
            format(q, spec)
        assert error.value.args == float_error.value.args


@pytest.mark.parametrize("q", [U("m"), L("dB")])
def test_spec_must_be_a_str(q):
    with pytest.raises(TypeError) as error:
        format(q, 5)
    for bad in (5, None, b".2f"):
        with pytest.raises(TypeError) as error:
            q.__format__(bad)
        assert error.value.__notes__ == ["while processing 'format_spec'"]
    with pytest.raises(TypeError):
        q.__format__()
    with pytest.raises(TypeError):
        q.__format__(".1f", ".2f")
    with pytest.raises(TypeError):
        q.__format__(format_spec=".1f")
    # A str subclass is a spec like any other.
    assert q.__format__(type("Spec", (str,), {})(".1f")) == format(q, ".1f")


def test_log_tolvat_formats_number_and_bracketed_symbol():
    x = L("dB") * 20
    assert format(x, "") == str(x) == f"{x}" == "20 [dB]"
    assert f"{x:.2f}" == "20.00 [dB]"
    assert f"{x:>8.1f}|" == "    20.0 [dB]|"
    assert f"{L('B') + L('dB') * 10:.3f}" == "2.000 [B]"
    assert f"{-L('Np') * 0.0:+.1f}" == "-0.0 [Np]"
    assert f"{L('stn') * math.inf:e}" == "inf [stn]"
    for unit in ("B", "dB", "Np", "stn"):
        y = L(unit) * 1.2345678
        for spec in SPECS:
            assert format(y, spec) == format(1.2345678 * 1.0, spec) + f" [{unit}]", spec


def test_format_of_a_tolvat_needs_exclusive_access():
    q = U("m") * 2.5
    seen = []

    class Probe:
        # Called for its text while q.as_unit(...) holds shared access to q.
        def __str__(self):
            try:
                format(q, ".1f")
            except RuntimeError as error:
                seen.append(error.args)
            seen.append(format(L("dB"), ".1f"))  # other objects stay usable
            return "probe"

    with pytest.raises(TypeError):
        q.as_unit(Probe())
    assert seen == [("Already borrowed",), "1.0 [dB]"]
    assert format(q, ".1f") == "2.5 [m]"


def test_concurrent_formatting_never_tears_the_object():
    q = U("rad.ft2/m") * 3
    x = L("dB") * 3
    plain = str(q)
    wanted = {".2f": expected(q, ".2f"), "": plain}

    def hammer(spec):
        for _ in range(2000):
            try:
                assert format(q, spec) == wanted[spec]
            except RuntimeError as error:
                assert error.args == ("Already borrowed",)
            assert format(x, ".1f") == "3.0 [dB]"

    assert run_together(*(functools.partial(hammer, spec) for spec in (".2f", "", ".2f", ""))) == []
    assert str(q) == plain
