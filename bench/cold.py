"""First use of a unit: the time of the first str(), latex() and descriptive() of each unit in a
fresh process, where nothing about its units has been remembered yet.

    python3 bench/cold.py [--rounds N]

Each round runs one fresh process per form; a call is timed alone with perf_counter_ns, less the
cost of timing an empty interval, and the best of the rounds is printed. With TOLVAT_MEMO=0 in
the environment every call is a first call, which is what the warm rows of bench/run.py are
compared with to show the memo's effect; this script shows that the first call did not pay for it.
"""

import argparse
import json
import os
import subprocess
import sys

UNITS = ["m", "km/hr", "kg.m2/s2", "W/m2.K", "N.m.kg/J", "m*kg/s**2", "J.N.W.Pa.C.V.F.Wb"]
FORMS = ["str", "latex", "descriptive"]

CHILD = r"""
import json, sys, time
from tolvat import Tolvat
U = Tolvat.unit
form = sys.argv[1]
call = {"str": str, "latex": Tolvat.latex, "descriptive": Tolvat.descriptive}[form]
units = json.loads(sys.argv[2])
made = [U("m") * U("kg") / U("s") ** 2 * 3.0 if text == "m*kg/s**2" else U(text) * 3.0 for text in units]
str(U("s/A") * 2.5)  # the module's own first-call costs (the memo made, the pages touched) are paid here
clock = time.perf_counter_ns
empty = min(-(clock() - clock()) for _ in range(1000))
out = {}
for text, q in zip(units, made):
    start = clock()
    call(q)
    out[text] = clock() - start - empty
print(json.dumps(out))
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=30)
    args = parser.parse_args()
    best = {}
    for _ in range(args.rounds):
        for form in FORMS:
            out = subprocess.run([sys.executable, "-c", CHILD, form, json.dumps(UNITS)], capture_output=True,
                                 text=True, check=True)
            for text, ns in json.loads(out.stdout).items():
                key = (form, text)
                best[key] = min(best.get(key, ns), ns)
    memo = "off" if os.environ.get("TOLVAT_MEMO") == "0" else "on"
    print(f"First call in a fresh process, best of {args.rounds} (memo {memo}), ns")
    print(f"{'unit':22}" + "".join(f"{form:>13}" for form in FORMS))
    for text in UNITS:
        print(f"{text:22}" + "".join(f"{best[(form, text)]:13.0f}" for form in FORMS))


if __name__ == "__main__":
    main()
