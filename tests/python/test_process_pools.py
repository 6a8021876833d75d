"""Quantities mapped over process pools come back exactly as one process computes them."""

import multiprocessing
from concurrent.futures import ProcessPoolExecutor

import pytest

import travel_workload as work


@pytest.mark.parametrize("method", ["spawn", "forkserver"])
def test_pool_results_equal_the_single_process_ones(method):
    lengths, levels = work.lengths(300), work.levels(120)
    chunks = [lengths[i : i + 50] for i in range(0, len(lengths), 50)]
    with ProcessPoolExecutor(max_workers=2, mp_context=multiprocessing.get_context(method)) as pool:
        described = list(pool.map(work.describe_length, lengths, chunksize=25))
        leveled = list(pool.map(work.describe_level, levels, chunksize=25))
        sums = list(pool.map(work.sum_in_meters, chunks))
        echoed = list(pool.map(lambda_free_identity, lengths + levels, chunksize=40))
    assert [list(map(work.state, r)) for r in described] == [list(map(work.state, work.describe_length(q))) for q in lengths]
    assert [list(map(work.state, r)) for r in leveled] == [list(map(work.state, work.describe_level(x))) for x in levels]
    assert list(map(work.state, sums)) == [work.state(work.sum_in_meters(c)) for c in chunks]
    # Quantities sent there and back are the very same quantities.
    assert list(map(work.state, echoed)) == list(map(work.state, lengths + levels))


def lambda_free_identity(q):
    return q
