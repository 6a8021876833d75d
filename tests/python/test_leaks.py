"""Memory after many mixed operations, failing ones included (scripts/leak_check.py runs a million).
A leaked object per call would show as hundreds of kilobytes here; what remains is the
interpreter's own caches and free lists, which do not grow with the count."""

import os

import pytest

import leak_workload as lw


def test_tracemalloc_and_allocated_blocks_see_no_growth():
    growth, top = lw.measure_tracemalloc(count=30_000, warmup=5_000)
    assert growth < 64 * 1024, top
    before, after = lw.measure_blocks(count=60_000, warmup=10_000)
    assert after - before < 500


def under_address_sanitizer():
    """ASan keeps freed memory in quarantine, so resident memory says nothing under it."""
    try:
        with open("/proc/self/maps") as maps:
            return "libasan" in maps.read()
    except OSError:
        return False


@pytest.mark.skipif(not os.path.exists("/proc/self/statm") or under_address_sanitizer(),
                    reason="needs /proc, and memory not held back by ASan")
def test_resident_memory_does_not_grow():
    before, after = lw.measure_rss(count=100_000, warmup=20_000)
    assert after - before < 1024 * 1024


def test_array_operations_leave_no_objects_behind():
    # Every array operation's objects (arrays, buffers, temporaries of the step-by-step path) end
    # with it: the interpreter's count of allocated blocks stays where it was.
    before, after = lw.measure_blocks(count=30_000, warmup=5_000, arrays=True)
    assert after - before < 500
