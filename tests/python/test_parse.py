"""Tolvat.parse, the strict reading of whole quantity texts, and the members that show a
quantity's parts: value, units, dimension, is_compatible."""

import math
import types
import warnings

import pytest

from tolvat import LogTolvat, Tolvat

P = Tolvat.parse
U = Tolvat.unit


def same(q, expected):
    """Same dimension, and the same value in the expected quantity's units."""
    assert q.dimension == expected.dimension, (q, expected)
    got, want = q.as_number(expected), float(expected)
    assert got == pytest.approx(want, rel=1e-13, abs=0.0) or (math.isnan(got) and math.isnan(want)), (q, expected)


@pytest.mark.parametrize("text, built", [
    ("9.81 m/s^2", lambda: U("m/s2") * 9.81),
    ("100 km/h", lambda: U("km/hr") * 100),
    ("W/(m2·K)", lambda: U("W/m2.K")),
    ("kg m/s²", lambda: U("kg.m/s2")),
    ("5 ft 2 in", lambda: U("in") * 62),
    ("1 h 30 min", lambda: U("min") * 90),
    ("20 degC", lambda: U("degree Celsius") * 20),
    ("9.81 [m/s2]", lambda: U("m/s2") * 9.81),
    ("J/kg*K", lambda: U("J.K/kg")),
    ("m/s/s", lambda: U("m/s2")),
    ("6.02×10^23 1/mol", lambda: U("1/mol") * 6.02e23),
    ("5 %", lambda: Tolvat.empty() * 0.05),
])
def test_the_examples_read_as_meant(text, built):
    same(P(text), built())


def test_the_unit_text_forms_that_tolvat_unit_loses_are_read_whole():
    # Each of these drops pieces (with a warning) through Tolvat.unit; parse reads all of it.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for text, built in [("m/s^2", U("m/s2")), ("9.81 m/s2", U("m/s2") * 9.81), ("kW.h", U("kW.hr"))]:
            same(P(text), built)


@pytest.mark.parametrize("text, kind, message, notes", [
    ("9.81 m/s^x", LookupError, "'x' is not a number or unit at position 9", ["9.81 m/s^x\n         ^"]),
    ("3 furlongz", LookupError, "'furlongz' is not a number or unit at position 2",
     ["3 furlongz\n  ^^^^^^^^", "did you mean 'furlong'?"]),
    ("", ValueError, "empty quantity text at position 0", None),
    ("W/(m2.K", ValueError, "unbalanced '(' at position 2", ["W/(m2.K\n  ^"]),
    ("m/", ValueError, "'/' has nothing after it at position 1", None),
    ("kg.m/s.2", ValueError, "a number cannot follow '.' at position 7", None),
    ("5 ft 2 s", TypeError, "[ft] and [s] are not compatible", None),
])
def test_failures_name_the_piece_with_a_caret(text, kind, message, notes):
    with pytest.raises(kind) as caught:
        P(text)
    assert str(caught.value) == message
    if notes is not None:
        assert caught.value.__notes__ == notes


def test_arguments():
    with pytest.raises(TypeError):
        P()
    with pytest.raises(TypeError):
        P(text="m")  # positional only
    with pytest.raises(TypeError):
        P("m", "s")
    with pytest.raises(TypeError):
        P("m", unit={})
    with pytest.raises(TypeError) as caught:
        P(5)
    assert caught.value.__notes__ == ["while processing 'text'"]
    with pytest.raises(TypeError) as caught:
        P("2 x", units={"x": object()})
    assert "while processing 'units'" in caught.value.__notes__
    with pytest.raises(TypeError):
        P("2 x", units=[1, 2])


def test_extra_units_parse_and_nothing_is_kept_between_calls():
    smoot = Tolvat.custom("smoot", "smoot", U("m") * 1.7018)
    bridge = P("364.4 smoot + 1 ear", units={"smoot": smoot, "ear": "cm"})
    same(bridge, U("m") * (364.4 * 1.7018 + 0.01))
    assert str(bridge) == str(smoot * 364.4 + U("cm"))
    # Values of the mapping count too, and extra names come before the catalogue's.
    same(P("3 m", units={"m": U("ft")}), U("ft") * 3)
    with pytest.raises(LookupError):
        P("364.4 smoot")
    same(P("3 m", units=None), U("m") * 3)


def test_the_spelling_table_suggests_only_what_a_spelling_means():
    for spelling in ["h", "hrs", "sec", "mins", "l", "ml", "lbs", "degC", "deg_C", "degree_Celsius",
                     "mph", "kph", "kmh", "rpm", "gpm", "cfm", "%", "percent"]:
        meant = P(spelling)
        try:
            U(spelling)
            continue  # the catalogue holds it
        except LookupError as error:
            notes = getattr(error, "__notes__", [])
        suggestions = [n.split("'")[1] for n in notes if n.startswith("did you mean")]
        for suggestion in suggestions:
            assert U(suggestion).dimension == meant.dimension, (spelling, suggestion)
    with pytest.raises(LookupError) as caught:
        U("rpm")
    assert caught.value.__notes__ == ["did you mean '1/min'?"]


def test_tolvat_unit_warns_for_a_bare_number_it_drops():
    with pytest.warns(UserWarning, match="'2' names no unit and was ignored"):
        assert str(U("N.m2/s.2")) == "1 [N.m2/s]"


def test_inspection_members():
    q = U("km/hr") * 90
    assert q.value == 90.0 and type(q.value) is float
    assert str(q.units) == "1 [km/hr]"
    assert q.dimension == {"m": 1, "s": -1}
    assert isinstance(q.dimension, types.MappingProxyType)
    assert all(type(v) is int for v in q.dimension.values())
    assert P("m^0.5").dimension == {"m": 0.5}
    assert U("rad").dimension == {}
    assert P("5 USD/kg.cd.A.mol.K").dimension == {"USD": 1, "kg": -1, "cd": -1, "A": -1, "mol": -1, "K": -1}
    with pytest.raises(TypeError):
        q.dimension["m"] = 2
    with pytest.raises(AttributeError):
        q.value = 3.0
    assert q.is_compatible("m/s") and q.is_compatible(U("mi/hr"))
    assert not q.is_compatible("m") and not q.is_compatible(3.0)
    assert U("m/km").is_compatible(2) and U("m/km").is_compatible(LogTolvat.unit("dB"))
    assert q.is_compatible(other=q)
    with pytest.raises(LookupError):
        q.is_compatible("furlongz")
    # The members read; they change nothing.
    assert str(q) == "90 [km/hr]"
