"""Cost of str() (which fully simplifies a copy) on typical quantities and on the worst cases of
the simplification search.

    python3 bench/simplify_cost.py
"""

import timeit

from tolvat import Tolvat

U = Tolvat.unit

CASES = [
    ("one unit (m)", U("m") * 3),
    ("kg.m2/s2", U("kg.m2/s2") * 3),
    ("N.m.kg/J", U("N.m.kg/J") * 3),
    ("m.km", U("m.km") * 3),
    ("N5.m5.s5.kg5 (worst case)", U("N5.m5.s5.kg5") * 3),
    ("J.N.W.Pa.C.V.F.Wb (8 movable)", U("J.N.W.Pa.C.V.F.Wb") * 3),
    ("J5.N5.W5.Pa5.C5.V5.F5.Wb5", U("J5.N5.W5.Pa5.C5.V5.F5.Wb5") * 3),
]


def main():
    print(f"{'str() of':32} {'ns per call':>12}   text")
    for name, q in CASES:
        text = str(q)
        number = 2000
        best = min(timeit.repeat(lambda: str(q), number=number, repeat=5)) / number * 1e9
        shown = text if len(text) < 40 else text[:37] + "..."
        print(f"{name:32} {best:12.0f}   {shown}")


if __name__ == "__main__":
    main()
