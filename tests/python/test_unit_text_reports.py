"""Unit text that is not read as written: the UserWarning for dropped pieces (the results stay
as the lenient parse gives them), the note on texts that name nothing, and the operators that
meet such texts."""

import warnings

import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
L = LogTolvat.unit
HINT = "write products with '.', one '/', and powers as trailing digits"


def warned(call):
    """The result of `call` and the messages of the UserWarnings it issued."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    assert all(w.category is UserWarning for w in caught)
    return result, [str(w.message) for w in caught]


@pytest.mark.parametrize("text, reads_as, message", [
    ("km/h", "1 [km]", "'km/h': 'h' names no unit and was ignored; did you mean 'hr'?"),
    ("kg/m^3", "1 [kg]", f"'kg/m^3': 'm^3' names no unit and was ignored; {HINT}: 'kg/m3'"),
    ("W/(m2.K)", "1 [W]", f"'W/(m2.K)': '(m2' and 'K)' name no unit and were ignored; {HINT}: 'W/m2.K'"),
    ("m/s²", "1 [m]", f"'m/s²': 's²' names no unit and was ignored; {HINT}: 'm/s2'"),
    ("kg m/s2", "1 [1/s2]", f"'kg m/s2': 'kg m' names no unit and was ignored; {HINT}: 'kg.m/s2'"),
    ("Mbit/s", "1 [1/s]", "'Mbit/s': 'Mbit' names no unit and was ignored"),
    ("m.s-1", "1 [m]", f"'m.s-1': 's-1' names no unit and was ignored; {HINT}: 'm/s'"),
    ("W/m²·K", "1 [W]", f"'W/m²·K': 'm²·K' names no unit and was ignored; {HINT}: 'W/m2.K'"),
    ("km/h^2", "1 [km]", f"'km/h^2': 'h^2' names no unit and was ignored; {HINT}: 'km/hr2'"),
    ("mi/hrs2.foo", "1 [mi]",
     "'mi/hrs2.foo': 'hrs2' and 'foo' name no unit and were ignored; did you mean 'hr2' for 'hrs2' and 'foot' for 'foo'?"),
    ("degree celsius/s", "1 [1/s]",
     "'degree celsius/s': 'degree celsius' names no unit and was ignored; did you mean 'degree Celsius'?"),
    ("sq ft/s", "1 [1/s]", "'sq ft/s': 'sq ft' names no unit and was ignored; did you mean 'ft2'?"),
    ("N.m2/s.2", "1 [N.m2/s]", "'N.m2/s.2': '2' names no unit and was ignored"),
])
def test_dropped_pieces_warn_once_and_leave_the_result_as_it_was(text, reads_as, message):
    q, messages = warned(lambda: U(text))
    assert messages == [message]
    assert str(q) == reads_as


def test_texts_that_lose_nothing_do_not_warn():
    for text in ("m/s", "1/s", "/s", "m..s", "  m  ", "degree Celsius/s", "fl oz (imp)", "km/hr"):
        _, messages = warned(lambda: U(text))
        assert messages == [], text


def test_every_operation_that_reads_a_text_warns_once_also_on_a_cache_hit():
    q = U("km") * 2
    operations = [
        lambda: U("km/h"),
        lambda: q.as_unit("km/h"),
        lambda: q.as_number("km/h"),
        lambda: q.as_number("km/h", scale=True),
        lambda: q.__div__("km/h"),
        lambda: q.__rdiv__("km/h"),
        lambda: q * "km/h",
        lambda: "km/h" * q,
        lambda: q + "km/h",
        lambda: "km/h" - q,
        lambda: q / "km/h",
        lambda: q == "km/h",
        lambda: "km/h" < q,
        lambda: Tolvat.custom("leg", "lg", "km/h"),
    ]
    expected = "'km/h': 'h' names no unit and was ignored; did you mean 'hr'?"
    for operation in operations:
        for _ in range(3):  # the same text again is a hit in the parse cache
            _, messages = warned(operation)
            assert messages == [expected]
    # Results are those of the lenient parse: the text is one kilometre.
    assert warned(lambda: q + "km/h")[0].as_number() == 3.0
    assert warned(lambda: q == "km/h")[0] is False


def test_the_filter_error_raises_the_warning_from_every_entry():
    q = U("km")
    calls = [
        lambda: U("km/h"),
        lambda: q.as_unit("km/h"),
        lambda: q.__div__("km/h"),
        lambda: Tolvat.custom("leg", "lg", "km/h"),
        lambda: q * "km/h",
        lambda: "km/h" * q,
        lambda: q + "km/h",
        lambda: q ** "km/h",
        lambda: q == "km/h",
        lambda: q != "km/h",
        lambda: "km/h" > q,
    ]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for call in calls:
            with pytest.raises(UserWarning, match="'h' names no unit"):
                call()
        # Texts that lose nothing are unaffected.
        assert (q * "hr").as_number() == 1.0
        assert q == "km"
    # Nothing was left held by the raising calls.
    q.simplify_inplace()


@pytest.mark.parametrize("call, message, advice", [
    (lambda: U("meters"), "Unit meters not found", ["did you mean 'meter'?"]),
    (lambda: U("kg*m/s^2"), "Unit kg*m/s^2 not found", [f"{HINT}: 'kg.m/s2'"]),
    (lambda: U("m/s/s"), "Unit m/s/s not found", [f"{HINT}: 'm/s2'"]),
    (lambda: U("kmeter"), "Unit kmeter not found", ["did you mean 'kilometer'?"]),
    (lambda: U("mph"), "Unit mph not found", ["did you mean 'mi/hr'?"]),
    (lambda: U("h"), "Unit h not found", ["did you mean 'hr'?"]),
    (lambda: U("degC"), "Unit degC not found", ["did you mean '°C'?"]),
    (lambda: U("dB"), "Unit dB not found", []),  # case alone is no advice in two letters: db is the decibarn
    (lambda: U("xyzzy"), "Unit xyzzy not found", []),
    (lambda: U("m/m"), "Unit m/m not found", []),
    (lambda: U(""), "Unit  not found", []),
    (lambda: U("m").as_unit("meters"), "Unit meters not found", ["while processing 'other'", "did you mean 'meter'?"]),
    (lambda: U("m").__rdiv__("s^-1"), "Unit s^-1 not found", ["while processing 'other'", f"{HINT}: '1/s'"]),
    (lambda: Tolvat.custom("a", "b", "furlongs"), "Unit furlongs not found",
     ["while processing 'definition'", "did you mean 'furlong'?"]),
    (lambda: L("decibels"), "Logarithmic ratio unit decibels not found", ["did you mean 'decibel'?"]),
    (lambda: L("db"), "Logarithmic ratio unit db not found", ["did you mean 'dB'?"]),
    (lambda: L("km"), "Logarithmic ratio unit km not found", []),
    (lambda: Tolvat.constant("Planck"), "Constant Planck not found", ["did you mean 'planck'?"]),
    (lambda: Tolvat.constant("speed of ligt"), "Constant speed of ligt not found", ["did you mean 'speed of light'?"]),
    (lambda: Tolvat.constant("G"), "Constant G not found", []),
])
def test_not_found_keeps_its_message_and_notes_the_advice(call, message, advice):
    with pytest.raises(LookupError) as info:
        call()
    assert type(info.value) is LookupError
    assert info.value.args == (message,)
    assert getattr(info.value, "__notes__", []) == advice


def test_operators_still_decline_texts_that_name_nothing():
    q = U("m")
    for op in (lambda: q * "meters", lambda: "meters" * q, lambda: q < "meters"):
        with pytest.raises(TypeError):
            op()
    assert (q == "meters") is False
