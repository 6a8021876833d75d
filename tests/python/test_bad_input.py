"""Hostile input against every method and operator of Tolvat and LogTolvat.

Each call either returns or raises exactly what its argument's conversion documents, with the
documented message and the note naming the argument; a failed call leaves every object as it was,
and every object still accepts an exclusive call afterwards. The expected outcome is worked out
per argument by the rules of the conversions (text, unit operand, number operand, LogTolvat,
32-bit count, bool), not recorded from the implementation."""

import decimal
import fractions
import functools
import math
import struct
import subprocess
import sys

import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit
L = LogTolvat.unit
INT32 = (-(2**31), 2**31 - 1)
MB = 1 << 20
LONG = 1 << 16  # long texts in the full matrix; the megabyte ones get their own test

# Many hostile texts lose pieces and so warn; the warning has tests of its own.
pytestmark = pytest.mark.filterwarnings("ignore::UserWarning")

# ---- hostile values --------------------------------------------------------------------------


class RaisingStr:
    def __str__(self):
        raise ValueError("no text")


class NonStrStr:
    def __str__(self):
        return 42


class SurrogateStr:
    def __str__(self):
        return "bad\udc80text"


class Indexable:
    """Usable as an index and as a float, and still no int."""

    def __index__(self):
        return 3

    def __float__(self):
        return 3.0

    def __str__(self):
        return "indexable"


class RaisingEq:
    def __eq__(self, other):
        raise ZeroDivisionError("eq")

    __ne__ = __lt__ = __le__ = __gt__ = __ge__ = __eq__
    __hash__ = None


class OddFloat(float):
    def __float__(self):
        raise AssertionError("never called")

    def __str__(self):
        raise AssertionError("never called")


class OddInt(int):
    def __index__(self):
        raise AssertionError("never called")

    __int__ = __float__ = __index__


class OddStr(str):
    # Reached only by Python's own fallback when a comparison slot declines.
    def __eq__(self, other):
        raise ZeroDivisionError("eq")

    __hash__ = str.__hash__


def unicode_digits_and_spaces():
    chars = [chr(c) for c in range(sys.maxunicode + 1) if chr(c).isdigit() or chr(c).isspace()]
    assert len(chars) > 700
    return "".join(chars)


HOSTILE = [
    None, [], [1], {}, {"m": 1}, (), b"m", bytearray(b"km"), complex(1, 2), decimal.Decimal("1.5"),
    fractions.Fraction(1, 3), object(), Tolvat, len, 2**31, -(2**31) - 1, 2**63, 10**400, -(10**400),
    float("nan"), float("inf"), float("-inf"), -0.0, 5e-324, 1.7976931348623157e308, True, False,
    "", " ", "\t\n\r\x0b\x0c", "\u3000", "\x00", "m\x00", "\x00m", "\ud800", "m\udfff", "k\udc80m",
    "." * LONG, "/" * LONG, "1" * LONG, "m" * LONG, "m." * (LONG // 2), " " * LONG, "m" + "9" * 400,
    "m-1", "m1e400", "m2.m-2", "mnan", "minf", "m.", "/m", "m//s", "°", "µ", "Ω", "\ufeffm",
    RaisingStr(), NonStrStr(), SurrogateStr(), RaisingEq(), Indexable(),
    OddFloat(2.5), OddInt(3), OddStr("km"), OddStr("nonsense"), OddStr("k\udc80m"),
    L("dB") * 20, U("m") * 2, U("s"), Tolvat.empty() * 3,
]


def label(x):
    text = repr(x) if not isinstance(x, str) or len(x) < 40 else f"str[{len(x)}]{x[:8]!r}"
    return text[:60]


# ---- what each conversion documents ---------------------------------------------------------


def described(x):
    """Python's str() of an operand as a message shows it."""
    try:
        text = str(x)
    except Exception:
        return f"<unprintable {type(x).__name__} object>"
    if not isinstance(text, str):  # pragma: no cover - str() never returns a non-str
        return f"<unprintable {type(x).__name__} object>"
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


def describable(x):
    try:
        return isinstance(str(x), str)
    except Exception:
        return False


def has_surrogate(text):
    return any(0xD800 <= ord(c) <= 0xDFFF for c in text)


def parses(text):
    try:
        U(text)
        return True
    except LookupError:
        return False


class Expect:
    """One documented outcome: an exception type and, where fixed, its exact message."""

    def __init__(self, exc_type, message=None, note=None, prefix=None, suffix=None):
        self.exc_type, self.message, self.note, self.prefix, self.suffix = exc_type, message, note, prefix, suffix

    def matches(self, exc):
        if type(exc) is not self.exc_type:
            return False
        if self.message is not None and str(exc) != self.message:
            return False
        if self.prefix is not None and not str(exc).startswith(self.prefix):
            return False
        if self.suffix is not None and not str(exc).endswith(self.suffix):
            return False
        # The argument note comes first; a text that names no unit may add advice after it.
        notes = getattr(exc, "__notes__", None) or []
        if self.note is not None and (notes[:1] != [f"while processing '{self.note}'"] or
                                      (len(notes) > 1 and self.exc_type is not LookupError)):
            return False
        return True

    def __repr__(self):
        return f"{self.exc_type.__name__}({self.message!r}, note={self.note!r})"


OK = "ok"


def text_rule(x, note, not_found):
    if not isinstance(x, str):
        return Expect(TypeError, f"'{type(x).__name__}' object cannot be converted to 'PyString'", note) \
            if type(x).__module__ == "builtins" else Expect(TypeError, None, note)
    if has_surrogate(x):
        return Expect(UnicodeEncodeError, None, note)
    return [OK, Expect(LookupError, not_found.format(x))]


def unit_operand_rule(x, note):
    """Quantity, LogTolvat, float, int, unit text; anything else cannot be coerced."""
    if isinstance(x, (Tolvat, LogTolvat, float)):
        return OK
    if isinstance(x, int):
        return OK if abs(x) < 2**1024 else Expect(OverflowError, "int too large to convert to float", note)
    if isinstance(x, str):
        if has_surrogate(x):
            return Expect(UnicodeEncodeError, None, note)
        return OK if parses(x) else Expect(LookupError, f"Unit {x} not found", note)
    return Expect(TypeError, f"{described(x)} cannot be coerced into a unit", note)


def number_operand_rule(x, note):
    if isinstance(x, (LogTolvat, float)):
        return OK
    if isinstance(x, int):
        return OK if abs(x) < 2**1024 else Expect(OverflowError, "int too large to convert to float", note)
    return Expect(TypeError, f"{described(x)} cannot be coerced into a number", note)


def log_rule(x, note):
    if isinstance(x, LogTolvat):
        return OK
    return Expect(TypeError, None, note)


def int32_rule(x, note, none_ok=False):
    if x is None and none_ok:
        return OK
    if not isinstance(x, int):
        return Expect(TypeError, None, note)
    if not INT32[0] <= x <= INT32[1]:
        return Expect(OverflowError, "out of range integral type conversion attempted", note)
    return OK


def bool_rule(x, note):
    return OK if isinstance(x, bool) else Expect(TypeError, f"'{type(x).__name__}' object cannot be converted to 'PyBool'"
                                               if type(x).__module__ == "builtins" else None, note)


def incompatible():
    return Expect(TypeError, None, prefix="[")  # "<units> and <units> are not compatible"


# ---- running one call ------------------------------------------------------------------------


def bits(x):
    return struct.unpack("<q", struct.pack("<d", x))[0]


def state(obj):
    if isinstance(obj, Tolvat):
        return bits(obj.as_number()), obj.as_base_units().as_number().hex()
    return bits(obj.as_number()), bits(float(obj))


def usable(obj):
    # An exclusive call goes through: nothing was left held.
    if isinstance(obj, Tolvat):
        obj.simplify_inplace()
        str(obj)
    else:
        obj.round_sfig(3)


@pytest.fixture(autouse=True)
def quiet_unraisable(monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    return reports


def check(call, expected, objects, what):
    """Runs `call`; its outcome must be one of `expected` (OK or Expect); on failure the objects
    are unchanged; afterwards they are free."""
    options = expected if isinstance(expected, list) else [expected]
    before = [state(o) for o in objects]
    try:
        call()
        outcome = None
    except BaseException as exc:  # noqa: BLE001 - everything is compared below
        outcome = exc
    if outcome is None:
        assert OK in options, f"{what}: returned, expected {options}"
    else:
        assert any(o != OK and o.matches(outcome) for o in options), (
            f"{what}: {type(outcome).__name__}({str(outcome)[:200]!r}) "
            f"notes={getattr(outcome, '__notes__', None)}, expected {options}")
        assert [state(o) for o in objects] == before, f"{what}: a failed call changed an object"
    for o in objects:
        usable(o)


# ---- the tests ---------------------------------------------------------------------------------


def quantities():
    """Fresh quantities for one argument: one with units that simplify, one dimensionless, and
    a logarithmic one."""
    return (U("m") * 3.5).as_unit("ft2/m"), Tolvat.empty() * 2, L("dB") * 20


@pytest.mark.parametrize("x", HOSTILE, ids=label)
def test_class_methods(x):
    check(lambda: U(x), text_rule(x, "unit_name_or_symbol", "Unit {} not found"), [], "unit")
    check(lambda: U(unit_name_or_symbol=x), text_rule(x, "unit_name_or_symbol", "Unit {} not found"), [], "unit kw")
    check(lambda: Tolvat.constant(x), text_rule(x, "constant_name", "Constant {} not found"), [], "constant")
    check(lambda: L(x), text_rule(x, "unit_name_or_symbol", "Logarithmic ratio unit {} not found"), [], "log unit")
    name_rule = text_rule(x, "name", "")
    check(lambda: Tolvat.custom(x, "a", 1), OK if isinstance(x, str) and not has_surrogate(x) else name_rule, [], "custom name")
    abbr_rule = text_rule(x, "abbr", "")
    check(lambda: Tolvat.custom("a", x, 1), OK if isinstance(x, str) and not has_surrogate(x) else abbr_rule, [], "custom abbr")
    check(lambda: Tolvat.custom("a", "a", x), unit_operand_rule(x, "definition"), [], "custom definition")


@pytest.mark.parametrize("x", HOSTILE, ids=label)
def test_tolvat_methods(x):
    q, d, _ = quantities()
    for target in (q, d):
        unit = unit_operand_rule(x, "other")
        with_dims = [unit, incompatible()] if unit == OK else unit
        check(lambda: target.as_unit(x), with_dims, [target], "as_unit")
        check(lambda: target.as_unit(other=x), with_dims, [target], "as_unit kw")
        check(lambda: target.as_number(x), with_dims if x is not None else OK, [target], "as_number")
        check(lambda: target.__div__(x), unit, [target], "__div__")
        check(lambda: target.__rdiv__(x), unit, [target], "__rdiv__")
        check(lambda: target.as_number("m" if target is q else 1, scale=x), bool_rule(x, "scale"), [target], "scale")
        # `other` (None is no other) is taken first, then `scale`; a bool that passes both is a
        # dimensionless number.
        both = unit if unit != OK and x is not None else bool_rule(x, "scale")
        if both == OK:
            both = OK if target is d else incompatible()
        check(lambda: target.as_number(x, x), both, [target], "as_number 2")
        check(lambda: target.round_sfig(x), int32_rule(x, "n_sig_figs"), [target], "round_sfig")
        check(lambda: round(target, x), int32_rule(x, "ndigits", none_ok=True), [target], "round")
        check(lambda: target.__round__(ndigits=x), int32_rule(x, "ndigits", none_ok=True), [target], "__round__")
        if isinstance(x, str):
            check(lambda: format(target, x), [OK, Expect(ValueError)], [target], "format")
        else:
            check(lambda: target.__format__(x), Expect(TypeError, None, "format_spec"), [target], "__format__")


OPERATORS = [
    ("+", lambda a, b: a + b), ("-", lambda a, b: a - b), ("*", lambda a, b: a * b), ("/", lambda a, b: a / b),
    ("**", lambda a, b: a ** b), ("pow3", lambda a, b: pow(a, 2, b)),
    ("==", lambda a, b: a == b), ("!=", lambda a, b: a != b), ("<", lambda a, b: a < b), ("<=", lambda a, b: a <= b),
    (">", lambda a, b: a > b), (">=", lambda a, b: a >= b),
]


def operator_outcomes(x):
    """Operators never raise a conversion error: a slot that cannot use the operand declines, and
    Python raises its own TypeError. A usable operand of the wrong dimension raises
    IncompatibleUnits (a TypeError); an operand's own methods may raise what they raise."""
    outcomes = [OK, Expect(TypeError)]
    if isinstance(x, (RaisingEq, OddStr)):
        outcomes.append(Expect(ZeroDivisionError, "eq"))
    if isinstance(x, (float, int)) and not isinstance(x, bool):
        outcomes.append(Expect(OverflowError))  # float ** float, as Python's own floats raise
    if isinstance(x, float) and not math.isfinite(x):  # the feet of the first quantity to that power
        outcomes.append(Expect(ValueError, f"cannot raise [ft] to a non-finite power {'NaN' if x != x else x}"))
    return outcomes


@functools.cache
def decimal_modulus_crashes():
    """Whether this interpreter crashes on pow() whose modulus alone is a Decimal (CPython 3.13.0
    does, whatever the other operands are); such a call cannot be made there."""
    probe = "import decimal\ntry: pow(object(), 2, decimal.Decimal(1))\nexcept TypeError: pass"
    return subprocess.run([sys.executable, "-c", probe], capture_output=True).returncode != 0


@pytest.mark.parametrize("x", HOSTILE, ids=label)
def test_operators_both_ways(x):
    objects = list(quantities())
    outcomes = operator_outcomes(x)
    for target in objects:
        for name, op in OPERATORS:
            if not (name == "pow3" and isinstance(x, decimal.Decimal) and decimal_modulus_crashes()):
                check(lambda: op(target, x), outcomes, objects, f"q {name} x")
            # On the left, the operand's own type goes first and may raise its own errors.
            own = [Expect(ValueError, "complex modulo")] if isinstance(x, complex) and name == "pow3" else []
            check(lambda: op(x, target), outcomes + own, objects, f"x {name} q")


@pytest.mark.parametrize("x", HOSTILE, ids=label)
def test_log_tolvat_methods(x):
    _, _, g = quantities()
    check(lambda: g.as_unit(x), log_rule(x, "other"), [g], "as_unit")
    check(lambda: g.as_number(x), OK if x is None else log_rule(x, "other"), [g], "as_number")
    check(lambda: g.__div__(x), number_operand_rule(x, "other"), [g], "__div__")
    check(lambda: g.__rdiv__(x), number_operand_rule(x, "other"), [g], "__rdiv__")
    check(lambda: g.round_sfig(x), int32_rule(x, "n_sig_figs"), [g], "round_sfig")
    check(lambda: round(g, x), int32_rule(x, "ndigits", none_ok=True), [g], "round")
    if isinstance(x, str):
        check(lambda: format(g, x), [OK, Expect(ValueError)], [g], "format")
    else:
        check(lambda: g.__format__(x), Expect(TypeError, None, "format_spec"), [g], "__format__")


def test_argument_shapes():
    q, d, g = quantities()
    wrong = [
        lambda: U(), lambda: U("m", "s"), lambda: U(unit="m"), lambda: U("m", unit_name_or_symbol="m"),
        lambda: q.as_unit(), lambda: q.as_unit("m", "s"), lambda: q.as_unit(**{"\ud800": 1}),
        lambda: q.as_unit(**{"other\x00": 1}), lambda: q.simplify(1), lambda: q.latex(x=1),
        lambda: q.as_number("m", True, 1), lambda: q.round_sfig(), lambda: Tolvat.empty(1),
        lambda: Tolvat.custom("a", "b"), lambda: g.as_number(1, 2), lambda: g.log(1), lambda: L(),
        lambda: Tolvat(), lambda: LogTolvat(), lambda: hash(q), lambda: hash(g),
    ]
    for call in wrong:
        check(call, Expect(TypeError), [q, d, g], "argument shape")


def python_outcome(call):
    """What Python's own float operation gives: OK, or its exception as an Expect."""
    try:
        call()
        return OK
    except Exception as exc:
        return Expect(type(exc), str(exc))


EXTREME_VALUES = [float("nan"), float("inf"), float("-inf"), 0.0, -0.0, 5e-324, 1.7976931348623157e308, -1e300]
POWER_BASES = [("m", False), ("km.m/ft", False), ("N.m.kg/J", False), ("rad", True)]


def extreme_quantities():
    """(quantity, whether it is dimensionless): NaN, infinite, subnormal and huge values, huge,
    tiny and whole powers, and a product of 25 prefixed units."""
    made = [(U("m") * v, False) for v in EXTREME_VALUES] + [(Tolvat.empty() * v, True) for v in EXTREME_VALUES]
    for power in (1e300, -1e300, 2.0**31, 0.5, -0.0, 1e-320, 400.0):
        made += [(U(base) ** power, dimensionless or power == 0) for base, dimensionless in POWER_BASES]
    made.append((U(".".join(p + u for p in ("k", "M", "m", "µ", "G") for u in ("m", "g", "s", "A", "K"))), False))
    return made + [(L(u) * v, True) for u in ("dB", "B", "Np", "stn") for v in EXTREME_VALUES]


def test_nan_and_infinite_powers_of_units_raise_value_error():
    """No unit has a NaN or infinite power, so raising units to one fails with a ValueError naming
    them; every way of writing the exponent, and the reflected power, says the same. The base is
    left as it was."""
    nan, inf = float("nan"), float("inf")
    units_text = {"m": "[m]", "km.m/ft": "[km.m/ft]", "N.m.kg/J": "[N.kg.m/J]", "rad": "[rad]"}
    for base, _ in POWER_BASES:
        shown = units_text[base]
        for power, text in ((nan, "NaN"), (inf, "inf"), (-inf, "-inf")):
            q = U(base)
            for call in (lambda: q ** power, lambda: q ** (Tolvat.empty() * power), lambda: pow(q, power, 7),
                         lambda: base ** (Tolvat.empty() * power)):
                with pytest.raises(ValueError) as info:
                    call()
                assert info.value.args == (f"cannot raise {shown} to a non-finite power {text}",)
            assert repr(q) == repr(U(base))
            usable(q)
    with pytest.raises(ValueError, match=r"^cannot raise \[m\] to a non-finite power inf$"):
        U("m") ** (L("dB") * inf)  # a logarithmic exponent counts by its ratio


def test_unit_powers_that_overflow_raise_value_error():
    """Finite exponents whose unit powers, or whose dimension, leave the range of a double fail
    with a ValueError naming the operands, whichever operator or operand kind makes them; the
    operands are left as they were, and results just inside the range are kept."""
    def digits(zeros):
        return "1" + "0" * zeros

    m300, m308 = U("m") ** 1e300, U("m") ** 1e308
    big = Tolvat.custom("big", "bg", m308)  # one unit of dimension m ** 1e308
    cases = [
        (lambda: m300 ** 1e300, f"[m{digits(300)}] ** {digits(300)}"),
        (lambda: pow(m300, Tolvat.empty() * -1e300, 3), f"[m{digits(300)}] ** -{digits(300)}"),
        (lambda: (U("km.m/ft") ** 1e300) ** 1e300, f"[m{digits(300)}] ** {digits(300)}"),
        (lambda: U("N") ** 1e308, f"[N] ** {digits(308)}"),  # its seconds: -2e308
        (lambda: "N" ** (Tolvat.empty() * 1e308), f"[N] ** {digits(308)}"),
        (lambda: m308 * m308, f"[m{digits(308)}] * [m{digits(308)}]"),
        (lambda: m308 / U("m") ** -1e308, f"[m{digits(308)}] / [1/m{digits(308)}]"),
        (lambda: U("rad") ** 1e308 * U("rad") ** 1e308, f"[rad{digits(308)}] * [rad{digits(308)}]"),
        (lambda: m308 * U("ft") ** 1e308, f"[m{digits(308)}] * [ft{digits(308)}]"),
        (lambda: big * big, "[bg] * [bg]"),
        (lambda: big.__rdiv__(big ** -1), "[1/bg] / [bg]"),
    ]
    # One that merges a pair on the way (seconds against minutes) while its radians overflow.
    with pytest.raises(ValueError, match=r"^unit power overflow: \[rad1000"):
        (U("rad") ** 1e308 * U("s")) * (U("rad") ** 1e308 / U("min"))
    for call, operation in cases:
        with pytest.raises(ValueError) as info:
            call()
        assert info.value.args == ("unit power overflow: " + operation,)
    for q, text in ((m300, f"1 [m{digits(300)}]"), (m308, f"1 [m{digits(308)}]"), (big, "1 [bg]")):
        assert str(q) == text
        usable(q)
    # Just inside the range: what the powers and dimensions add up to, exactly.
    assert U("m") ** 1e308 * U("m") ** 7e307 == U("m") ** (1e308 + 7e307)
    assert (U("m") ** 1e200) ** 1e100 == U("m") ** 1e300
    assert (U("N") ** 8e307).as_base_units() == U("kg.m") ** 8e307 / U("s") ** 1.6e308


def extreme_outcome(name, q, dimensionless):
    """The one outcome each method must give on an extreme quantity."""
    if name in ("as_unitless", "exp", "log", "log10", "self**") and not dimensionless:
        # Needs a dimensionless quantity (self**: the exponent).
        return Expect(TypeError, suffix="] and [] are not compatible")
    if name == "int":
        return python_outcome(lambda: int(float(q)))  # exact and unbounded, like int() of a float
    if name == "round_sfig":
        v = float(q) if isinstance(q, LogTolvat) else q.as_number()
        if math.isfinite(v) and v != 0:  # zero, infinities and NaN come back unchanged
            return python_outcome(lambda: round(v, 2 - math.floor(math.log10(abs(v)))))
    return OK


EXTREME_METHODS = {
    "str": str, "repr": repr, "latex": lambda q: q.latex(), "descriptive": lambda q: q.descriptive(),
    "round": round, "round2": lambda q: round(q, 2), "round-400": lambda q: round(q, -400),
    "round400": lambda q: round(q, 400), "round_sfig": lambda q: q.round_sfig(3),
    "as_unitless": lambda q: q.as_unitless(), "as_base_units": lambda q: q.as_base_units(),
    "simplify": lambda q: q.simplify(), "simplify_inplace": lambda q: q.simplify_inplace(),
    "float": float, "int": int, "bool": bool, "neg": lambda q: -q, "pos": lambda q: +q, "abs": abs,
    "exp": lambda q: q.exp(), "log": lambda q: q.log(), "log10": lambda q: q.log10(),
    "self+": lambda q: q + q, "self*": lambda q: q * q, "self/": lambda q: q / q, "self**": lambda q: q ** q,
    "self==": lambda q: q == q, "self<": lambda q: q < q, "as_number": lambda q: q.as_number(q, scale=True),
    "format": lambda q: format(q, ".3e"), "as_unit_self": lambda q: q.as_unit(q),
}
TOLVAT_ONLY = {"descriptive", "latex", "as_base_units", "simplify", "simplify_inplace", "as_unit_self", "as_number"}


def test_every_method_on_extreme_quantities():
    """Every method answers with its result, IEEE values included; the errors are those of a
    quantity that is not dimensionless, and those Python's own int() and round() of the value give."""
    for q, dimensionless in extreme_quantities():
        for name, method in EXTREME_METHODS.items():
            if isinstance(q, LogTolvat) and name in TOLVAT_ONLY:
                continue
            # In-place methods may rewrite a Tolvat; only failures must leave it alone.
            what = f"{name} of {q!r}" if name not in ("str", "repr") else name
            check(lambda: method(q), extreme_outcome(name, q, dimensionless), [], what)
            usable(q)


def c_pow(x, y):
    """pow() of the C library, which never raises."""
    try:
        return math.pow(x, y)
    except OverflowError:
        return math.copysign(math.inf, x) if y == int(y) and int(y) % 2 else math.inf
    except ValueError:
        return math.inf if x == 0 else math.nan


def test_dimensionless_numbers_to_any_power_are_ieee_results():
    nan, inf = float("nan"), float("inf")
    # U("m") ** 0 keeps the metre at power zero: no unit, so a plain number too.
    for base in (Tolvat.empty() * 2, Tolvat.empty() * 0.5, Tolvat.empty() * 0, U("km") / U("km"), U("m") ** 0):
        value = base.as_number()
        for power in (nan, inf, -inf, 1e308, -0.0):
            expected = c_pow(value, power)
            for result in (base ** power, base ** (Tolvat.empty() * power), value ** (Tolvat.empty() * power)):
                got = result.as_unitless()
                assert got == expected or (math.isnan(got) and math.isnan(expected)), (value, power, got)


def test_unicode_digits_and_spaces_as_unit_texts():
    chars = unicode_digits_and_spaces()
    q = U("m")
    for ch in chars:
        for text in (ch, "m" + ch, ch + "m", "m" + ch + "s", "km/" + ch):
            for call, message in ((U, "Unit {} not found"), (Tolvat.constant, "Constant {} not found"),
                                  (L, "Logarithmic ratio unit {} not found")):
                check(lambda: call(text), [OK, Expect(LookupError, message.format(text))], [], repr(text))
            check(lambda: q.as_unit(text), [OK, incompatible(), Expect(LookupError, f"Unit {text} not found", "other")],
                  [q], repr(text))


def test_megabyte_texts():
    q = U("m")
    for text in ("." * MB, "/" * MB, "1" * MB, "m" * MB, " " * MB, "x" * MB, "m/" * (MB // 2) + "x",
                 "m." * (MB // 2), "km/" * (MB // 3)):
        unit = [OK, Expect(LookupError, f"Unit {text} not found")]
        check(lambda: U(text), unit, [], "unit")
        check(lambda: Tolvat.constant(text), Expect(LookupError, f"Constant {text} not found"), [], "constant")
        check(lambda: L(text), Expect(LookupError, f"Logarithmic ratio unit {text} not found"), [], "log unit")
        check(lambda: q.as_unit(text), unit_operand_rule(text, "other") if not parses(text)
              else [OK, incompatible()], [q], "as_unit")
        check(lambda: q * text, [OK, Expect(TypeError)], [q], "operator")
        check(lambda: Tolvat.custom(text, text, text), [OK, Expect(LookupError, f"Unit {text} not found", "definition")],
              [], "custom")
