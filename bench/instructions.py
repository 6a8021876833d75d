"""Instruction counts of the tolvat rows of bench/ops.py under callgrind: a figure that machine load
does not move, for checking that a change leaves the float-valued operations as cheap as before.

    python3 bench/instructions.py [--python PATH] [--path DIR] [--rows N] [ROW ...]

Each row runs its statement N times (default 2,000) in a fresh interpreter under
`valgrind --tool=callgrind`, and again 0 times; the difference divided by N is the row's count per
call. --path goes first on PYTHONPATH (a build directory). Prints one JSON object on the last line,
{row: instructions per call}, so two runs can be compared.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = r"""
import sys
sys.path.insert(0, {here!r})
import ops
namespace, table = ops.setups("tolvat")
import pickle
namespace["pickle"] = pickle
table[ops.PICKLE_ROW] = ops.PICKLE_STATEMENT
code = compile(table[{row!r}], "<row>", "eval")
for _ in range({n}):
    eval(code, namespace)
"""


def total_instructions(python, env, row, n):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        script = CHILD.format(here=HERE, row=row, n=n)
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", python, "-c", script],
                       env=env, check=True, capture_output=True)
        with open(out) as f:
            for line in f:
                match = re.match(r"summary: (\d+)", line) or re.match(r"totals: (\d+)", line)
                if match:
                    return int(match.group(1))
    raise SystemExit("no totals in callgrind output")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--path", default=None)
    parser.add_argument("--rows", type=int, default=2000)
    parser.add_argument("row", nargs="*")
    args = parser.parse_args()
    sys.path.insert(0, HERE)
    import ops

    env = dict(os.environ)
    env["PYTHONHASHSEED"] = "0"  # the same dictionary layouts in every run, so the same counts
    if args.path:
        env["PYTHONPATH"] = args.path + os.pathsep + env.get("PYTHONPATH", "")
    rows = args.row or [r for r in ops.ROWS if r != "log a + b (dB)"]
    result = {}
    for row in rows:
        full = total_instructions(args.python, env, row, args.rows)
        empty = total_instructions(args.python, env, row, 0)
        result[row] = (full - empty) / args.rows
        print(f"{row:28s} {result[row]:10.0f}", file=sys.stderr)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
