"""Worker threads of the simplification search: they are really started, end soon after their
search (also when the search returns without waiting for them), never accumulate, and do not
disturb the interpreter's exit. See worker_support.py for the collections used."""

import os
import sys
import time

import pytest

import worker_support as ws

pytestmark = pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc/self/task")

EXIT_RUNS = 20  # scripts/stress.py runs 200


def settle(baseline, limit=5.0):
    """Waits, without hogging a core, until only `baseline` threads are left. Returns the wait."""
    start = time.perf_counter()
    while ws.thread_count() > baseline and time.perf_counter() - start < limit:
        time.sleep(0.0005)
    return time.perf_counter() - start


@pytest.fixture
def baseline():
    """This process's threads once the count has held still for a while (threads of earlier
    tests, or workers of earlier searches, may still be winding down)."""
    count, since, start = ws.thread_count(), time.perf_counter(), time.perf_counter()
    while time.perf_counter() - since < 0.2 and time.perf_counter() - start < 3.0:
        time.sleep(0.005)
        now = ws.thread_count()
        if now != count:
            count, since = now, time.perf_counter()
    return count


def test_abandoned_workers_end_soon_after_their_search(baseline):
    q = ws.abandoning()
    seen_alive = 0
    waits = []
    for _ in range(40):
        assert settle(baseline) < 5.0
        result = q.simplify()
        if ws.thread_count() > baseline:
            seen_alive += 1
        waits.append(settle(baseline))
        assert str(result) == "1 [m2]"
    # The search returned before its workers ended (they were left to wind down) ...
    assert seen_alive > 0
    # ... and they needed no more than being scheduled once to notice.
    waits.sort()
    assert waits[len(waits) // 2] < 0.1, waits
    assert waits[-1] < 2.0, waits


def test_no_threads_accumulate_over_ten_thousand_searches(baseline):
    light = ws.abandoning()
    heavy = ws.exhaustive()
    peak = baseline
    for i in range(10_000):
        light.simplify()
        if i % 500 == 0:
            heavy.simplify()  # the whole range, workers busy throughout
            peak = max(peak, ws.thread_count())
    assert peak <= baseline + 2 * (os.cpu_count() or 1)  # the live-worker cap (see below)
    settle(baseline)
    assert ws.thread_count() <= baseline


def test_simplification_in_many_threads_keeps_the_cap_and_the_answer(baseline):
    import threading

    light = ws.abandoning()
    heavy = ws.exhaustive()
    expected_heavy = str(heavy.simplify())
    results = []
    peak = [0]

    def run():
        for _ in range(5):
            results.append((str(light.simplify()), str(heavy.simplify())))
            peak[0] = max(peak[0], ws.thread_count())

    threads = [threading.Thread(target=run) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert set(results) == {("1 [m2]", expected_heavy)}
    # A worker gives its slot back just before its thread ends, so a thread that is still being
    # torn down can be listed next to its successor: at most one such thread per slot.
    cap = os.cpu_count() or 1
    assert peak[0] <= baseline + 4 + 2 * cap
    settle(baseline)
    assert ws.thread_count() <= baseline


def test_interpreter_exits_cleanly_while_workers_run():
    env = dict(os.environ)
    clean, failures = ws.exit_runs(EXIT_RUNS, sys.executable, env)
    assert failures == []
    assert clean == EXIT_RUNS
