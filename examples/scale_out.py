"""Scaling out: a Dask pipeline over quantities on a local cluster of worker processes, then one
quantity over a Dask array of ten million values.

    python examples/scale_out.py [N_QUANTITIES] [N_WORKERS] [N_VALUES]

Needs dask[distributed] (pip install "dask[distributed]"). Quantities travel between processes
as pickles: compact bytes that load back exactly (the same value bits, the same units in the
same order, custom units by value), so the cluster computes exactly what one process would.
"""

import pickle
import sys
import time

import dask.array as da
import dask.bag as db
import numpy as np
from distributed import Client, LocalCluster

from tolvat import LogTolvat, Tolvat

U = Tolvat.unit


def survey(n):
    """Distances measured by different teams in their own units, one team in furlongs."""
    furlong = Tolvat.custom("furlong", "fur", U("m") * 201.168)
    units = [U("m"), U("km"), U("ft"), U("mi"), furlong]
    return [units[i % len(units)] * (1.0 + (i * 7919) % 1000 / 10) for i in range(n)]


def signal_levels(n):
    return [LogTolvat.unit("dB") * ((i * 31) % 60 - 30) for i in range(n)]


def total_in_meters(partition):
    total = U("m") * 0.0
    for q in partition:
        total = total + q  # the sum stays in meters, the left operand's unit
    return [total]


def product_of_ratios(partition):
    total = LogTolvat.unit("dB") * 0.0
    for x in partition:
        total = total + x  # decibels add: the ratios multiply
    return [total]


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000
    workers = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    distances, levels = survey(n), signal_levels(n // 4)
    partitions = 4 * workers

    start = time.perf_counter()
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            bag = db.from_sequence(distances, npartitions=partitions)
            partial_sums = bag.map_partitions(total_in_meters)
            in_feet = bag.map(lambda q: q.as_unit("ft"))
            level = db.from_sequence(levels, npartitions=partitions).map_partitions(product_of_ratios)
            sums, feet, level_sums = client.compute([partial_sums, in_feet, level], sync=True)
    elapsed = time.perf_counter() - start

    total = sum(sums[1:], sums[0])
    combined = sum(level_sums[1:], level_sums[0])
    print(f"{n} distances on {workers} worker processes in {elapsed:.2f} s (cluster start included)")
    print(f"total distance: {total.as_unit('km')}; first in feet: {feet[0]}; combined level: {combined}")

    # What travels: one partition's pickle, per quantity.
    chunk = distances[: n // partitions]
    print(f"bytes per quantity shipped: {len(pickle.dumps(chunk, protocol=5)) / len(chunk):.1f}")

    # The same partitions, summed in this process, give the very same sums, to the last bit.
    parts = [p.compute(scheduler="sync") for p in db.from_sequence(distances, npartitions=partitions).to_delayed()]
    local = [total_in_meters(part)[0] for part in parts]
    print("cluster and single-process partial sums agree:", list(map(pickle.dumps, local)) == list(map(pickle.dumps, sums)))

def arrays(n, workers):
    """One quantity over a Dask array: the unit work is done once, when the expression is built,
    and the graph holds only the array library's own operations on plain numbers."""
    values = da.arange(n, chunks=max(n // (4 * workers), 1)) % 1000 * 1.0
    distance = Tolvat.wrap(values, "km")
    detour = Tolvat.wrap(values % 7 * 3.0, "mi")
    total = distance + detour                    # lazy: the detour in km, added
    in_metres = total.as_number("m")             # lazy: a Dask array of plain numbers
    longest = np.max(total)                      # lazy: a quantity over a 0-d Dask array
    start = time.perf_counter()
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            metres, top = client.compute([in_metres, longest.as_number()], sync=True)
    elapsed = time.perf_counter() - start
    print(f"{n} values on {workers} worker processes in {elapsed:.2f} s (cluster start included)")
    print(f"first in metres: {metres[:3]}; longest: {Tolvat.wrap(np.asarray(top), total)}")

    # NumPy in this process gives the very same numbers, to the last bit.
    local = Tolvat.wrap(values.compute(), "km") + Tolvat.wrap((values % 7 * 3.0).compute(), "mi")
    print("cluster and NumPy agree:", np.array_equal(local.as_number("m"), metres))


if __name__ == "__main__":
    main()
    n_values = int(sys.argv[3]) if len(sys.argv) > 3 else 10_000_000
    arrays(n_values, int(sys.argv[2]) if len(sys.argv) > 2 else 2)
