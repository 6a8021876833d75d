"""The constant catalogue through Tolvat.constant, and one-off units through Tolvat.custom."""

import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit

ROWS = [
    ("light speed", 299792458.0, "m/s"),
    ("planck's constant", 6.62607015e-34, "J.s"),
    ("reduced planck's constant", 1.054571817e-34, "J.s"),
    ("boltzmann's constant", 1.380649e-23, "J/K"),
    ("electron charge", 1.602176634e-19, "coulomb"),
    ("electron mass", 9.1093837015e-31, "kg"),
    ("proton mass", 1.67262192369e-27, "kg"),
    ("neutron mass", 1.67492749804e-27, "kg"),
    ("avogadro's constant", 6.02214076e23, "1/mol"),
    ("gravitational constant", 6.6743e-11, "N.m2/kg2"),
    ("earth gravity", 9.80665, "m/s2"),
    ("stefan-boltzmann constant", 5.670374419e-08, "W/m2.K4"),
    ("ideal gas constant", 8.31446261815324, "J/K.mol"),
    ("faraday constant", 96485.33212331001, "coulomb/mol"),
    ("vacuum permittivity", 8.8541878188e-12, "farad/m"),
    ("vacuum permeability", 1.25663706127e-06, "N/A2"),
]

ALIASES = {
    "c": "light speed",
    "speed of light": "light speed",
    "lightspeed": "light speed",
    "planck": "planck's constant",
    "boltzmann": "boltzmann's constant",
    "elementary charge": "electron charge",
    "avogadro": "avogadro's constant",
    "avogadro's number": "avogadro's constant",
    "N_A": "avogadro's constant",
    "stefan-boltzmann": "stefan-boltzmann constant",
    "stefan boltzmann": "stefan-boltzmann constant",
    "gas constant": "ideal gas constant",
    "molar gas constant": "ideal gas constant",
    "faraday": "faraday constant",
    "faraday's constant": "faraday constant",
}


def unit_text_of(q):
    """The descriptive unit part of a quantity's text."""
    return q.descriptive().split(" ", 1)[1]


@pytest.mark.parametrize("name, value, unit_text", ROWS)
def test_every_constant_has_its_value_in_its_parsed_unit(name, value, unit_text):
    q = Tolvat.constant(name)
    assert type(q) is Tolvat
    assert q.as_number() == value
    assert unit_text_of(q) == unit_text_of(U(unit_text))
    assert q.as_number(unit_text) == value


@pytest.mark.parametrize("alias, name", sorted(ALIASES.items()))
def test_every_alias_gives_its_constant(alias, name):
    q = Tolvat.constant(alias)
    expected = Tolvat.constant(name)
    assert q.as_number() == expected.as_number()
    assert q.descriptive() == expected.descriptive()


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


@pytest.mark.parametrize("bad", [None, 1, b"c", ["c"]])
def test_constant_name_must_be_text(bad):
    with pytest.raises(TypeError) as info:
        Tolvat.constant(bad)
    assert info.value.__notes__ == ["while processing 'constant_name'"]


def test_constant_argument_binding_and_encoding():
    with pytest.raises(UnicodeEncodeError) as info:
        Tolvat.constant("c\ud800")
    assert info.value.__notes__ == ["while processing 'constant_name'"]
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

