"""Benchmarks of tolvat: per-operation time against decimal.Decimal and the pure-Python peers,
bytes per quantity, free-threaded scaling (on a free-threaded interpreter) and the cost of str()
with its simplification.

    python3 bench/run.py [--peers-python PATH] [--python PATH ...] [--rounds N] [--cold]
                         [--sizes N,N,...] [--no-arrays] [--scaling-rounds N]
                         [--json FILE] [--plot DIR]
    python3 bench/run.py --plot DIR --from FILE

tolvat and Decimal run under each --python (default: this interpreter; tolvat must be installed
there). pint, astropy and unyt run in virtual environments that have them: --peers-python
(default .venv-bench/bin/python, created on first use from this interpreter) is the reference,
and every other --python gets one of its own, .venv-bench-<version> (created on first use), so
that each interpreter's table also compares like with like. Prints nanoseconds per call and the
ratios the project aims at: within 3x of Decimal, 50x faster than the fastest peer, and for the
text forms within 2x of str() of a float of the same value (the "float" column).

With --cold every tolvat row is also timed with the display memo switched off
(TOLVAT_MEMO=0), which is what each call costs before its unit has been seen.

The array rows time one operation over a whole array at each length of --sizes (default 1, 100,
10,000 and 1,000,000), for tolvat, the peers and raw NumPy doing the same numeric work (the floor);
--no-arrays leaves them out.

--json FILE keeps the figures of the run, with the machine, the interpreters and the date;
--plot DIR draws SVG charts of them with matplotlib (bench/charts.py), and with --from FILE draws
the charts of a stored run without timing anything. The benchmark itself needs only the standard
library; matplotlib only for the charts.
"""

import argparse
import datetime
import json
import os
import platform
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


def measure_once(python, library, sizes=None):
    """One run of ops.py: the scalar rows, or with `sizes` the array rows at those lengths."""
    env = dict(os.environ)
    if library == "tolvat-cold":
        library = "tolvat"
        env["TOLVAT_MEMO"] = "0"
    command = [python, OPS, library]
    if sizes is not None:
        command += ["--arrays", ",".join(str(n) for n in sizes)]
    out = subprocess.run(command, capture_output=True, text=True, env=env)
    if out.returncode != 0:
        return {"library": library, "error": out.stderr.strip().splitlines()[-1:]}
    return json.loads(out.stdout.strip().splitlines()[-1])


def measure_all(jobs, rounds):
    """Times every (python, library[, sizes]) job in `rounds` rounds, one job after the other
    within a round, and keeps the best figure of each row. A virtual machine's speed drifts over
    minutes; spreading every library's samples over the whole run lets all of them meet the same
    fast and slow spells, so the ratios between them stay fair."""
    results = {}
    for _ in range(rounds):
        for job in jobs:
            result = measure_once(*job)
            best = results.setdefault(job, result)
            if "error" in result or "error" in best:
                continue
            if "arrays" in result:
                kept = {(r["row"], r["n"]): r for r in best["arrays"]}
                for r in result["arrays"]:
                    old = kept.setdefault((r["row"], r["n"]), r)
                    old["seconds"] = min(old["seconds"], r["seconds"])
                best["arrays"] = list(kept.values())
                continue
            for name, ns in result["rows"].items():
                old = best["rows"].get(name)
                if ns is not None and (old is None or ns < old):
                    best["rows"][name] = ns
    return results


def fmt(ns):
    return f"{ns:10.0f}" if ns is not None else "         -"


def machine():
    cpu = None
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), None)
    except OSError:
        pass
    return {
        "cpu": cpu or platform.processor() or platform.machine(),
        "cores": os.cpu_count(),
        "arch": platform.machine(),
        "system": f"{platform.system()} {platform.release()}",
    }


def source_revision():
    """The commit of this checkout, with "+" when tracked files differ from it."""
    def git(*args):
        out = subprocess.run(["git", "-C", ROOT, *args], capture_output=True, text=True)
        return out.stdout.strip() if out.returncode == 0 else None

    commit = git("rev-parse", "--short", "HEAD")
    return commit and commit + ("+" if git("status", "--porcelain", "--untracked-files=no") else "")


def print_arrays(python, version, timed, peers_python):
    """The array rows of one interpreter: microseconds per call at each length."""
    def result(p, lib):
        return {(r["row"], r["n"]): r["seconds"] for r in timed.get((p, lib, "arrays"), {}).get("arrays", [])}

    floor, ours = result(python, "numpy"), result(python, "tolvat")
    peers = [result(peers_python, lib) for lib in ("pint", "astropy", "unyt")]
    keys = list(dict.fromkeys(list(floor) + list(ours) + [k for p in peers for k in p]))
    if not keys:
        return
    print(f"\nPython {version}: arrays, microseconds per call")
    header = (f"{'operation':22} {'n':>9} {'NumPy':>9} {'tolvat':>9} {'pint':>9} {'astropy':>9} {'unyt':>9}"
              f" {'vs NumPy':>9} {'vs peer':>8}")
    print(header)
    print("-" * len(header))

    def us(seconds):
        return f"{seconds * 1e6:9.2f}" if seconds is not None else f"{'-':>9}"

    for key in keys:
        f, t = floor.get(key), ours.get(key)
        p = [peer.get(key) for peer in peers]
        fastest = min((x for x in p if x), default=None)
        line = f"{key[0]:22} {key[1]:9} {us(f)} {us(t)} {us(p[0])} {us(p[1])} {us(p[2])}"
        line += f" {t / f:8.2f}x" if t and f else f" {'-':>9}"
        line += f" {fastest / t:7.1f}x" if t and fastest else f" {'-':>8}"
        print(line)
    for lib in ("tolvat", "pint", "astropy", "unyt"):
        p = python if lib == "tolvat" else peers_python
        error = timed.get((p, lib, "arrays"), {}).get("error")
        if error:
            print(f"{lib} arrays: {error}")


def figures(run, timed, interpreters, tag_of, memory, scaling):
    """Everything measured, in the stored form that bench/charts.py reads: `tag_of` gives the
    version of every interpreter that ran a job."""
    run["interpreters"] = interpreters
    run["libraries"], run["scalar"], run["arrays"], run["pickle_bytes"] = {}, [], [], []
    for job, result in timed.items():
        tag, library = tag_of[job[0]], job[1]
        if result.get("version"):
            run["libraries"].setdefault(tag, {})[result["library"]] = result["version"]
        if "error" in result:
            continue
        for r in result.get("arrays", []):
            run["arrays"].append({"python": tag, "implementation": library, **r})
        for row, ns in result.get("rows", {}).items():
            if ns is not None:
                run["scalar"].append({"python": tag, "implementation": library, "row": row, "ns": ns})
        if result.get("pickle_bytes") and library != "tolvat-cold":
            run["pickle_bytes"].append({"python": tag, "implementation": library, "bytes": result["pickle_bytes"]})
    run["memory"] = [{"python": tag, "implementation": lib, "row": row, "bytes": value}
                     for (tag, lib), rows in memory.items() for row, value in rows.items()]
    run["scaling"] = scaling
    return run


def write_figures(run, f):
    """One entry a line: small enough to keep in the repository, and readable in a diff."""
    f.write("{\n")
    items = list(run.items())
    for i, (key, value) in enumerate(items):
        end = ",\n" if i + 1 < len(items) else "\n"
        if isinstance(value, list):
            f.write(f"{json.dumps(key)}: [\n")
            f.write(",\n".join("  " + json.dumps(entry) for entry in value))
            f.write(f"\n]{end}")
        else:
            f.write(f"{json.dumps(key)}: {json.dumps(value)}{end}")
    f.write("}\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--python", action="append", default=None)
    parser.add_argument("--peers-python", default=os.path.join(ROOT, ".venv-bench", "bin", "python"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cold", action="store_true", help="also time tolvat with its memo off")
    parser.add_argument("--arrays", action=argparse.BooleanOptionalAction, default=True,
                        help="time the array rows (default: yes)")
    parser.add_argument("--sizes", default=",".join(str(n) for n in (1, 100, 10_000, 1_000_000)),
                        help="array lengths of the array rows, separated by commas")
    parser.add_argument("--scaling-rounds", type=int, default=60,
                        help="rounds of bench/scaling.py on a free-threaded interpreter (default 60)")
    parser.add_argument("--json", metavar="FILE", help="keep the figures of this run in FILE")
    parser.add_argument("--plot", metavar="DIR", help="draw SVG charts into DIR (needs matplotlib)")
    parser.add_argument("--from", dest="source", metavar="FILE",
                        help="with --plot: draw the figures stored in FILE, run nothing")
    args = parser.parse_args()
    if args.source is not None or args.plot is not None:
        sys.path.insert(0, HERE)
        try:
            import charts
        except ImportError as error:
            parser.error(f"--plot needs matplotlib: {error}")
    if args.source is not None:
        if args.plot is None or args.json is not None:
            parser.error("--from FILE draws stored figures: give it with --plot DIR and without --json")
        try:
            run = charts.load(args.source)
        except (OSError, ValueError) as error:
            parser.error(f"cannot draw {args.source}: {error}")
        for path in charts.draw(run, args.plot):
            print(path)
        return
    try:
        lengths = [int(n) for n in args.sizes.split(",")]
    except ValueError:
        parser.error(f"--sizes: not a list of lengths: {args.sizes!r}")
    run = {"format": 1, "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
           "machine": machine(), "source": source_revision(), "rounds": args.rounds}
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
    array_jobs = []
    if args.arrays:
        array_jobs = [(p, lib, tuple(lengths)) for p in peer_pythons for lib in ("pint", "astropy", "unyt")]
        array_jobs += [(python, lib, tuple(lengths)) for python in pythons for lib in ("numpy", "tolvat")]
    timed = measure_all(peer_jobs + own_jobs + array_jobs, args.rounds)
    # Array results are looked up as (python, library, "arrays").
    timed = {(job[0], job[1], "arrays") if len(job) == 3 else job: result for job, result in timed.items()}
    memory, scaling = {}, []

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
        print_arrays(python, version, timed, peers_python)
        free_threaded = version.endswith("t")
        if not free_threaded:
            ours_mem = json.loads(subprocess.run([python, os.path.join(HERE, "memory.py"), "tolvat"], capture_output=True, text=True).stdout)
            pint_mem = json.loads(subprocess.run([peers_python, os.path.join(HERE, "memory.py"), "pint"], capture_output=True, text=True).stdout)
            memory[(version, "tolvat")] = ours_mem["rows"]
            memory[(version, "pint")] = pint_mem["rows"]
            print("\nBytes per live quantity (tracemalloc, 100,000 objects)")
            for name, value in ours_mem["rows"].items():
                other = pint_mem["rows"].get(name)
                print(f"  {name:42} tolvat {value:6.0f}" + (f"   pint {other:6.0f}" if other else ""))
        else:
            print()
            sys.stdout.flush()
            # The report goes straight through (stderr); the figures come back on stdout.
            out = subprocess.run([python, os.path.join(HERE, "scaling.py"), "--json", "--rounds", str(args.scaling_rounds)],
                                 stdout=subprocess.PIPE, stderr=sys.stdout, text=True)
            if out.returncode == 0:
                figures_ = json.loads(out.stdout.strip().splitlines()[-1])
                scaling += [{"python": version, **entry} for entry in figures_["throughput"]]
        print()
        sys.stdout.flush()
        subprocess.run([python, os.path.join(HERE, "simplify_cost.py")])
    interpreters = [{"tag": tags[p], "path": p, "peers_path": peers_for[p]} for p in pythons]
    tag_of = {reference: reference_tag, **{peers_for[p]: tags[p] for p in pythons}, **tags}
    run = figures(run, timed, interpreters, tag_of, memory, scaling)
    if args.json is not None:
        with open(args.json, "w") as f:
            write_figures(run, f)
        print(f"\nfigures kept in {args.json}")
    if args.plot is not None:
        for path in charts.draw(run, args.plot):
            print(path)


if __name__ == "__main__":
    main()
