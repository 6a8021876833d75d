"""Collections whose simplification starts worker threads, and the helpers to watch those threads,
shared by test_workers.py, scripts/stress.py and bench/simplify_cost.py.

The search of a full simplification hands later branches to worker threads (at most one per
hardware thread, process-wide) only when the range of mappings below a node is large (tens of
thousands) and the collection's full powers fail the exact dimension test, which happens when
fractional unit exponents make the sums round differently in another order. Custom units with
fractional exponents give such collections:

- ABANDONING: m2 . B40 . C40 . D40 with B = m^0.13 s^0.5, C = m^-0.1, D = m^-0.03 s^-0.5. The
  root starts workers for its later children, then the calling thread finds m2 two steps down and
  returns at once: the workers it leaves behind must notice and end by themselves.
- EXHAUSTIVE: u0^16 . u1^16 . u2^16 . u3^16 with exponents 0.1, 0.2, 0.3, 0.01 of m. No mapping
  satisfies, so the whole range is searched (tens of milliseconds) with workers busy throughout.

The cap is checked where it is kept: `Tolvat._worker_stats()` reads the process-wide counts of
worker slots (held now, most held at once, workers started). Waits poll for the event they are
about with a generous deadline, a guard against hanging only, never a measure of speed.
"""

import os
import sys
import textwrap
import time

from tolvat import Tolvat

U = Tolvat.unit


def thread_count() -> int:
    """Threads of this process, as the kernel lists them."""
    return len(os.listdir("/proc/self/task"))


# How long a wait for something that must happen goes on before the test gives up: long enough for
# any machine, however loaded, so that only something that never happens fails.
GUARD = 120.0


def stats(reset: bool = False) -> dict:
    """The worker counts: "cap", "live" (slots held now), "peak" (most held at once since the last
    reset), "started" (since the last reset). With reset, the counts are read, then restarted."""
    return Tolvat._worker_stats(reset)


def workers_end(timeout: float = GUARD) -> bool:
    """Waits, without hogging a core, until no worker holds a slot; True when none does."""
    deadline = time.monotonic() + timeout
    while stats()["live"] > 0 and time.monotonic() < deadline:
        time.sleep(0.0005)
    return stats()["live"] == 0


def settle(baseline: int, timeout: float = GUARD) -> bool:
    """Waits, without hogging a core, until this process has no more than `baseline` threads or
    the timeout has passed; True when it has."""
    deadline = time.monotonic() + timeout
    while thread_count() > baseline and time.monotonic() < deadline:
        time.sleep(0.0005)
    return thread_count() <= baseline


def quiet_count() -> int:
    """This process's threads once the count has held still for 0.2 s (threads of earlier work,
    or workers of earlier searches, may still be winding down), waiting 3 s at most."""
    count, since, deadline = thread_count(), time.monotonic(), time.monotonic() + 3.0
    while time.monotonic() - since < 0.2 and time.monotonic() < deadline:
        time.sleep(0.005)
        now = thread_count()
        if now != count:
            count, since = now, time.monotonic()
    return count


def abandoning():
    b = Tolvat.custom("bee", "B", U("m") ** (0.1 + 0.03) * U("s") ** 0.5)
    c = Tolvat.custom("cee", "C", U("m") ** -0.1)
    d = Tolvat.custom("dee", "D", U("m") ** -0.03 * U("s") ** -0.5)
    return U("m") ** 2 * b**40 * c**40 * d**40


def exhaustive():
    units = [Tolvat.custom(f"u{i}", f"u{i}", U("m") ** e) for i, e in enumerate((0.1, 0.2, 0.3, 0.01))]
    q = units[0] ** 16
    for u in units[1:]:
        q = q * u**16
    return q


# A child interpreter that leaves the process while searches and their workers are running:
# daemon threads keep simplifying (workers busy), the main thread abandons a search of its own
# and exits normally right after, within a few milliseconds.
CHILD = textwrap.dedent(
    """
    import random, sys, threading, time
    sys.path.insert(0, {path!r})
    import worker_support as ws
    heavy = ws.exhaustive()
    light = ws.abandoning()
    def spin():
        while True:
            heavy.simplify()
    for _ in range(2):
        threading.Thread(target=spin, daemon=True).start()
    time.sleep(random.random() * 0.03)
    assert str(light.simplify()) == "1 [m2]"
    """
).format(path=os.path.dirname(os.path.abspath(__file__)))


def exit_runs(count: int, python: str = sys.executable, env=None, parallel: int = 2):
    """Runs the child `count` times, `parallel` at a time; returns (clean exits, failures), a
    failure being (exit status, end of its standard error)."""
    import subprocess

    failures = []
    clean = 0
    started = 0
    running = []
    while started < count or running:
        while started < count and len(running) < parallel:
            running.append(subprocess.Popen([python, "-c", CHILD], stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, text=True, env=env))
            started += 1
        proc = running.pop(0)
        _, err = proc.communicate(timeout=GUARD)
        if proc.returncode == 0 and err == "":
            clean += 1
        else:
            failures.append((proc.returncode, err[-2000:]))
    return clean, failures
