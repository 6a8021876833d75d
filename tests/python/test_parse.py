"""Tolvat.parse, the strict reading of whole quantity texts, and the members that show a
quantity's parts: value, units, dimension, is_compatible."""

import math
import pathlib
import types
import warnings

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from tolvat import LogTolvat, Tolvat

P = Tolvat.parse
U = Tolvat.unit


def same(q, expected):
    """Same dimension, and the same value in the expected quantity's units."""
    assert q.dimension == expected.dimension, (q, expected)
    got, want = q.as_number(expected), float(expected)
    assert got == pytest.approx(want, rel=1e-13, abs=0.0) or (math.isnan(got) and math.isnan(want)), (q, expected)


@pytest.mark.parametrize("text, kind, message, notes", [
    ("9.81 m/s^x", LookupError, "'x' is not a number or unit at position 9", ["9.81 m/s^x\n         ^"]),
    ("3 furlongz", LookupError, "'furlongz' is not a number or unit at position 2",
     ["3 furlongz\n  ^^^^^^^^", "did you mean 'furlong'?"]),
    ("", ValueError, "empty quantity text at position 0", None),
    ("W/(m2.K", ValueError, "unbalanced '(' at position 2", ["W/(m2.K\n  ^"]),
    ("m/", ValueError, "'/' has nothing after it at position 1", None),
    ("kg.m/s.2", ValueError, "a number cannot follow '.' at position 7", None),
    ("1 5/8 in", ValueError, "a number cannot follow a number at position 2", ["1 5/8 in\n  ^"]),
    ("5 ft 2 s", TypeError, "[ft] and [s] are not compatible", None),
])
def test_failures_name_the_piece_with_a_caret(text, kind, message, notes):
    with pytest.raises(kind) as caught:
        P(text)
    assert str(caught.value) == message
    if notes is not None:
        assert caught.value.__notes__ == notes


def test_arguments():
    import numpy as np

    cases = [  # (call, the message's pattern, the notes it carries)
        (lambda: P(), None, None), (lambda: P(text="m"), None, None), (lambda: P("m", "s"), None, None),
        (lambda: P("m", unit={}), "unexpected keyword", None), (lambda: P(5), None, ["while processing 'text'"]),
        (lambda: P("2 x", units={"x": object()}), None, ["while processing 'units'"]),
        (lambda: P("2 x", units=[1, 2]), None, None),
        (lambda: P("2 x", units={"x": U("m") * np.array([1.0, 2.0])}), "stands for an array", None),
    ]
    for call, message, notes in cases:
        with pytest.raises(TypeError, match=message) as caught:
            call()
        assert notes is None or caught.value.__notes__ == notes, caught.value.__notes__


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


CORPUS = pathlib.Path(__file__).parent / "data" / "quantity_texts.tsv"


def corpus():
    rows = []
    for number, line in enumerate(CORPUS.read_text(encoding="utf-8").splitlines(), 1):
        if line and not line.startswith("#"):
            text, expression = line.split("\t")
            rows.append((number, text, expression))
    return rows


def test_corpus():
    rows = corpus()
    assert len(rows) >= 300
    names = {"U": U, "E": Tolvat.empty()}
    failures = []
    for number, text, expression in rows:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("error")  # nothing is dropped, so nothing is warned of
                q = P(text)
            same(q, eval(expression, names))
        except Exception as error:  # collect them all, then fail once
            failures.append(f"line {number}: {text!r}: {type(error).__name__}: {error}")
    assert not failures, "\n".join(failures)


def catalogue_rows(heading):
    """The (name, symbol) columns of one table of docs/catalogue.md."""
    text = (pathlib.Path(__file__).resolve().parents[2] / "docs" / "catalogue.md").read_text(encoding="utf-8")
    section = text.split(f"## {heading}", 1)[1].split("\n## ", 1)[0]
    rows = []
    for line in section.splitlines():
        cells = [c.strip() for c in line.split("|")]
        if len(cells) > 4 and cells[1].isdigit():
            rows.append((cells[2].strip("`"), cells[3].strip("`")))
    return rows


UNITS = catalogue_rows("Units")
PREFIXES = catalogue_rows("Prefixes")


def reads_back(q, shadowing=True):
    """Tolvat.parse of str(q) and of q.descriptive() give the same value bits and units. A unit
    whose printed symbol is an earlier unit's own (the darcy prints as 'd', the day's symbol)
    reads back as that unit, so the plain form is checked only where Tolvat.unit agrees."""
    plain = str(q)
    number, _, unit_text = plain.partition(" ")
    try:
        printed = U(unit_text[1:-1]) if unit_text != "[]" and shadowing else q
    except LookupError:
        # "myriaA": the search takes "myria" only before names; parse also reads the printed
        # symbol, as the myria of the unit the symbol names.
        assert unit_text.startswith("[myria"), plain
        printed = U(unit_text[6:-1]) * 1e4
    # The printed units read as other units: another dimension, or another size.
    shadowed = shadowing and (not printed.is_compatible(q) or not math.isclose(
        (printed * float(number)).as_number(q.units), q.value, rel_tol=1e-9))
    if not shadowed:
        back = P(plain)
        assert str(back) == plain and back.dimension == q.dimension, (plain, back)
        assert back.value == float(number) or math.isnan(back.value) and math.isnan(float(number)), (plain, back)
    descriptive = q.descriptive()  # leaves q in its simply simplified units
    back = P(descriptive)
    assert back.value == q.value or math.isnan(q.value), (descriptive, back)
    assert back.descriptive() == descriptive and back.dimension == q.dimension


def test_every_table_unit_and_prefix_reads_back():
    assert len(UNITS) > 100 and len(PREFIXES) > 30
    for name, symbol in UNITS:
        reads_back(U(name) * 2.5)
        reads_back(U(symbol) / U("s2") * -0.125)
        for prefix_name, prefix_symbol in PREFIXES:
            for text in (prefix_name + name, prefix_symbol + symbol):
                try:
                    q = U(text)
                except LookupError:
                    continue  # no such unit (offsets take no prefix, "myria" takes only names)
                reads_back(q * 3)


SIMPLE = ["m", "s", "kg", "km", "hr", "N", "J", "W", "K", "mol", "A", "g", "L", "ft", "in", "lb",
          "Pa", "Hz", "min", "mi", "V", "cd", "USD", "mm", "ms", "kWh", "°C"]


def test_random_compound_quantities_read_back():
    import random
    rng = random.Random(25)
    for _ in range(3000):
        q = Tolvat.empty() * rng.choice([1.0, -2.5, 1e-9, 6.02e23, rng.uniform(-1e6, 1e6), rng.lognormvariate(0, 20)])
        for _ in range(rng.randint(1, 4)):
            q = q * U(rng.choice(SIMPLE)) ** rng.choice([1, 1, 2, 3, -1, -2, 0.5, -1.5])
        reads_back(q, shadowing=False)  # these symbols are no other unit's


# Random texts of the grammar, each with the quantity the library's own operators give for it.
ATOMS = ["m", "s", "kg", "km", "hr", "N", "J", "W", "K", "mol", "A", "g", "L", "ft", "in", "lb",
         "Pa", "Hz", "min", "V", "mm", "kWh"]
SUPERSCRIPT = str.maketrans("0123456789-", "⁰¹²³⁴⁵⁶⁷⁸⁹⁻")


@st.composite
def factors(draw, depth):
    """A factor: a unit, or a bracketed expression, with a power in one of its spellings."""
    if depth > 0 and draw(st.booleans()):
        text, value = draw(expressions(depth - 1))
        text = f"({text})"
        bracketed = True
    else:
        name = draw(st.sampled_from(ATOMS))
        text, value = name, U(name)
        bracketed = False
    power = draw(st.sampled_from([1, 1, 1, 2, 3, -1, -2, 0.5, -0.5]))
    if power != 1:
        forms = [f"^{power}", f"**{power}", f"^({power})"]
        if power == int(power):
            forms.append(str(int(power)).translate(SUPERSCRIPT))
            if not bracketed:
                forms.append(str(int(power)))  # trailing digits: m2, s-1
        if power == 0.5:
            forms.append("^(1/2)")
        text += draw(st.sampled_from(forms))
        value = value ** power
    return text, value


@st.composite
def products(draw, depth):
    """Factors joined by the tight products."""
    text, value = draw(factors(depth))
    for _ in range(draw(st.integers(0, 2))):
        t, v = draw(factors(depth))
        text += draw(st.sampled_from([".", "·", " ", " · "])) + t
        value = value * v
    return text, value


@st.composite
def expressions(draw, depth=2):
    """Products joined by '/', '*' and '×', left to right, and 'per'."""
    text, value = draw(products(depth))
    for _ in range(draw(st.integers(0, 2))):
        op = draw(st.sampled_from(["/", " / ", "*", "×", " per "]))
        t, v = draw(products(depth))
        if op == " per ":
            # 'per' divides by everything up to the next 'per': only at the end here.
            return text + op + t, value / v
        text += op + t
        value = value * v if op in ("*", "×") else value / v
    return text, value


@st.composite
def quantity_texts(draw):
    number = draw(st.floats(min_value=-1e6, max_value=1e6, allow_nan=False).filter(lambda x: x != 0))
    text, value = draw(expressions())
    return f"{number!r} {text}", value * number


def huge_units_case():
    """A text whose units are near 1e315 in base units, with the operators' steps for it: the
    value must not be converted through the multipliers of the whole units (inf / inf)."""
    m, g, hr, lb, ft, inch, mn, kWh = map(U, ["m", "g", "hr", "lb", "ft", "in", "min", "kWh"])
    a = m * m / (hr ** 2 * g ** -1)
    b = m * m * (m * lb / ft) / (m * (m / m / m)) / (m * inch * mn * (m ** 2 * mn * m ** -1 * hr ** 3) ** 2)
    c = m * m * (m ** 2 * kWh ** 2 / (m * m * m ** 2) / m) ** 2 / m * (m * (m * hr ** 3) ** 2 * (m * kWh * mn ** 2) ** 2)
    text = ("999999.9999999999 m/m.(m.(m)/(hr^2.g^-1))^3.(m.m.(m.lb/ft)/m.(m/m/m)/(m.in.min).(m^2.min.m^-1*hr^3)^2)^3"
            "*(m.m.(m^2.kWh^2/m.m.m^2/m)^2/m×m.(m.hr^3)^2.(m.kWh.min^2)^2)^3")
    return text, m / (m * a ** 3 * b ** 3) * c ** 3 * 999999.9999999999


@given(quantity_texts())
@example(huge_units_case())
@settings(max_examples=200, deadline=None)
def test_grammar_texts_mean_what_the_operators_give(case):
    text, expected = case
    q = P(text)
    assert q.dimension == expected.dimension, text
    want = float(expected)
    if math.isnan(want):
        # Units beyond 1e308 in base units can make the operators' steps inf / inf in some orders
        # (x * ft / m, where ft / m * x is right); the text's value stays a number even then.
        assert not math.isnan(q.value), text
    else:
        got = q.as_number(expected)
        if math.isfinite(want) and not math.isfinite(got):
            # Two spellings of such units (the text's cancels m with mm where the operators'
            # cancel km) convert into each other through out-of-range sizes; their quotient does not.
            got = float(q / expected) * want
        assert got == pytest.approx(want, rel=1e-9), text


@given(st.floats(allow_nan=False, allow_infinity=False), st.sampled_from(["{!r}", "{:.6g}", "{:f}", "{:_}", "{:.17e}", "{:E}"]))
@settings(max_examples=300, deadline=None)
def test_numbers_read_as_python_reads_them(x, form):
    text = form.format(x)
    assert P(text + " m").value == float(text)
    assert P(text.replace("-", "−") + " s").value == float(text)


def test_threads_parse_at_once_and_read_what_one_thread_reads():
    import threading

    texts = [row[1] for row in corpus()][:60]
    expected = [str(P(t)) for t in texts]
    q = U("km/hr") * 90
    results, errors = {}, []
    start = threading.Barrier(4)

    def work(k):
        try:
            start.wait()
            for _ in range(20):
                got = [str(P(t)) for t in texts]  # each thread's memo fills and serves
                assert q.dimension == {"m": 1, "s": -1} and q.is_compatible("m/s") and q.value == 90.0
            results[k] = got
        except Exception as error:  # reported below, with the thread's own failure
            errors.append(error)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert all(results[k] == expected for k in range(4))
