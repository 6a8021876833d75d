"""The constant catalogue through Tolvat.constant, and one-off units through Tolvat.custom."""

import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit

def test_constants_have_their_value_in_their_unit():
    for name, value, unit in [("light speed", 299792458.0, "m/s"), ("avogadro's number", 6.02214076e23, "1/mol"),
                              ("gravitational constant", 6.6743e-11, "m3/kg.s2")]:
        q = Tolvat.constant(name)
        assert type(q) is Tolvat and q.as_number() == value and q.as_number(unit) == value


def test_constants_keep_the_units_as_written():
    assert Tolvat.constant("c").latex() == r"299792458~\mathrm{\frac{m}{s}}"
    assert Tolvat.constant(constant_name="speed of light").descriptive() == "299792458 [meter/second]"
    g = Tolvat.constant("gravitational constant")
    assert g.latex() == r"0.000000000066743~\mathrm{\frac{N~m^2}{kg^2}}"
    assert g.descriptive() == "0.000000000066743 [meter2.newton/kilogram2]"
    assert Tolvat.constant("N_A").descriptive() == "602214076000000000000000 [1/mole]"
    assert Tolvat.constant("faraday").latex() == r"96485.33212331001~\mathrm{\frac{C}{mol}}"
    # The constant is not the unit of the same name: the unit "c" is 1 light speed.
    assert Tolvat.constant("c") == U("c") * 1
    assert Tolvat.constant("earth gravity") > U("m/s2") * 9.8


@pytest.mark.parametrize("text", ["Planck", "C", "light speed ", " c", "electron", "", "Light Speed", "m",
                                  "meter", "c\x00", "stefan_boltzmann", "faradays constant"])
def test_unknown_constants_quote_the_text_as_passed(text):
    with pytest.raises(LookupError) as info:
        Tolvat.constant(text)
    assert type(info.value) is LookupError
    assert info.value.args == (f"Constant {text} not found",)


def test_constant_argument_binding():
    with pytest.raises(TypeError):
        Tolvat.constant()
    with pytest.raises(TypeError):
        Tolvat.constant("c", "c")
    with pytest.raises(TypeError):
        Tolvat.constant(name="c")
    # Called on an instance it is still the class method.
    assert U("m").constant("c").as_number() == 299792458.0


def test_custom_unit_from_a_quantity():
    smoot = Tolvat.custom("smoot", "smt", U("m") * 1.7018)
    assert type(smoot) is Tolvat
    assert smoot.as_number() == 1.0
    assert str(smoot) == "1 [smt]"
    assert smoot.latex() == r"1~\mathrm{smt}"
    assert smoot.descriptive() == "1 [smoot]"
    assert smoot.as_number("m") == 1.7018
    assert smoot.as_unit("m").as_number() == 1.7018
    total = smoot + U("m")
    assert total.descriptive().endswith(" [smoot]")
    assert total.as_number() == pytest.approx(1 + 1 / 1.7018, rel=1e-15)
    assert str(smoot.as_base_units()) == "1.7018 [m]"
    with pytest.raises(TypeError) as info:
        smoot.as_unit("s")
    assert info.value.args == ("[smt] and [s] are not compatible",)
    # Unit texts never resolve to it.
    with pytest.raises(LookupError):
        U("smt")
    with pytest.raises(LookupError):
        U("smoot")


def test_only_scale_and_dimension_of_the_definition_count():
    in_cm = Tolvat.custom("a", "a", U("cm") * 170.18)
    assert in_cm.as_number("m") == pytest.approx(1.7018, rel=1e-15)
    dozen = Tolvat.custom("dozen", "dz", 12)
    assert dozen.as_unitless() == 12.0
    assert dozen == 12
    from_text = Tolvat.custom("klick", "kk", "km")
    assert from_text.as_number("m") == 1000.0
    assert from_text.descriptive() == "1 [klick]"
    assert Tolvat.custom("half", "h", 0.5).as_unitless() == 0.5
    assert Tolvat.custom("one", "1", True).as_unitless() == 1.0
    assert Tolvat.custom("big", "B", 2**40).as_unitless() == 2.0**40
    decade = Tolvat.custom("decade", "dec", LogTolvat.unit("B"))
    assert decade.as_unitless() == 10.0
    # A compound definition collapses to one unit of its dimension.
    accel = Tolvat.custom("gee", "gee", Tolvat.constant("earth gravity"))
    assert accel.as_number("m/s2") == 9.80665
    assert str(accel * U("s2")) == "1 [gee.s2]"


def test_affine_offset_of_the_definition_is_dropped():
    warm = Tolvat.custom("warm", "wm", U("°C") * 20)
    assert warm.as_number("K") == 20.0
    assert (U("°C") * 20).as_number("K") == 293.15
    assert Tolvat.custom("deg", "dg", "°C").as_number("K") == 1.0


def test_equal_definitions_give_one_unit():
    a = Tolvat.custom("smoot", "smt", U("m") * 1.7018)
    b = Tolvat.custom("smoot", "smt", U("m") * 1.7018)
    assert (a * b).descriptive() == "1 [smoot2]"
    assert str(a + b) == "2 [smt]"
    other = Tolvat.custom("smoot", "smt", U("m") * 2)
    assert (a * other).descriptive() == "1 [smoot.smoot]"
    assert (a * Tolvat.custom("smoot", "smt2", U("m") * 1.7018)).descriptive() == "1 [smoot.smoot]"


def test_names_and_symbols_are_not_checked():
    assert str(Tolvat.custom("", "", 1)) == "1 []"
    assert Tolvat.custom("", "", U("m")).descriptive() == "1 []"
    clash = Tolvat.custom("meter", "m", U("m") * 2)
    assert str(clash) == "1 [m]"
    assert clash.as_number("m") == 2.0
    spaced = Tolvat.custom("my unit", "m u", "s")
    assert spaced.descriptive() == "1 [my unit]"
    assert Tolvat.custom(name="n", abbr="a", definition="s").descriptive() == "1 [n]"


def test_custom_arguments_fail_in_order_with_their_notes():
    cases = [
        ((1, "a", "m"), TypeError, "name"),
        (("n", None, "m"), TypeError, "abbr"),
        ((1, None, object()), TypeError, "name"),
        (("n\ud800", "a", "m"), UnicodeEncodeError, "name"),
        (("n", "a\udc00", "m"), UnicodeEncodeError, "abbr"),
        (("n", "a", None), TypeError, "definition"),
        (("n", "a", "furlongs"), LookupError, "definition"),
        (("n", "a", 10**400), OverflowError, "definition"),
        (("n", "a", [1]), TypeError, "definition"),
    ]
    for args, error, argument in cases:
        with pytest.raises(error) as info:
            Tolvat.custom(*args)
        assert info.value.__notes__[0] == f"while processing '{argument}'", args
        assert len(info.value.__notes__) == (2 if error is LookupError else 1), args
    with pytest.raises(LookupError) as info:
        Tolvat.custom("n", "a", "furlongs")
    assert info.value.args == ("Unit furlongs not found",)
    assert info.value.__notes__ == ["while processing 'definition'", "did you mean 'furlong'?"]
    with pytest.raises(TypeError) as info:
        Tolvat.custom("n", "a", None)
    assert info.value.args == ("None cannot be coerced into a unit",)
    with pytest.raises(TypeError):
        Tolvat.custom("n", "a")
    with pytest.raises(TypeError):
        Tolvat.custom("n", "a", "m", "m")
    with pytest.raises(TypeError):
        Tolvat.custom("n", "a", definition="m", name="x")

