"""Benchmarks of tolvat: per-operation time against decimal.Decimal and the pure-Python peers,
bytes per quantity, free-threaded scaling (on a free-threaded interpreter) and the cost of str()
with its simplification.

    python3 bench/run.py [--peers-python PATH] [--python PATH ...] [--rounds N]

tolvat and Decimal run under each --python (default: this interpreter; tolvat must be installed
there). pint, astropy and unyt run in virtual environments that have them: --peers-python
(default .venv-bench/bin/python, created on first use from this interpreter) is the reference,
and every other --python gets one of its own, .venv-bench-<version> (created on first use), so
that each interpreter's table also compares like with like. Prints nanoseconds per call and the
ratios the project aims at: within 3x of Decimal, 50x faster than the fastest peer, and for the
text forms within 2x of str() of a float of the same value (the "float" column).

With --cold every tolvat row is also timed with the display memo switched off
(TOLVAT_MEMO=0), which is what each call costs before its unit has been seen.
"""

import argparse
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
OPS = os.path.join(HERE, "ops.py")


def version_tag(python):
    """'3.11.7', or '3.14.7t' for a free-threaded interpreter."""
    return subprocess.run(
        [python, "-c", "import sys; print(sys.version.split()[0] + ('t' if hasattr(sys, '_is_gil_enabled') and not sys._is_gil_enabled() else ''))"],
        capture_output=True,
        text=True,
    ).stdout.strip()


def ensure_peers(path, base_python=sys.executable):
    if os.path.exists(path):
        return path
    venv = os.path.dirname(os.path.dirname(path))
    print(f"creating {venv} with pint, astropy and unyt ...", file=sys.stderr)
    subprocess.run([base_python, "-m", "venv", venv], check=True)
    subprocess.run([path, "-m", "pip", "install", "-q", "pint", "astropy", "unyt"], check=True)
    return path


def measure_once(python, library):
    env = dict(os.environ)
    if library == "tolvat-cold":
        library = "tolvat"
        env["TOLVAT_MEMO"] = "0"
    out = subprocess.run([python, OPS, library], capture_output=True, text=True, env=env)
    if out.returncode != 0:
        return {"library": library, "error": out.stderr.strip().splitlines()[-1:]}
    return json.loads(out.stdout.strip().splitlines()[-1])


def measure_all(jobs, rounds):
    """Times every (python, library) job in `rounds` rounds, one job after the other within a
    round, and keeps the best figure of each row. A virtual machine's speed drifts over minutes;
    spreading every library's samples over the whole run lets all of them meet the same fast and
    slow spells, so the ratios between them stay fair."""
    results = {}
    for _ in range(rounds):
        for job in jobs:
            result = measure_once(*job)
            best = results.setdefault(job, result)
            if "error" in result or "error" in best:
                continue
            for name, ns in result["rows"].items():
                old = best["rows"].get(name)
                if ns is not None and (old is None or ns < old):
                    best["rows"][name] = ns
    return results


def fmt(ns):
    return f"{ns:10.0f}" if ns is not None else "         -"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--python", action="append", default=None)
    parser.add_argument("--peers-python", default=os.path.join(ROOT, ".venv-bench", "bin", "python"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cold", action="store_true", help="also time tolvat with its memo off")
    args = parser.parse_args()
    pythons = args.python or [sys.executable]
    reference = ensure_peers(args.peers_python)
    reference_tag = version_tag(reference)
    tags = {python: version_tag(python) for python in pythons}
    # Peers for each interpreter: the reference where the versions agree, else a venv of its own.
    peers_for = {}
    for python, tag in tags.items():
        if tag == reference_tag:
            peers_for[python] = reference
        else:
            own = os.path.join(ROOT, f".venv-bench-{tag}", "bin", "python")
            peers_for[python] = ensure_peers(own, python)
    peer_pythons = [reference] + [p for p in dict.fromkeys(peers_for.values()) if p != reference]
    peer_jobs = [(p, lib) for p in peer_pythons for lib in ("pint", "astropy", "unyt")]
    own_libs = ("tolvat", "tolvat-cold", "decimal", "float") if args.cold else ("tolvat", "decimal", "float")
    own_jobs = [(python, lib) for python in pythons for lib in own_libs]
    timed = measure_all(peer_jobs + own_jobs, args.rounds)

    def fastest_peer(peers_python, name):
        rows = [timed[(peers_python, lib)].get("rows", {}).get(name) for lib in ("pint", "astropy", "unyt")]
        return rows, min((x for x in rows if x), default=None)

    for python in pythons:
        version = tags[python]
        peers_python = peers_for[python]
        peers = {lib: timed[(peers_python, lib)] for lib in ("pint", "astropy", "unyt")}
        cross = peers_python != reference
        ours = timed[(python, "tolvat")]
        dec = timed[(python, "decimal")]
        flt = timed[(python, "float")]
        cold = timed.get((python, "tolvat-cold"), {})
        print(f"\nPython {version}: nanoseconds per call (peers on {peers_python})")
        header = f"{'operation':22} {'tolvat':>10} {'Decimal':>10} {'pint':>10} {'astropy':>10} {'unyt':>10} {'vs Dec':>7} {'vs peer':>8} {'float':>7} {'vs flt':>6}"
        if cold:
            header += f" {'memo off':>9} {'vs peer':>8}"
        if cross:
            header += f" {'vs ' + reference_tag:>12}"
        print(header)
        print("-" * len(header))
        for name, ns in ours.get("rows", {}).items():
            d = dec.get("rows", {}).get(name)
            p, fastest = fastest_peer(peers_python, name)
            vs_dec = f"{ns / d:6.2f}x" if ns and d else "      -"
            vs_peer = f"{fastest / ns:7.1f}x" if ns and fastest else "       -"
            line = f"{name:22} {fmt(ns)} {fmt(d)} {fmt(p[0])} {fmt(p[1])} {fmt(p[2])} {vs_dec} {vs_peer}"
            f = flt.get("rows", {}).get(name)
            line += f" {f:7.0f} {ns / f:5.2f}x" if ns and f else f" {'-':>7} {'-':>6}"
            if cold:
                c = cold.get("rows", {}).get(name)
                line += f" {fmt(c)[1:]} " + (f"{fastest / c:7.1f}x" if c and fastest else f"{'-':>8}")
            if cross:
                # The same row against the reference interpreter's peers, a stricter comparison
                # where the reference runs the peers faster.
                _, reference_fastest = fastest_peer(reference, name)
                line += f" {reference_fastest / ns:11.1f}x" if ns and reference_fastest else f" {'-':>12}"
            print(line)
        for lib, result in peers.items():
            if "error" in result:
                print(f"{lib}: {result['error']}")
        sizes = [(lib, timed[job].get("pickle_bytes")) for lib, job in
                 [("tolvat", (python, "tolvat"))] + [(lib, (peers_python, lib)) for lib in ("pint", "astropy", "unyt")]]
        print("Bytes of pickle.dumps(3 m): " + ", ".join(f"{lib} {size}" for lib, size in sizes if size))
        free_threaded = version.endswith("t")
        if not free_threaded:
            ours_mem = json.loads(subprocess.run([python, os.path.join(HERE, "memory.py"), "tolvat"], capture_output=True, text=True).stdout)
            pint_mem = json.loads(subprocess.run([peers_python, os.path.join(HERE, "memory.py"), "pint"], capture_output=True, text=True).stdout)
            print("\nBytes per live quantity (tracemalloc, 100,000 objects)")
            for name, value in ours_mem["rows"].items():
                other = pint_mem["rows"].get(name)
                print(f"  {name:42} tolvat {value:6.0f}" + (f"   pint {other:6.0f}" if other else ""))
        else:
            print()
            subprocess.run([python, os.path.join(HERE, "scaling.py")])
        print()
        subprocess.run([python, os.path.join(HERE, "simplify_cost.py")])


if __name__ == "__main__":
    main()
