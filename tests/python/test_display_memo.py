"""What a unit collection displays as is remembered per thread (the display memo). A remembered
result must be exactly what the computation gives: the same text and the same value, whatever was
printed before, in this process or another, with the memo on or off (TOLVAT_MEMO=0)."""

import os
import subprocess
import sys

from thread_support import run_against_writer, run_together
from tolvat import Tolvat

U = Tolvat.unit
HERE = os.path.dirname(os.path.abspath(__file__))


def sweep(memo, *args):
    env = dict(os.environ, TOLVAT_MEMO="1" if memo else "0")
    out = subprocess.run([sys.executable, os.path.join(HERE, "display_sweep.py"), *args], env=env,
                         capture_output=True, text=True, check=True)
    return out.stdout.splitlines()


def test_remembered_texts_and_values_are_those_computed_afresh():
    # Every table unit and every product and quotient of two: first and repeated calls, in two
    # orders with the memo on and once with it off, all agree line for line.
    forward, backward, off = sweep(True), sweep(True, "--reverse"), sweep(False)
    assert len(forward) > 2 * 136 * 136
    for line in forward:
        fields = line.split("\t")
        assert len(fields) == 11, line
        assert fields[1] == fields[2] == fields[3] and fields[4] == fields[5], line
        assert fields[6] == fields[7] == fields[8], line
    assert forward == backward
    assert forward == off
    known = dict(line.split("\t", 1) for line in forward)
    assert known["N.m.kg/J"].split("\t")[2:4] == ["3 [kg]", "3~\\mathrm{\\frac{N~kg~m}{J}}"]
    assert known["km/hr"].split("\t")[0] == "3 [km/hr]"


def custom(multiplier, dimension="m", name="thing", symbol="th"):
    return Tolvat.custom(name, symbol, U(dimension) * multiplier)


def test_custom_units_sharing_name_and_symbol_never_share_results():
    # N.th/J is dimensionless when th is a length (printed as a plain number, scaled by th's
    # size) and kg/m when th is a mass (nothing cancels).
    lengths = [custom(2), custom(3)]
    mass = custom(2, "kg")
    for _ in range(3):
        for th, expected in ((lengths[0], "10 []"), (mass, "5 [N.th/J]"), (lengths[1], "15 []")):
            q = th * U("N") / U("J") * 5
            assert str(q) == expected
            assert q.latex() == "5~\\mathrm{\\frac{N~th}{J}}"
            assert str(th * U("N/J") * 5) == expected
    # Two collections alike in every text and in size and dimension, whose units differ only in
    # which of them is the mass: the full simplification keeps the mass, so they print apart.
    first = custom(2, "m") * custom(3, "kg", "yoke", "y") * U("N/J") * 7
    second = custom(3, "kg") * custom(2, "m", "yoke", "y") * U("N/J") * 7
    for _ in range(3):
        assert (str(+first), str(+second)) == ("14 [y]", "14 [th]")
    # Units made one after another, each dropped before the next: a new unit never inherits what
    # an earlier one with the same texts displayed as.
    for size in range(1, 300):
        q = custom(size) * U("N/J")
        assert [str(q) for _ in range(3)] == [f"{size} []"] * 3
        assert (custom(size) ** 2).as_number("m2") == size * size


def test_printing_and_simplifying_in_place_on_shared_quantities():
    # Shared quantities printed and simplified in place from several threads: each call either
    # finds the object in use or gives one of the texts the object can show.
    makers = [lambda: U("N.m.kg/J") * 2, lambda: U("km/hr") * 3, lambda: U("kg.m2/s2") * 3,
              lambda: U("m") * U("kg") / U("s") ** 2 * 3, lambda: custom(4) * U("N/J")]
    shared = [make() for make in makers]
    expected = []
    for make in makers:
        q, full = make(), make()
        full.simplify_inplace()
        expected.append({"str": {str(q)}, "latex": {q.latex(), full.latex()},
                         "descriptive": {q.descriptive(), full.descriptive()}})

    def use(rounds=300):
        for _ in range(rounds):
            for q, allowed in zip(shared, expected):
                for form, call in (("str", str), ("latex", Tolvat.latex), ("descriptive", Tolvat.descriptive)):
                    try:
                        text = call(q)
                    except RuntimeError as exc:
                        assert exc.args == ("Already borrowed",)
                        continue
                    assert text in allowed[form], (form, text)

    def simplify_all():
        for q in shared:
            q.simplify_inplace()

    assert run_together(use, use, use) == []
    assert run_against_writer(simplify_all, lambda: use(100)) == []
    for q, allowed in zip(shared, expected):
        assert str(q) in allowed["str"]
