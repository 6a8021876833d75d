"""The text forms of many quantities, for comparing processes with the display memo on and off.

    python display_sweep.py [--reverse]

Builds a quantity of every table unit (symbols read from docs/catalogue.md) and of the product and
the quotient of every two table units, plus a few compound units, and prints for each, on one
line: str() of a fresh quantity three times (the first call may be the first of its units in this
process; they are remembered from the second on and found from the third), latex() twice and
descriptive() three times, float() of the
quantity afterwards (the value in its simplified units), and str() of simplify(). --reverse goes
through the list backwards, so every first call comes after a different history.
"""

import os
import re
import sys

from tolvat import Tolvat

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXTRA = ["km/hr", "kg.m2/s2", "W/m2.K", "N.m.kg/J", "J.N.W.Pa.C.V.F.Wb", "m2/ft.km3", "kg.m/s2.N", "J/N",
         "m.rad", "m.km", "degree Celsius2", "ft2/m"]


def table_symbols():
    """The symbol column of the unit table in the catalogue reference, which a check keeps equal
    to the compiled-in table."""
    with open(os.path.join(ROOT, "docs", "catalogue.md"), encoding="utf-8") as f:
        text = f.read()
    section = text.split("## Units", 1)[1].split("\n## ", 1)[0]
    return [m.group(1) for m in re.finditer(r"^\| \d+ \| `[^`]*` \| `([^`]*)` \|", section, re.M)]


def quantities():
    """(label, maker) pairs; each maker builds a fresh quantity."""
    U = Tolvat.unit
    symbols = table_symbols()
    units = [U(s) for s in symbols]
    out = []
    for i, (s, u) in enumerate(zip(symbols, units)):
        out.append((s, lambda u=u, i=i: u * (1.5 + i)))
    for i, (a, ua) in enumerate(zip(symbols, units)):
        for j, (b, ub) in enumerate(zip(symbols, units)):
            value = 1 + (i * 31 + j) / 7
            out.append((f"{a} * {b}", lambda ua=ua, ub=ub, v=value: ua * ub * v))
            out.append((f"{a} / {b}", lambda ua=ua, ub=ub, v=value: ua / ub * v))
    for text in EXTRA:
        out.append((text, lambda text=text: U(text) * 3))
    # A product built by arithmetic, with a power.
    out.append(("m * kg / s**2", lambda: U("m") * U("kg") / U("s") ** 2 * 3))
    return out


def forms(make):
    q = make()
    texts = [str(q), str(q), str(q), q.latex(), q.latex(), q.descriptive(), q.descriptive(), q.descriptive(),
             repr(float(q))]
    texts.append(str(make().simplify()))
    return texts


def main():
    items = quantities()
    if "--reverse" in sys.argv:
        items.reverse()
    lines = []
    for label, make in items:
        try:
            lines.append(label + "\t" + "\t".join(forms(make)))
        except BaseException as exc:  # a failure is a result too, and must agree
            lines.append(label + "\t" + type(exc).__name__ + ": " + str(exc))
    lines.sort()
    sys.stdout.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
