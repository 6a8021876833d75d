"""Python code that runs while a call holds a quantity, and calls back into that quantity.

A call holds its object (shared access for reading calls, exclusive access for the in-place,
text and rounding methods) from start to end, and some steps inside run arbitrary Python code:

- describing an operand of no accepted kind for the error message (its str(); the str it returns
  being released, which may run a __del__; the unraisable hook when str() raises);
- the truth value of a NumPy-style boolean given as `scale`, and `add_note` of the exception it
  raises;
- the garbage collector, which an allocation inside the call may start (gc callbacks, finalizers).

Whatever that code does to the held object gets the documented RuntimeError ("Already borrowed"
for an exclusive call, "Already mutably borrowed" for a reading call while the object is held
exclusively) or, for a nested reading call under shared access, simply works; the object is left
exactly as it was. Hooks the binding never calls (__float__ and __index__ of float and int
subclasses, __str__ of str subclasses) indeed never run: the stored value is used.
"""

import contextlib
import gc
import struct
import sys

import pytest

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit


@contextlib.contextmanager
def raises(exc_type, message):
    """Like pytest.raises, with the exact message (notes aside)."""
    with pytest.raises(exc_type) as info:
        yield info
    assert str(info.value) == message


def bits(x):
    return struct.unpack("<q", struct.pack("<d", x))[0]


def fresh():
    """A quantity whose units the in-place methods would rewrite (so a change would show)."""
    return (U("m") * 3.5).as_unit("ft2/m")


def state(q):
    return bits(q.as_number()), bits(q.as_base_units().as_number())


def attempt(call):
    """The outcome of a call back into the quantity: its result, or the RuntimeError text."""
    try:
        return ("ok", call())
    except RuntimeError as exc:
        return ("RuntimeError", str(exc))


EXCLUSIVE = {
    "simplify_inplace": lambda q: q.simplify_inplace(),
    "str": str,
    "repr": repr,
    "latex": lambda q: q.latex(),
    "descriptive": lambda q: q.descriptive(),
    "round": round,
    "round_sfig": lambda q: q.round_sfig(2),
    "format": lambda q: format(q, ".2f"),
}
READING = {
    "as_number": lambda q: q.as_number(),
    "as_base_units": lambda q: q.as_base_units(),
    "add": lambda q: q + q,
    "eq": lambda q: q == q,
    "simplify": lambda q: q.simplify(),
    "float": float,
}

# Methods that hold the quantity while describing an operand of no accepted kind.
DESCRIBING = {
    "as_unit": lambda q, x: q.as_unit(x),
    "as_number": lambda q, x: q.as_number(x),
    "__div__": lambda q, x: q.__div__(x),
    "__rdiv__": lambda q, x: q.__rdiv__(x),
}


class CallsBack:
    """An operand of no accepted kind whose str() calls `back` on the quantity."""

    def __init__(self, q, back):
        self.q, self.back, self.seen = q, back, []

    def __str__(self):
        self.seen.append(attempt(lambda: self.back(self.q)))
        return "callback"


@pytest.mark.parametrize("method", sorted(DESCRIBING))
@pytest.mark.parametrize("back", sorted(EXCLUSIVE))
def test_exclusive_call_from_str_of_an_operand_is_refused(method, back):
    q = fresh()
    before = state(q)
    operand = CallsBack(q, EXCLUSIVE[back])
    with pytest.raises(TypeError) as info:
        DESCRIBING[method](q, operand)
    assert str(info.value) == "callback cannot be coerced into a unit"
    assert info.value.__notes__ == ["while processing 'other'"]
    assert operand.seen == [("RuntimeError", "Already borrowed")]
    assert state(q) == before
    q.simplify_inplace()  # nothing left held


@pytest.mark.parametrize("back", sorted(READING))
def test_reading_calls_from_str_of_an_operand_work(back):
    q = fresh()
    before = state(q)
    operand = CallsBack(q, READING[back])
    with raises(TypeError, "callback cannot be coerced into a unit"):
        q.as_unit(operand)
    assert [kind for kind, _ in operand.seen] == ["ok"]
    assert state(q) == before


def test_nested_describing_calls_release_every_level():
    q = fresh()
    inner = CallsBack(q, lambda x: x.simplify_inplace())

    def outer_back(x):
        # A second reading call on q while the first still holds it, itself describing an operand.
        with raises(TypeError, "callback cannot be coerced into a unit"):
            x.as_unit(inner)
        return "nested"

    outer = CallsBack(q, outer_back)
    with raises(TypeError, "callback cannot be coerced into a unit"):
        q.__div__(outer)
    assert outer.seen == [("ok", "nested")]
    assert inner.seen == [("RuntimeError", "Already borrowed")]
    q.simplify_inplace()


def test_failing_str_reports_to_a_hook_that_calls_back(monkeypatch):
    q = fresh()
    before = state(q)
    value = q.as_number()
    hook_saw = []

    class Raises:
        def __str__(self):
            raise ValueError("no text")

    def hook(args):
        hook_saw.append((args.exc_type, attempt(q.simplify_inplace), attempt(q.as_number)))

    monkeypatch.setattr(sys, "unraisablehook", hook)
    with raises(TypeError, "<unprintable Raises object> cannot be coerced into a unit"):
        q.as_unit(Raises())
    assert hook_saw == [(ValueError, ("RuntimeError", "Already borrowed"), ("ok", value))]
    assert state(q) == before


def test_finalizer_of_the_returned_text_calls_back():
    q = fresh()
    before = state(q)
    seen = []

    class Text(str):
        def __del__(self):
            seen.append(attempt(q.simplify_inplace))

    class Operand:
        def __str__(self):
            return Text("text")

    with raises(TypeError, "text cannot be coerced into a unit"):
        q.as_unit(Operand())
    # Released either inside the call (refused) or after it (then it works); never half done.
    assert seen in ([("RuntimeError", "Already borrowed")], [("ok", None)])
    if seen == [("RuntimeError", "Already borrowed")]:
        assert state(q) == before


def numpy_like_bool(truth):
    """A type named like NumPy's boolean scalar, which `scale` accepts by its type name."""
    return type("numpy.bool", (), {"__bool__": truth})


def test_truth_value_of_scale_calls_back():
    q = U("km") * 2
    seen = []

    def truth(self):
        seen.append(attempt(q.simplify_inplace))
        seen.append(attempt(q.as_number))
        return True

    assert q.as_number("m", scale=numpy_like_bool(truth)()) == 2000.0
    assert seen == [("RuntimeError", "Already borrowed"), ("ok", 2.0)]


def test_failing_truth_value_and_its_add_note_call_back():
    q = U("km") * 2
    seen = []

    class Refusal(Exception):
        def add_note(self, note):
            seen.append(attempt(q.simplify_inplace))
            return super().add_note(note)

    def truth(self):
        raise Refusal("no truth")

    with pytest.raises(Refusal) as info:
        q.as_number("m", scale=numpy_like_bool(truth)())
    assert info.value.__notes__ == ["while processing 'scale'"]
    assert seen == [("RuntimeError", "Already borrowed")]
    assert q.as_number() == 2.0


def test_garbage_collection_inside_a_call_sees_the_documented_errors():
    """A collection started by an allocation inside a call runs Python code (here a gc callback)
    while the call holds its object. The exact rounding of round(q, 400) allocates while holding
    the object exclusively; a failed coercion allocates while holding it shared. (From 3.12 on the
    interpreter defers collections to the next bytecode, outside the call.)"""
    q = fresh()
    seen = set()

    def callback(phase, info):
        if phase == "start":
            for name, call in (("read", q.as_number), ("write", q.simplify_inplace)):
                kind, value = attempt(call)
                seen.add((name, "ok" if kind == "ok" else value))

    class Plain:
        def __str__(self):
            return "plain"

    old = gc.get_threshold()
    gc.callbacks.append(callback)
    gc.set_threshold(1)
    try:
        for _ in range(30):
            round(q, 400)
            with pytest.raises(TypeError):
                q.as_unit(Plain())
    finally:
        gc.set_threshold(*old)
        gc.callbacks.remove(callback)
    assert seen <= {("read", "ok"), ("read", "Already mutably borrowed"), ("write", "ok"),
                    ("write", "Already borrowed")}
    if sys.version_info < (3, 12):
        assert ("read", "Already mutably borrowed") in seen
        assert ("write", "Already borrowed") in seen
    q.simplify_inplace()
    assert q.as_base_units().as_number() == pytest.approx(3.5, rel=1e-15)


def test_hooks_the_binding_never_calls():
    """Subclasses of float, int and str enter by their stored value; their __float__, __index__,
    __str__ and __eq__ are never consulted, so they cannot reach the held quantity."""
    q = Tolvat.empty() * 8
    called = []

    class F(float):
        def __float__(self):
            called.append("float")
            q.simplify_inplace()
            return 0.0

    class I(int):
        def __index__(self):
            called.append("index")
            q.simplify_inplace()
            return 0

        __int__ = __index__

    class S(str):
        def __str__(self):
            called.append("str")
            q.simplify_inplace()
            return "s"

        def __eq__(self, other):
            called.append("eq")
            return False

        __hash__ = str.__hash__

    assert (q + F(2.0)).as_number() == 10.0
    assert (q * I(3)).as_number() == 24.0
    assert round(q * 1.23456, I(2)).as_number() == 9.88
    assert q.round_sfig(I(1)).as_number() == 8.0
    assert (U("m") * 5).as_unit(S("km")).as_number() == 0.005
    with raises(LookupError, "Unit nonsense not found"):
        q.as_unit(S("nonsense"))
    assert float(LogTolvat.unit("B") * F(2.0)) == pytest.approx(100.0)
    assert (LogTolvat.unit("B").__div__(I(2))).as_number() == 0.5
    assert called == []


def test_reflected_operations_run_after_the_slot_let_go():
    """When a slot declines, Python asks the other operand; by then the quantity is free."""
    q = fresh()
    seen = []

    class Other:
        def __radd__(self, other):
            seen.append(attempt(other.simplify_inplace))
            return "radd"

        def __eq__(self, other):
            seen.append(attempt(other.simplify_inplace))
            return True

        __hash__ = None

    assert q + Other() == "radd"
    assert (q == Other()) is True
    assert seen == [("ok", None), ("ok", None)]


def test_log_methods_let_go_before_describing_an_operand():
    """LogTolvat copies itself before it looks at an operand, so a callback into it works."""
    x = LogTolvat.unit("dB") * 20

    class Operand:
        seen = []

        def __str__(self):
            Operand.seen.append(attempt(lambda: x.round_sfig(2)))
            return "operand"

    for call in (x.__div__, x.__rdiv__):
        with raises(TypeError, "operand cannot be coerced into a number"):
            call(Operand())
    assert [kind for kind, _ in Operand.seen] == ["ok", "ok"]
    assert x.as_number() == 20.0
