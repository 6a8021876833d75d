"""Concurrent use of shared quantities: 8 threads released by a barrier do mixed work on a pool of
16 shared Tolvat and LogTolvat objects (see stress_workload.py for the operations and for the
exact rule the objects must satisfy afterwards). Under the GIL the switch interval is 1e-6 s, and
operands whose str() calls back into the pool make threads switch in the middle of a call.

scripts/stress.py runs the long version."""

import threading

import pytest

import stress_workload as workload
from tolvat import Tolvat

THREADS = 8
OPERATIONS = 5000  # per thread
# How long a thread waits for another before the test gives up: a guard against hanging only.
GUARD = 120.0


def test_shared_pool_survives_mixed_concurrent_work(capsys):
    outcome = workload.run(THREADS, OPERATIONS, seed=7)
    with capsys.disabled():
        print("\n" + outcome.summary())
    assert outcome.unexpected == []
    assert outcome.bad_states == []
    assert outcome.operations == THREADS * OPERATIONS
    # The operands of no accepted kind were described (their str() ran) and refused as documented.
    assert outcome.exceptions[("TypeError", "operand of no accepted kind (expected)")] > 0


def test_the_states_checked_against_are_all_the_rewrites_can_reach():
    assert workload._sanity()
    # The tolerance is not idle: rewriting in place moves some base values by an ulp.
    tolvats, _, _ = workload.build_pool()
    drifts = []
    for q in tolvats:
        _, base = workload.measure(q)
        drifts += [abs(b - base) for _, b in workload.reachable_measures(q)]
    assert 0 < max(drifts) <= workload.MAX_ULPS


def test_exclusive_call_while_another_thread_reads():
    """One thread is inside as_unit (shared access, held while its operand is described); another
    thread's simplify_inplace is refused, its reads go through, and nothing changes."""
    q = (Tolvat.unit("m") * 3.5).as_unit("ft2/m")
    before = workload.measure(q)
    inside = threading.Event()
    release = threading.Event()
    seen = {}

    class Slow:
        def __str__(self):
            inside.set()
            release.wait(GUARD)
            return "slow"

    def reader():
        try:
            q.as_unit(Slow())
        except TypeError as exc:
            seen["reader"] = str(exc)

    t = threading.Thread(target=reader)
    t.start()
    assert inside.wait(GUARD)
    try:
        for call in (q.simplify_inplace, q.latex, lambda: q.round_sfig(2), lambda: str(q)):
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                call()
        assert workload.measure(q) == before
        assert q.as_base_units().as_number() == pytest.approx(3.5)
        assert q + q is not None
    finally:
        release.set()
        t.join()
    assert seen["reader"] == "slow cannot be coerced into a unit"
    q.simplify_inplace()  # free again
