"""Pickling and copying quantities, and loading tampered states."""

import copy
import math
import os
import pickle
import struct
import subprocess
import sys
import textwrap

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import tolvat
from tolvat import LogTolvat, Tolvat


def state(q):
    """The state a quantity pickles to (its bytes say every field, so equal states mean equal quantities)."""
    restore, (data,) = q.__reduce__()
    assert restore == type(q)._from_state
    return data


def texts(q):
    out = [str(q), repr(q), format(q, "")]
    if isinstance(q, Tolvat):
        out += [q.latex(), q.descriptive(), str(q.as_base_units())]
        try:
            out.append(q.as_number())
        except TypeError:
            out.append("not dimensionless")
    else:
        out.append(q.as_number())
    return [x if not isinstance(x, float) else struct.pack("<d", x) for x in out]


def samples():
    m, s, km = Tolvat.unit("m"), Tolvat.unit("s"), Tolvat.unit("km")
    furlong = Tolvat.custom("furlong", "fur", m * 201.168)
    odd = Tolvat.custom("naïve unit with spaces", "", Tolvat.unit("kg") * -2)
    return {
        "meter": m,
        "compound as parsed": Tolvat.unit("km/hr") * 3.5,
        "negative zero": m * -0.0,
        "nan": m * math.nan,
        "infinities": [s * math.inf, s * -math.inf],
        "fractional, negative and zero powers": (km**2.5 / s**-0.5 * Tolvat.unit("mol") ** -3).as_base_units(),
        "entry order": Tolvat.unit("s.kg.m"),
        "drifted multiplier": km * km / km * km / km,
        "custom units by value": furlong**2 / odd * Tolvat.unit("degree Celsius"),
        "dimensionless": Tolvat.empty() * 7,
        "constant": Tolvat.constant("gravitational constant"),
        "logarithmic": [LogTolvat.unit("dB") * -3.25, LogTolvat.unit("Np") * math.nan],
    }


def flat_samples():
    return list(_flat_samples())


def _flat_samples():
    for name, value in samples().items():
        for i, q in enumerate(value if isinstance(value, list) else [value]):
            yield pytest.param(q, id=f"{name}-{i}")


@pytest.mark.parametrize("q", flat_samples())
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_every_protocol_loads_an_equal_quantity(q, protocol):
    original = state(q)
    loaded = pickle.loads(pickle.dumps(q, protocol))
    assert type(loaded) is type(q) and loaded is not q
    assert state(loaded) == original
    assert texts(loaded) == texts(q)
    # The texts simplified both in place the same way.
    assert state(loaded) == state(q)


def test_pickles_made_by_format_one_still_load():
    # Written by the first version of the format: these bytes must load for good.
    fixed = {
        b"\x80\x02c__builtin__\ngetattr\nq\x00ctolvat\nTolvat\nq\x01X\x0b\x00\x00\x00_from_stateq\x02\x86q\x03Rq\x04"
        b"c_codecs\nencode\nq\x05X0\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x0c@r\x1c\xc3\x87q\x1c\xc3\x87\xc3\x91?"
        b"\xc2\xa0\x00\x00\x00\x00\x00\x00\xc3\xb0?\x00\x00\x00\x00\x00\x00\xc3\xb0\xc2\xbf\x02\x04\x05\x13\x08\x17"
        b"\x00q\x06X\x06\x00\x00\x00latin1q\x07\x86q\x08Rq\t\x85q\nRq\x0b.": ("3.5 [km/hr]", 0.9722222222222223),
        b"\x80\x05\x95\x91\x00\x00\x00\x00\x00\x00\x00\x8c\x08builtins\x94\x8c\x07getattr\x94\x93\x94\x8c\x06tolvat"
        b"\x94\x8c\x06Tolvat\x94\x93\x94\x8c\x0b_from_state\x94\x86\x94R\x94CL\x01\x00\x00\x00\x00\x00\x00\xf0?\xd5"
        b"\x97\x98H9\x84!A\xa0\x00\x00\x00\x00\x00\x00\x04@\x00\x00\x00\x00\x00\x00\xf0\xbf\x02\x01\x07furlong\x03"
        b"furL7\x89A`%i@ \x00\x00\x00\x00\x00\x00\xf0?\x00\x00\x00\x00\x00\x00\x04@\x08\x07\x00\x94\x85\x94R\x94.": (
            "1 [fur2.5/s]",
            573980.6417891929,
        ),
        b"\x80\x05\x95\xb8\x00\x00\x00\x00\x00\x00\x00\x8c\x08builtins\x94\x8c\x07getattr\x94\x93\x94\x8c\x06tolvat"
        b"\x94\x8c\x06Tolvat\x94\x93\x94\x8c\x0b_from_state\x94\x86\x94R\x94Cs\x01\x00\x00\x00\x00\x00\x00\x00\x80"
        b"\x00\x00\x00\x00\x00\x00\xf0?\xb0\x00\x00\x00\x00\x00\x00\xf0?\x00\x00\x00\x00\x00\x00\xf0?\x00\x00\x00"
        b"\x00\x00\x00\x00\xc0\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00"
        b"\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x04\x04"
        b"\x00\x04\x05\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00\xc0"
        b"\x94\x85\x94R\x94.": ("-0 [kg.m/s2]", None),
        b"\x80\x05\x95R\x00\x00\x00\x00\x00\x00\x00\x8c\x08builtins\x94\x8c\x07getattr\x94\x93\x94\x8c\x06tolvat\x94"
        b"\x8c\tLogTolvat\x94\x93\x94\x8c\x0b_from_state\x94\x86\x94R\x94C\n\x01\x01\x00\x00\x00\x00\x00\x00\n\xc0"
        b"\x94\x85\x94R\x94.": ("-3.25 [dB]", None),
    }
    # Written since _from_state pickles as one global reference; the class-attribute form above
    # (protocols 0 to 3 still write it) loads as well.
    fixed[
        b"\x80\x05\x95t\x00\x00\x00\x00\x00\x00\x00\x8c\x06tolvat\x94\x8c\x12Tolvat._from_state\x94\x93\x94CL\x01\x00"
        b"\x00\x00\x00\x00\x00\xf0?\xd5\x97\x98H9\x84!A\xa0\x00\x00\x00\x00\x00\x00\x04@\x00\x00\x00\x00\x00\x00\xf0\xbf"
        b"\x02\x01\x07furlong\x03furL7\x89A`%i@ \x00\x00\x00\x00\x00\x00\xf0?\x00\x00\x00\x00\x00\x00\x04@\x08\x07\x00"
        b"\x94\x85\x94R\x94."
    ] = ("1 [fur2.5/s]", 573980.6417891929)
    fixed[
        b"c__builtin__\ngetattr\np0\n(ctolvat\nLogTolvat\np1\nV_from_state\np2\ntp3\nRp4\n(c_codecs\nencode\np5\n(V\x01\x01"
        b"\\u0000\\u0000\\u0000\\u0000\\u0000\\u0000\\u000a\xc0\np6\nVlatin1\np7\ntp8\nRp9\ntp10\nRp11\n."
    ] = ("-3.25 [dB]", None)
    for data, (text, base_value) in fixed.items():
        q = pickle.loads(data)
        if base_value is not None:
            assert q.as_base_units().as_number() == base_value
        assert str(q) == text
    zero_powers = pickle.loads(list(fixed)[2])
    assert math.copysign(1, float(zero_powers.as_number(Tolvat.unit("N")))) == -1
    assert str(zero_powers.as_base_units()).startswith("-0 [")


def test_reconstruction_is_private_to_the_classes():
    assert [name for name in vars(tolvat) if not name.startswith("__")] == ["Tolvat", "LogTolvat"]
    for cls in (Tolvat, LogTolvat):
        assert cls._from_state.__qualname__ == f"{cls.__name__}._from_state"
        assert cls._from_state.__module__ == "tolvat"
    # One global reference names it, however many quantities a pickle holds.
    many = pickle.dumps([Tolvat.unit("m") * i for i in range(100)], 5)
    assert many.count(b"Tolvat._from_state") == 1


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy])
def test_copies_are_new_and_independent(copier):
    q = Tolvat.unit("km.m/mm")  # as parsed: simplifying it in place changes it
    log = LogTolvat.unit("dB") * 2
    c, log_copy = copier(q), copier(log)
    assert type(c) is Tolvat and c is not q and log_copy is not log and state(log_copy) == state(log)
    before = state(c)
    q.simplify_inplace()
    assert state(c) == before and state(q) != before
    assert str(c) == str(q)
    c.simplify_inplace()
    assert state(copier(q)) == state(q)


def test_deepcopy_inside_containers_keeps_sharing():
    q, log = Tolvat.unit("km.m/mm"), LogTolvat.unit("dB")
    copied = copy.deepcopy({"q": [q, q], "log": (log,)})
    assert copied["q"][0] is copied["q"][1] and copied["q"][0] is not q and copied["log"][0] is not log
    q.simplify_inplace()
    assert state(copied["q"][0]) == state(Tolvat.unit("km.m/mm"))


# --- hostile states -------------------------------------------------------------------------------

M_STATE = state(Tolvat.unit("m"))  # 30 bytes: format, value, multiplier, dimension, one table entry
CUSTOM_STATE = state(Tolvat.custom("furlong", "fur", Tolvat.unit("m") * 201.168))


def replaced(data, offset, new):
    return data[:offset] + new + data[offset + len(new) :]


def bad_states():
    f64 = lambda x: struct.pack("<d", x)  # noqa: E731
    name_at = CUSTOM_STATE.index(b"furlong")
    return {
        "unknown format": b"\x02" + M_STATE[1:],
        "empty": b"",
        "trailing byte": M_STATE + b"\x00",
        "nan multiplier": replaced(M_STATE, 9, f64(math.nan)),
        "negative multiplier": replaced(M_STATE, 9, f64(-1.0)),
        "custom multiplier off its collection": replaced(CUSTOM_STATE, name_at + 11, f64(-201.168)),
        "huge entry count": M_STATE[:26] + b"\xff\xff\xff\xff\x0f" + M_STATE[27:],
        "more entries than bytes": M_STATE[:26] + b"\x7f" + M_STATE[27:],
        "unknown entry tag": replaced(M_STATE, 27, b"\x40"),
        "row past the table": replaced(M_STATE, 28, b"\x7f"),
        "prefix past the table": replaced(M_STATE, 29, b"\x30"),
        "dimension of the wrong length": replaced(M_STATE, 17, b"\x21"),
        "dimension off its units": replaced(M_STATE, 18, f64(2.0)),
        "lone surrogate in a name": replaced(CUSTOM_STATE, name_at, b"fu\xed\xa0\x80ng"),
        "overlong encoding in a name": replaced(CUSTOM_STATE, name_at, b"fu\xc0\xafong"),
        # A newton to the power 1e308, as no operation makes: its seconds overflow to -inf.
        "powers beyond range": state(Tolvat.unit("N") ** 1e300).replace(f64(1e300), f64(1e308)).replace(
            f64(-2e300), f64(-math.inf)),
        "repeated unit": M_STATE[:17] + b"\x20" + f64(2.0) + b"\x02" + M_STATE[27:30] * 2,
        "log row past the table": b"\x01\x09" + f64(1.0),
        "log state cut short": b"\x01\x01" + f64(1.0)[:7],
    }


@pytest.mark.parametrize("name, data", bad_states().items(), ids=list(bad_states()))
def test_tampered_states_raise_value_error(name, data):
    cls = LogTolvat if name.startswith("log") else Tolvat
    with pytest.raises(ValueError, match=f"invalid {cls.__name__} state: "):
        cls._from_state(data)
    # Through pickle.loads too, with the state inside a real pickle.
    good = Tolvat.unit("m") if cls is Tolvat else LogTolvat.unit("B")
    pickled = pickle.dumps(good, 3)  # no frames, so the state can be swapped in place
    with pytest.raises(ValueError):
        pickle.loads(pickled.replace(b"C" + bytes([len(state(good))]) + state(good), b"C" + bytes([len(data)]) + data))


def test_every_truncation_and_wrong_types_are_refused():
    for data in (M_STATE, CUSTOM_STATE, state((Tolvat.unit("km") ** 2.5).as_base_units())):
        for cut in range(len(data)):
            with pytest.raises(ValueError):
                Tolvat._from_state(data[:cut])
    for wrong in (None, "text", bytearray(M_STATE), memoryview(M_STATE), 3):
        with pytest.raises(TypeError, match="state must be bytes"):
            Tolvat._from_state(wrong)
        with pytest.raises(TypeError):
            LogTolvat._from_state(wrong)
    with pytest.raises(TypeError):
        Tolvat._from_state()


def check_loaded_or_refused(cls, data):
    """A state either loads a quantity that then works as any other, or raises ValueError."""
    try:
        q = cls._from_state(data)
    except ValueError:
        return
    assert state(q) == data  # what loads writes back the very same bytes
    for call in (str, repr, lambda x: x.as_number() if cls is LogTolvat else x.as_base_units(), copy.copy):
        try:
            call(q)
        except (TypeError, ValueError, OverflowError):
            pass
    q * 2
    assert cls._from_state(state(q)) is not q


@settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow], deadline=None)
@given(
    base=st.sampled_from([M_STATE, CUSTOM_STATE, state(Tolvat.unit("kN.m/s2") ** -1.5), state(LogTolvat.unit("dB"))]),
    edits=st.lists(
        st.tuples(st.sampled_from(["set", "insert", "delete"]), st.integers(0, 200), st.integers(0, 255)),
        min_size=1,
        max_size=4,
    ),
)
def test_mutated_states_never_misbehave(base, edits):
    data = bytearray(base)
    for kind, where, byte in edits:
        where %= len(data) + 1
        if kind == "insert":
            data.insert(where, byte)
        elif where < len(data):
            if kind == "set":
                data[where] = byte
            else:
                del data[where]
    check_loaded_or_refused(LogTolvat if len(base) == 10 else Tolvat, bytes(data))


def test_random_byte_flips_in_real_pickles_never_crash_the_interpreter():
    # In a child process, so that a crash fails the test instead of ending the run.
    script = textwrap.dedent(
        """
        import os, pickle, random, resource
        from tolvat import LogTolvat, Tolvat
        # A flipped length can make the unpickler itself ask for gigabytes: let that fail as
        # MemoryError instead of taking the machine's memory. AddressSanitizer reserves its
        # shadow memory up front, so under it its allocator refuses large requests instead.
        if "libasan" not in os.environ.get("LD_PRELOAD", ""):
            resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
        km = Tolvat.unit("km")
        sources = [km / Tolvat.unit("hr"), (km ** 2.5).as_base_units(), LogTolvat.unit("dB") * 3,
                   Tolvat.custom("furlong", "fur", Tolvat.unit("m") * 201.168) ** -2 * km]
        rng = random.Random(1234)
        loaded = refused = 0
        for case in range(6000):
            data = bytearray(pickle.dumps(sources[case % len(sources)], case % 6))
            for _ in range(rng.randint(1, 3)):
                data[rng.randrange(len(data))] = rng.randrange(256)
            try:
                q = pickle.loads(bytes(data))
            except Exception:
                refused += 1
                continue
            loaded += 1
            if isinstance(q, (Tolvat, LogTolvat)):
                for call in (str, pickle.dumps, lambda x: x * 2):
                    try:
                        call(q)
                    except (TypeError, ValueError, OverflowError):
                        pass
        print(loaded, refused)
        """
    )
    env = dict(os.environ)
    if "libasan" in env.get("LD_PRELOAD", ""):
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":allocator_may_return_null=1:max_allocation_size_mb=1024"
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=600, env=env)
    assert out.returncode == 0, out.stderr[-3000:]
    loaded, refused = map(int, out.stdout.split())
    assert loaded + refused == 6000 and refused > 1000
