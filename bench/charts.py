"""SVG charts of one benchmark run, drawn with matplotlib from the figures bench/run.py keeps.

    python3 bench/run.py --plot DIR --from FILE

The stored run (format 1) is one JSON object:

    "date"          when the run started, ISO 8601 in UTC
    "machine"       {"cpu", "cores", "arch", "system"}
    "source"        the commit of the checkout that ran it ("+" when it had changes)
    "interpreters"  [{"tag": "3.11.7" or "3.14.2t", "path", "peers_path"}], tolvat's interpreters
    "libraries"     {tag: {library: version}}
    "scalar"        [{"python": tag, "implementation", "row", "ns"}]: nanoseconds per call;
                    implementations tolvat, tolvat-cold (memo off), decimal, float, pint,
                    astropy, unyt
    "arrays"        [{"python": tag, "implementation", "row", "n", "seconds"}]: seconds per call
                    over an array of n values; implementations tolvat, numpy (the numbers alone),
                    pint, astropy, unyt
    "scaling"       [{"python": tag, "workload", "threads", "ops_per_second"}] of a free-threaded
                    interpreter; the workload "machine (floats)" is the same loop on plain floats
    "pickle_bytes", "memory"  kept for reference, not drawn

Every list may be empty or hold only some implementations: each chart draws what is there.
draw() writes, for tolvat's first interpreter, scalar.svg and arrays.svg, and for every further
one scalar-TAG.svg and arrays-TAG.svg; scaling.svg for the first interpreter with scaling figures.
"""

import datetime
import json
import os

import matplotlib
from matplotlib.figure import Figure
from matplotlib.ticker import FixedLocator, FuncFormatter, LogLocator, NullLocator

FORMAT = 1

# Okabe and Ito's colours, which stay apart for every kind of colour vision.
STYLE = {
    "tolvat": dict(label="tolvat", color="#0072B2", marker="o", markersize=7),
    "tolvat-cold": dict(label="tolvat, memo off", color="#0072B2", marker="o", markersize=6, markerfacecolor="white"),
    "pint": dict(label="pint", color="#E69F00", marker="s", markersize=5.5),
    "astropy": dict(label="astropy", color="#009E73", marker="^", markersize=6),
    "unyt": dict(label="unyt", color="#CC79A7", marker="D", markersize=5),
    "decimal": dict(label="decimal.Decimal", color="#555555", marker="x", markersize=6),
    "float": dict(label="str() of a float", color="#555555", marker="+", markersize=8),
    "numpy": dict(label="raw NumPy (the floor)", color="black", marker="", linestyle="--"),
}
PEERS = ("pint", "astropy", "unyt")


def load(path):
    """The stored run in `path`; ValueError if it is not one."""
    with open(path) as f:
        try:
            run = json.load(f)
        except json.JSONDecodeError as error:
            raise ValueError(f"not JSON: {error}") from None
    if not isinstance(run, dict) or run.get("format") != FORMAT:
        raise ValueError(f"not a stored benchmark run of format {FORMAT}")
    for key, kind in (("date", str), ("machine", dict), ("interpreters", list)):
        if not isinstance(run.get(key), kind):
            raise ValueError(f"no {key!r}")
    for key in ("scalar", "arrays", "scaling"):
        if not isinstance(run.setdefault(key, []), list):
            raise ValueError(f"{key!r} is not a list")
    return run


def caption(run, tag):
    """Machine, interpreter and date of the run, and the versions that took part."""
    m = run["machine"]
    when = datetime.datetime.fromisoformat(run["date"]).astimezone(datetime.timezone.utc)
    ft = " (free-threaded)" if tag.endswith("t") else ""
    line = (f"{m.get('cpu')}, {m.get('cores')} cores, {m.get('arch')}, {m.get('system')}  ·  "
            f"CPython {tag}{ft}  ·  {when:%Y-%m-%d %H:%M} UTC")
    versions = run.get("libraries", {}).get(tag, {})
    others = ", ".join(f"{lib} {versions[lib]}" for lib in ("numpy", "pint", "astropy", "unyt") if lib in versions)
    source = f"tolvat {run['source']}" if run.get("source") else "tolvat"
    return line + f"\n{source}" + (f", {others}" if others else "")


def _figure(width, height):
    fig = Figure(figsize=(width, height), layout="constrained")
    return fig


def _foot(fig, run, tag):
    fig.get_layout_engine().set(h_pad=0.08)
    fig.supxlabel(caption(run, tag), fontsize=8, color="#333333", x=0.01, ha="left")


def _time_text(seconds, _=None):
    for scale, unit in ((1, "s"), (1e-3, "ms"), (1e-6, "µs"), (1e-9, "ns")):
        if seconds >= scale * 0.999:
            return f"{seconds / scale:g} {unit}"
    return f"{seconds * 1e9:g} ns"


def scalar_figure(run, tag):
    """Nanoseconds per call of every scalar row that tolvat has, each implementation a marker on
    the row's line; log scale. None when the run has no such row."""
    if not has_figures(run, "scalar", tag):
        return None
    entries = [e for e in run["scalar"] if e["python"] == tag]
    rows = list(dict.fromkeys(e["row"] for e in entries if e["implementation"] == "tolvat"))
    where = {row: i for i, row in enumerate(rows)}
    fig = _figure(10, 0.26 * len(rows) + 1.9)
    ax = fig.add_subplot()
    values = {}
    for e in entries:
        if e["row"] in where:
            values.setdefault(e["implementation"], []).append((e["ns"], where[e["row"]]))
    for impl in ("decimal", "float", "pint", "astropy", "unyt", "tolvat-cold", "tolvat"):
        if impl in values:
            xs, ys = zip(*values[impl])
            ax.plot(xs, ys, linestyle="none", gid=impl, zorder=3 if impl.startswith("tolvat") else 2, **STYLE[impl])
    ax.set_xscale("log")
    ax.set_yticks(range(len(rows)), rows, fontsize=8.5, family="monospace")
    ax.set_ylim(len(rows) - 0.4, -0.6)
    ax.grid(axis="y", color="#e5e5e5", linewidth=0.8)
    ax.grid(axis="x", which="major", color="#cccccc", linewidth=0.6)
    ax.set_axisbelow(True)
    ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: _time_text(x * 1e-9)))
    ax.tick_params(axis="x", labelsize=8.5, top=True, labeltop=True)
    # The lead over the fastest peer, at the right of each row.
    peer_best = {}
    for e in entries:
        if e["implementation"] in PEERS and e["row"] in where:
            peer_best[e["row"]] = min(e["ns"], peer_best.get(e["row"], float("inf")))
    ours = {row: ns for ns, row in ((ns, rows[i]) for ns, i in values["tolvat"])}
    for row, i in where.items():
        if row in peer_best:
            ax.annotate(f"{peer_best[row] / ours[row]:.0f}x" if peer_best[row] >= 10 * ours[row]
                        else f"{peer_best[row] / ours[row]:.1f}x",
                        xy=(1.01, i), xycoords=("axes fraction", "data"), va="center", fontsize=8, color="#0072B2")
    ax.annotate("lead", xy=(1.01, 1.0), xycoords="axes fraction", va="bottom", fontsize=8, color="#0072B2")
    fig.suptitle("Time per operation, log scale (left is faster); at the right, tolvat's lead over the fastest peer",
                 fontsize=10.5, x=0.01, ha="left")
    # Above the upper tick labels.
    ax.legend(loc="lower left", bbox_to_anchor=(0, 1), borderaxespad=1.9, ncols=7, fontsize=8, frameon=False,
              numpoints=1, handletextpad=0.2, columnspacing=1.2)
    _foot(fig, run, tag)
    return fig


def arrays_figure(run, tag):
    """Seconds per call against array length, one panel a row, every implementation a line and
    raw NumPy dashed as the floor. None when the run has no array rows."""
    if not has_figures(run, "arrays", tag):
        return None
    entries = [e for e in run["arrays"] if e["python"] == tag]
    rows = list(dict.fromkeys(e["row"] for e in entries))
    columns = 4
    panels = len(rows) + 1  # the last one holds the legend
    lines = -(-panels // columns)
    fig = _figure(3.1 * columns, 2.7 * lines + 0.9)
    axes = list(fig.subplots(lines, columns, squeeze=False, sharey=True).flat)
    sizes = sorted({e["n"] for e in entries})
    present = list(dict.fromkeys(e["implementation"] for e in entries))
    handles = {}
    for ax, row in zip(axes, rows):
        for impl in ("numpy", "pint", "astropy", "unyt", "tolvat"):
            points = sorted((e["n"], e["seconds"]) for e in entries if e["row"] == row and e["implementation"] == impl)
            if points:
                ns, seconds = zip(*points)
                style = dict(STYLE[impl], markersize=4.5 if impl != "tolvat" else 6)
                (handles[impl],) = ax.plot(ns, seconds, gid=impl, linewidth=1.6 if impl == "tolvat" else 1.1,
                                           zorder=3 if impl == "tolvat" else 2, **style)
        if "tolvat" in present and not any(e["row"] == row and e["implementation"] == "tolvat" for e in entries):
            ax.text(0.03, 0.96, "no tolvat figure in this run", transform=ax.transAxes, va="top", fontsize=7.5,
                    color="#0072B2")
        ax.set_title(row, fontsize=9.5, family="monospace")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.xaxis.set_major_locator(FixedLocator(sizes))
        ax.xaxis.set_major_formatter(FuncFormatter(lambda n, _: f"{n:,.0f}"))
        ax.yaxis.set_major_locator(LogLocator(base=10))
        for axis in (ax.xaxis, ax.yaxis):
            axis.set_minor_locator(NullLocator())
        ax.yaxis.set_major_formatter(FuncFormatter(_time_text))
        ax.tick_params(labelsize=7.5, labelleft=True)
        ax.grid(which="major", color="#dddddd", linewidth=0.6)
    for ax in axes[len(rows):]:
        ax.axis("off")
    for ax in axes[max(0, len(rows) - columns):len(rows)]:
        ax.set_xlabel("values in the array", fontsize=8)
    legend = axes[len(rows)]
    order = [impl for impl in ("tolvat", "pint", "astropy", "unyt", "numpy") if impl in handles]
    legend.legend([handles[i] for i in order], [STYLE[i]["label"] for i in order], loc="upper left", fontsize=8.5,
                  frameon=False)
    if "tolvat" not in present:
        legend.text(0, 0.1, "tolvat: no array-valued\nquantities in this run", fontsize=8, color="#0072B2",
                    transform=legend.transAxes)
    fig.suptitle("Operations over arrays: time per call against the number of values (log-log; lower is faster)",
                 fontsize=11, x=0.01, ha="left")
    _foot(fig, run, tag)
    return fig


def scaling_figure(run, tag):
    """Throughput of one and two threads, and the speed-up of two threads over one, for tolvat
    and for the same loop on plain floats, the most this machine gives any Python code. None when
    the run has no scaling figures for `tag`."""
    if not has_figures(run, "scaling", tag):
        return None
    entries = [e for e in run["scaling"] if e["python"] == tag]
    ops = {(e["workload"], e["threads"]): e["ops_per_second"] for e in entries}
    workloads = list(dict.fromkeys(e["workload"] for e in entries))
    ceiling = "machine (floats)"
    fig = _figure(10, 4.2)
    left, right = fig.subplots(1, 2, width_ratios=(3, 2))
    width = 0.38
    for k, threads in enumerate((1, 2)):
        xs = [i + (k - 0.5) * width for i in range(len(workloads))]
        heights = [ops.get((w, threads), 0) / 1e6 for w in workloads]
        bars = left.bar(xs, heights, width, label=f"{threads} thread{'s' if threads > 1 else ''}",
                        color="#0072B2" if threads == 1 else "#56B4E9", gid=f"throughput-{threads}")
        left.bar_label(bars, fmt="%.1f", fontsize=7.5, padding=2)
    names = {ceiling: "plain floats"}
    left.set_xticks(range(len(workloads)), [names.get(w, "tolvat,\n" + w) for w in workloads], fontsize=8.5)
    left.set_ylabel("million operations per second", fontsize=8.5)
    left.set_title("Throughput (a + b and a * b in a loop)", fontsize=10, loc="left")
    left.legend(fontsize=8, frameon=False)
    left.tick_params(axis="y", labelsize=8)
    ours = [w for w in workloads if w != ceiling and (w, 1) in ops and (w, 2) in ops]
    speedups = [ops[(w, 2)] / ops[(w, 1)] for w in ours]
    bars = right.bar(range(len(ours)), speedups, 0.55, color="#0072B2", gid="speedup")
    right.bar_label(bars, fmt="%.2fx", fontsize=9, label_type="center", color="white")
    if (ceiling, 1) in ops and (ceiling, 2) in ops:
        limit = ops[(ceiling, 2)] / ops[(ceiling, 1)]
        right.axhline(limit, color="#D55E00", linestyle="--", linewidth=1.2, gid="ceiling",
                      label=f"plain floats: {limit:.2f}x, the machine's ceiling")
    right.axhline(2, color="#999999", linestyle=":", linewidth=1, label="two cores: 2x")
    right.legend(loc="upper center", fontsize=8, frameon=False)
    right.set_xticks(range(len(ours)), ["tolvat,\n" + w for w in ours], fontsize=8.5)
    right.set_ylim(0, 2.7)
    right.set_ylabel("two threads against one", fontsize=8.5)
    right.set_title("Two-thread speed-up", fontsize=10, loc="left")
    right.tick_params(axis="y", labelsize=8)
    fig.suptitle("Free-threaded scaling: two threads against one", fontsize=11, x=0.01, ha="left")
    _foot(fig, run, tag)
    return fig


def has_figures(run, kind, tag):
    """Whether the run has anything to draw in the chart of `kind` for interpreter `tag`."""
    if kind == "scalar":
        return any(e["python"] == tag and e["implementation"] == "tolvat" for e in run["scalar"])
    return any(e["python"] == tag for e in run[kind])


MAKERS = {"scalar": scalar_figure, "arrays": arrays_figure, "scaling": scaling_figure}


def plan(run):
    """(file name, kind, interpreter) of every chart the run has figures for."""
    charts, taken = [], set()
    for interpreter in run["interpreters"]:
        tag = interpreter["tag"]
        for kind in MAKERS:
            if has_figures(run, kind, tag):
                charts.append(((kind if kind not in taken else f"{kind}-{tag}") + ".svg", kind, tag))
                taken.add(kind)
    return charts


def draw(run, directory):
    """Writes every chart the run has figures for into `directory`; returns their paths."""
    os.makedirs(directory, exist_ok=True)
    written = []
    # Text stays text (smaller files that can be searched), and the same run gives the same file.
    with matplotlib.rc_context({"svg.fonttype": "none", "svg.hashsalt": "tolvat", "font.size": 9}):
        for name, kind, tag in plan(run):
            path = os.path.join(directory, name)
            MAKERS[kind](run, tag).savefig(path, format="svg", metadata={"Date": None})
            written.append(path)
    return written
