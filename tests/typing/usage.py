"""Typed use of tolvat, checked with `mypy --strict` against the installed stubs.

Each `assert_type` pins the type a reader of the stubs gets; each `type: ignore[...]` marks a use
the stubs must reject (under --strict an ignore that is not needed is itself an error). Run with
Python, the same file checks that the module returns exactly those types; the rejected uses sit
in a function that is never called.
"""

from typing import TYPE_CHECKING

import numpy as np

from tolvat import LogTolvat, Tolvat

if TYPE_CHECKING:
    from typing import assert_type
else:

    def assert_type(value, expected):
        wanted = type(None) if expected is None else expected
        assert type(value) is wanted, f"{value!r} is a {type(value).__name__}, not {wanted.__name__}"
        return value


U = Tolvat.unit

# ---- Tolvat -------------------------------------------------------------------------------------
speed = U("km/hr") * 90
assert_type(speed, Tolvat)
assert_type(Tolvat.empty(), Tolvat)
assert_type(Tolvat.constant("c"), Tolvat)
smoot = Tolvat.custom("smoot", "smt", U("m") * 1.7018)
assert_type(Tolvat.custom("dozen", "dz", 12), Tolvat)

assert_type(speed.as_unit("m/s"), Tolvat)
assert_type(speed.as_unit(U("mi/hr")), Tolvat)
assert_type(speed.as_number(), float)
assert_type(speed.as_number("m/s"), float)
assert_type(speed.as_number(U("km/hr") * 5, scale=True), float)
assert_type((U("degree") * 180).as_unitless(), float)
assert_type(speed.as_base_units(), Tolvat)
assert_type(speed.simplify(), Tolvat)
assert_type(speed.simplify_inplace(), None)
assert_type(float(speed), float)
assert_type(int(speed), int)

metre = U("m")
gain = LogTolvat.unit("dB") * 20
assert_type(metre + metre, Tolvat)
assert_type(metre + "km", Tolvat)
assert_type("km" + metre, Tolvat)
assert_type(metre - U("ft"), Tolvat)
assert_type(metre * 3, Tolvat)
assert_type(3 * metre, Tolvat)
assert_type(metre * "s", Tolvat)
assert_type(metre * gain, Tolvat)
assert_type(gain * metre, Tolvat)  # the LogTolvat declines, the Tolvat takes it as its ratio
assert_type(metre / 2.0, Tolvat)
assert_type(2 / metre, Tolvat)
assert_type(metre**2, Tolvat)
assert_type(pow(metre, 2, 7), Tolvat)
assert_type(2 ** (Tolvat.empty() * 3), Tolvat)
assert_type(metre.__div__("s"), Tolvat)
assert_type(metre.__rdiv__(1), Tolvat)
assert_type(-metre, Tolvat)
assert_type(+metre, Tolvat)
assert_type(abs(metre), Tolvat)
assert_type((Tolvat.empty() * 0).exp(), float)
assert_type(Tolvat.empty().log(), float)
assert_type(Tolvat.empty().__log10__(), float)

assert_type(metre == U("km"), bool)
assert_type(metre != None, bool)  # noqa: E711
assert_type(metre < U("ft") * 4, bool)
assert_type(metre >= "cm", bool)
assert_type(5 < Tolvat.empty() * 6, bool)

assert_type(str(speed), str)
assert_type(speed.latex(), str)
assert_type(speed.descriptive(), str)
assert_type(f"{speed:.2f}", str)
assert_type(format(speed, ">12.3e"), str)
assert_type(round(speed), Tolvat)
assert_type(round(speed, 2), Tolvat)
assert_type(speed.round_sfig(3), Tolvat)

# ---- LogTolvat ----------------------------------------------------------------------------------
db = LogTolvat.unit("dB")
bel = LogTolvat.unit("B")
assert_type(db, LogTolvat)
assert_type(db.as_unit(bel), LogTolvat)
assert_type(db.as_number(), float)
assert_type(db.as_number(bel), float)
assert_type(db.as_unitless(), float)
assert_type(float(db), float)
assert_type(int(bel * 3), int)
assert_type(db.log10(), float)

assert_type(db + db, LogTolvat)
assert_type(db + 1, float)
assert_type(1 + db, float)
assert_type(db - bel, LogTolvat)
assert_type(db - 1.5, float)
assert_type(100 - db, float)
assert_type(db * 2, LogTolvat)
assert_type(2 * db, LogTolvat)
assert_type(db * db, float)
assert_type(db / 2, LogTolvat)
assert_type(db / db, float)
assert_type(2 / db, float)
assert_type(db**2, float)
assert_type(db**bel, float)
assert_type(2**bel, float)
assert_type(pow(db, 2, 7), float)
assert_type(db.__div__(2), LogTolvat)
assert_type(db.__div__(bel), float)
assert_type(db.__rdiv__(2), float)
assert_type(-db, LogTolvat)
assert_type(+db, LogTolvat)
assert_type(abs(db), float)
assert_type(db == 10, bool)
assert_type(db < 1.5, bool)
assert_type(db < bel, bool)
assert_type(str(db), str)
assert_type(f"{db:.1f}", str)
assert_type(round(db), float)
assert_type(round(db, 2), float)
assert_type(db.round_sfig(3), float)

# ---- arrays -------------------------------------------------------------------------------------
values = np.arange(3.0)
lengths = U("m") * values
assert_type(lengths, Tolvat)
assert_type(values * U("m"), Tolvat)
assert_type(Tolvat.wrap(values, "m"), Tolvat)
assert_type(lengths + U("km") * values, Tolvat)
assert_type(lengths[0], Tolvat)
assert_type(len(lengths), int)
assert_type(lengths.ndim, int)
below: "np.ndarray[tuple[int, ...], np.dtype[np.bool_]]" = Tolvat.empty() * values < values
for each in lengths:
    assert_type(each, Tolvat)
lengths[1] = U("cm") * 5


# ---- uses the stubs reject ----------------------------------------------------------------------
def rejected() -> None:
    U(5)  # type: ignore[arg-type]
    metre + None  # type: ignore[operator]
    metre * [1]  # type: ignore[operator]
    metre.as_number("m", scale=1)  # type: ignore[arg-type]
    metre.round_sfig(2.5)  # type: ignore[arg-type]
    round(metre, 2.5)  # type: ignore[call-overload]
    db + "dB"  # type: ignore[operator]
    db.as_unit(metre)  # type: ignore[arg-type]
    db.as_unit(2)  # type: ignore[arg-type]
    db < "dB"  # type: ignore[operator]
    LogTolvat.unit(None)  # type: ignore[arg-type]
    LogTolvat.constant("c")  # type: ignore[attr-defined]

    class Sub(Tolvat):  # type: ignore[misc]
        pass


print(speed, "|", smoot, "|", f"{gain:.1f}", "|", db + db, "|", round(speed, 1))
