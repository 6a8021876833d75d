"""Converting quantities: as_unit, as_number, as_unitless, as_base_units, simplify, float, int."""

import math

import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit


def test_as_unit_rescales_and_refuses_other_dimensions():
    km = U("km")
    assert km.as_unit("m").as_number() == 1000.0
    assert str(km.as_unit("m")) == "1000 [m]"
    assert km.as_unit(U("m") * 7).as_number() == 1000.0  # only the operand's unit counts
    with pytest.raises(TypeError) as info:
        U("m").as_unit("s")
    assert info.value.args == ("[m] and [s] are not compatible",)


@pytest.mark.parametrize(
    "value, source, target, expected",
    [
        (0, "°C", "K", 273.15),
        (273.15, "K", "°C", 0.0),
        (100, "°C", "°F", 211.99999999999997),
        (32, "°F", "°C", 0.0),
        (212, "°F", "°C", 100.0),
        (1, "°F", "°F", 1.0),
        (0.1, "°C", "°C", 0.1),
        (20, "degree Celsius", "K", 293.15),
    ],
)
def test_offsets_apply_between_single_units(value, source, target, expected):
    assert (U(source) * value).as_number(target) == expected


def test_offsets_ignored_for_base_units_and_multi_unit_collections():
    twenty = U("°C") * 20
    assert twenty.as_base_units().as_number() == 20.0
    assert str(twenty.as_base_units()) == "20 [K]"
    assert twenty.as_unit("K").as_number() == 293.15
    # A one-entry collection with power 2 still counts as one entry: the offsets apply.
    square = U("°C") ** 2
    assert square.as_number("K2") == 274.15
    # Two entries on either side: no offsets.
    assert (U("°C/s") * 20).as_number("K/s") == 20.0


def test_as_unitless_counts_by_scale():
    assert (U("degree") * 180).as_unitless() == 3.141592653589793
    assert U("m/km").as_unitless() == 0.001
    with pytest.raises(TypeError) as info:
        U("m").as_unitless()
    assert info.value.args == ("[m] and [] are not compatible",)


def test_as_number_arguments():
    five_km = U("km") * 5
    assert five_km.as_number() == 5.0
    assert five_km.as_number(None) == 5.0
    assert five_km.as_number(None, True) == 5.0
    assert five_km.as_number("m") == 5000.0
    assert five_km.as_number("m", scale=True) == 5000.0
    assert five_km.as_number(U("km") * 2, scale=True) == 2.5
    assert five_km.as_number(other=U("km") * 2, scale=False) == 5.0
    with pytest.raises(TypeError) as info:
        five_km.as_number("m", 1)
    assert info.value.__notes__ == ["while processing 'scale'"]
    with pytest.raises(LookupError) as info:
        five_km.as_number("parsnips", scale=1)  # other is taken before scale
    assert info.value.__notes__ == ["while processing 'other'"]
    with pytest.raises(TypeError):
        five_km.as_number("s")


def test_as_number_accepts_numpy_booleans_by_their_type_name():
    # NumPy 2 names its boolean scalar type numpy.bool, NumPy 1 numpy.bool_.
    for name in ("numpy.bool", "numpy.bool_"):
        numpy_bool = type(name, (), {"__bool__": lambda self: False})
        assert (U("km") * 5).as_number(U("km") * 2, numpy_bool()) == 5


@pytest.mark.parametrize("bad, exc", [(None, TypeError), ([1], TypeError), ("nope", LookupError), (1j, TypeError)])
def test_as_unit_argument_failures_carry_the_note(bad, exc):
    with pytest.raises(exc) as info:
        U("m").as_unit(bad)
    assert info.value.__notes__ == ["while processing 'other'"]


def test_as_unit_accepts_numbers_and_log_quantities_as_dimensionless():
    assert (U("m/km") * 3).as_unit(2).as_number() == 0.003
    assert (U("m/km") * 3).as_unit(LogTolvat.unit("dB")).as_number() == 0.003


def test_float_and_int_read_the_stored_value():
    assert float(U("km") * 5) == 5.0
    assert int(U("m") * 3e9) == 3000000000
    assert int(U("m") * -1.9) == -1
    assert int(U("m") * 1e300) == int(1e300)
    with pytest.raises(ValueError):
        int(U("m") * math.nan)
    with pytest.raises(OverflowError):
        int(U("m") * math.inf)


def test_simplify_returns_a_new_quantity_and_simplify_inplace_changes_the_object():
    q = U("N.m.kg/J") * 3
    s = q.simplify()
    assert str(s) == "3 [kg]"
    assert q.as_number() == 3.0 and q.latex() != s.latex()
    mk = U("m.km")
    assert mk.simplify_inplace() is None
    assert mk.as_number("m2") == 1000.0
    r = U("ft/m") * 2
    assert r.simplify_inplace() is None
    assert r.as_number() == 2 * 0.3048
    assert r.as_unitless() == 2 * 0.3048
