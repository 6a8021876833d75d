"""Worker threads of the simplification search: they are really started, end soon after their
search (also when the search returns without waiting for them), never accumulate, and do not
disturb the interpreter's exit. See worker_support.py for the collections used."""

import os
import sys

import pytest

import worker_support as ws
from thread_support import run_together

pytestmark = pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc/self/task")

EXIT_RUNS = 20  # scripts/stress.py runs 200


@pytest.fixture
def baseline():
    assert ws.workers_end()
    return ws.quiet_count()


def hardware_threads() -> int:
    """What the cap is: one worker per hardware thread the system has online."""
    return max(1, os.sysconf("SC_NPROCESSORS_ONLN"))


def test_abandoned_workers_end_by_themselves(baseline):
    """How soon they end is a figure of bench/simplify_cost.py."""
    q = ws.abandoning()
    seen_alive = 0
    for _ in range(40):
        assert ws.workers_end()
        ws.stats(reset=True)
        result = q.simplify()
        after = ws.stats()
        assert after["started"] > 0
        if after["live"] > 0:
            seen_alive += 1
        assert str(result) == "1 [m2]"
    # The search returned before its workers ended (they were left to wind down) ...
    assert seen_alive > 0
    # ... and they ended without anyone joining them: their slots and then their threads are gone.
    assert ws.workers_end()
    assert ws.settle(baseline)


def test_no_threads_accumulate_over_ten_thousand_searches(baseline):
    light = ws.abandoning()
    heavy = ws.exhaustive()
    ws.stats(reset=True)
    for i in range(10_000):
        light.simplify()
        if i % 500 == 0:
            heavy.simplify()  # the whole range, workers busy throughout
    counts = ws.stats()
    assert counts["started"] > 0
    assert counts["cap"] == hardware_threads() and counts["peak"] <= counts["cap"]
    assert ws.workers_end()
    assert ws.settle(baseline)


def test_simplification_in_many_threads_keeps_the_cap_and_the_answer(baseline):
    light = ws.abandoning()
    heavy = ws.exhaustive()
    expected_heavy = str(heavy.simplify())
    results = []
    ws.stats(reset=True)

    def run():
        for _ in range(5):
            results.append((str(light.simplify()), str(heavy.simplify())))

    assert run_together(run, run, run, run) == []
    assert set(results) == {("1 [m2]", expected_heavy)}
    # The slots held at once, counted where the cap is kept: four searching threads between them
    # never hold more than one per hardware thread.
    counts = ws.stats()
    assert counts["started"] > 0
    assert counts["cap"] == hardware_threads() and counts["peak"] <= counts["cap"]
    assert ws.workers_end()
    assert ws.settle(baseline)


def test_interpreter_exits_cleanly_while_workers_run():
    env = dict(os.environ)
    clean, failures = ws.exit_runs(EXIT_RUNS, sys.executable, env)
    assert failures == []
    assert clean == EXIT_RUNS
