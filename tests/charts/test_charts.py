"""The benchmark charts, drawn from the stored run in bench/data/sample.json: nothing is timed.
Needs matplotlib (tests/requirements-charts.txt); run once, by scripts/run-tests.sh."""

import copy
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "bench" / "data" / "sample.json"
sys.path.insert(0, str(ROOT / "bench"))
import charts  # noqa: E402


@pytest.fixture(scope="module")
def run():
    return charts.load(SAMPLE)


def test_the_command_draws_every_chart_of_the_stored_run_and_runs_nothing(run, tmp_path):
    peers = tmp_path / "peers" / "bin" / "python"  # would be created by a benchmark run
    out = subprocess.run([sys.executable, ROOT / "bench" / "run.py", "--plot", tmp_path / "charts", "--from", SAMPLE,
                          "--peers-python", peers], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert not peers.parent.parent.exists()
    files = sorted(p.name for p in (tmp_path / "charts").iterdir())
    tags = [i["tag"] for i in run["interpreters"]]
    # The sample holds a run of a GIL interpreter and of a free-threaded one, with array rows.
    assert len(tags) >= 2 and any(t.endswith("t") for t in tags) and run["arrays"]
    assert files == sorted(["scalar.svg", "arrays.svg", "scaling.svg"] +
                           [f"{kind}-{tag}.svg" for tag in tags[1:] for kind in ("scalar", "arrays")
                            if any(e["python"] == tag for e in run[kind])])
    when = run["date"][:10]
    for name in files:
        text = (tmp_path / "charts" / name).read_text()
        ET.fromstring(text)  # well-formed SVG
        tag = name[:-4].partition("-")[2] or (tags[0] if name != "scaling.svg" else next(t for t in tags if t.endswith("t")))
        for stated in (run["machine"]["cpu"], f"CPython {tag}", when):
            assert stated in text, (name, stated)
    scalar = (tmp_path / "charts" / "scalar.svg").read_text()
    for e in run["scalar"]:
        if e["python"] == tags[0] and e["implementation"] == "tolvat":
            assert e["row"].replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;") in scalar


def points(fig):
    """(panel title, implementation) -> sorted (x, y) of the drawn marks."""
    marks = {}
    for ax in fig.axes:
        for line in ax.get_lines():
            if line.get_gid():
                marks[(ax.get_title(), line.get_gid())] = sorted(zip(line.get_xdata(), line.get_ydata()))
    return marks


def test_each_mark_is_the_stored_figure(run):
    tag = run["interpreters"][0]["tag"]
    fig = charts.scalar_figure(run, tag)
    rows = [t.get_text() for t in fig.axes[0].get_yticklabels()]
    expected = {}
    for e in run["scalar"]:
        if e["python"] == tag and e["row"] in rows:
            expected.setdefault(("", e["implementation"]), []).append((e["ns"], rows.index(e["row"])))
    assert rows == list(dict.fromkeys(e["row"] for e in run["scalar"] if e["python"] == tag and e["implementation"] == "tolvat"))
    assert points(fig) == {k: sorted(v) for k, v in expected.items()}

    fig = charts.arrays_figure(run, tag)
    expected = {}
    for e in run["arrays"]:
        if e["python"] == tag:
            expected.setdefault((e["row"], e["implementation"]), []).append((e["n"], e["seconds"]))
    assert points(fig) == {k: sorted(v) for k, v in expected.items()}

    tag = next(i["tag"] for i in run["interpreters"] if i["tag"].endswith("t"))
    fig = charts.scaling_figure(run, tag)
    ops = {(e["workload"], e["threads"]): e["ops_per_second"] for e in run["scaling"] if e["python"] == tag}
    ours = [w for w, threads in ops if threads == 1 and w != "machine (floats)"]
    speedup = [b.get_height() for b in fig.axes[1].patches]
    assert speedup == pytest.approx([ops[(w, 2)] / ops[(w, 1)] for w in ours])
    ceiling = [line for line in fig.axes[1].get_lines() if line.get_gid() == "ceiling"]
    assert ceiling[0].get_ydata()[0] == pytest.approx(ops[("machine (floats)", 2)] / ops[("machine (floats)", 1)])


@pytest.mark.parametrize("drop, absent", [
    (lambda r: r.update(arrays=[]), {"arrays"}),
    (lambda r: r.update(scaling=[]), {"scaling"}),
    # Before tolvat has array rows the chart still shows the peers against NumPy.
    (lambda r: r.update(arrays=[e for e in r["arrays"] if e["implementation"] != "tolvat"]), set()),
    (lambda r: r.update(scalar=[e for e in r["scalar"] if e["implementation"] != "tolvat"]), {"scalar"}),
])
def test_a_run_with_fewer_figures_draws_what_it_has(run, drop, absent):
    partial = copy.deepcopy(run)
    full = {(kind, tag) for _, kind, tag in charts.plan(partial)}
    drop(partial)
    planned = charts.plan(partial)
    assert {(kind, tag) for _, kind, tag in planned} == {(kind, tag) for kind, tag in full if kind not in absent}
    assert len({name for name, _, _ in planned}) == len(planned)
    # What is planned can be drawn; what is not has nothing to draw.
    for kind, make in charts.MAKERS.items():
        for interpreter in partial["interpreters"]:
            drawn = make(partial, interpreter["tag"])
            assert (drawn is not None) == any(k == kind and t == interpreter["tag"] for _, k, t in planned)


@pytest.mark.parametrize("content, message", [
    ("{", "not JSON"),
    ('{"format": 99}', "format 1"),
    ('{"format": 1, "date": "2026-01-01T00:00:00+00:00", "machine": {}}', "'interpreters'"),
])
def test_a_file_that_is_no_stored_run_is_refused_in_one_line(tmp_path, content, message):
    bad = tmp_path / "bad.json"
    bad.write_text(content)
    out = subprocess.run([sys.executable, ROOT / "bench" / "run.py", "--plot", tmp_path, "--from", bad],
                         capture_output=True, text=True)
    assert out.returncode == 2 and message in out.stderr and "Traceback" not in out.stderr
