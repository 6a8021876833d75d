"""A Dask pipeline over a local cluster of two worker processes gives the single-process results."""

import dask
import dask.bag as db
from distributed import Client, LocalCluster

import travel_workload as work
from tolvat import Tolvat


def test_a_dask_pipeline_over_two_worker_processes_matches_one_process():
    lengths, levels = work.lengths(12_000), work.levels(3_000)
    partitions = 12
    # The cluster's own deadlines (30 s to connect, by default) are only guards here: a loaded
    # machine may take longer to start two worker processes.
    slow_start = {"distributed.comm.timeouts.connect": "600s", "distributed.comm.timeouts.tcp": "600s",
                  "distributed.deploy.lost-worker-timeout": "600s"}
    with dask.config.set(slow_start), \
            LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            bag = db.from_sequence(lengths, npartitions=partitions)
            level_bag = db.from_sequence(levels, npartitions=4)
            # Per-partition sums in one unit, conversions of every quantity, and a reduction.
            sums = bag.map_partitions(lambda part: [work.sum_in_meters(part)])
            in_feet = bag.map(lambda q: q.as_unit("ft"))
            longest = bag.fold(lambda a, b: a if a >= b else b, lambda a, b: a if a >= b else b)
            level_sums = level_bag.map_partitions(lambda part: [work.combine_levels(part)])
            got_sums, got_feet, got_longest, got_levels = client.compute(
                [sums, in_feet, longest, level_sums], sync=True
            )
            assert len(client.scheduler_info()["workers"]) == 2

    # The same partitions, in the same order, in this process.
    chunks = [c.compute(scheduler="sync") for c in db.from_sequence(lengths, npartitions=partitions).to_delayed()]
    level_chunks = [c.compute(scheduler="sync") for c in db.from_sequence(levels, npartitions=4).to_delayed()]
    assert sum(map(len, chunks)) == len(lengths)
    assert list(map(work.state, got_sums)) == [work.state(work.sum_in_meters(c)) for c in chunks]
    assert list(map(work.state, got_feet)) == [work.state(q.as_unit("ft")) for q in lengths]
    expected_longest = max(lengths, key=lambda q: q.as_number("m"))
    assert work.state(got_longest) == work.state(expected_longest)
    assert list(map(work.state, got_levels)) == [work.state(work.combine_levels(c)) for c in level_chunks]
    total = sum(got_sums[1:], got_sums[0])
    assert isinstance(total, Tolvat) and str(total).endswith(" [m]")
