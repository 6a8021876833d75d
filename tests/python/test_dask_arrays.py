"""Quantities over Dask arrays: lazy through arithmetic, conversion, comparison and NumPy's
functions, and computed on a local cluster of two workers exactly as NumPy computes them."""

import dask.array as da
import numpy as np
from distributed import Client, LocalCluster

from tolvat import Tolvat

N = 10_000_000
CHUNK = 1_000_000


def lengths(arange):
    """Whole numbers of kilometres and of feet: the conversion to metres keeps them exact, so a
    sum over them is the same in any order (a cluster sums chunk by chunk, NumPy pairwise)."""
    x = arange(N) % 1000
    return x * 1.0, (x % 7) * 3.0


def test_quantities_over_dask_arrays_stay_lazy():
    km, ft = lengths(lambda n: da.arange(n, chunks=CHUNK))
    q, r = Tolvat.wrap(km, "km"), Tolvat.wrap(ft, "ft")
    lazy = [
        (q + r).as_number(), (q * r).as_number(), q.as_number("m"), q.as_unit("mi").as_number(), q < r,
        np.sqrt(q).as_number(), np.maximum(q, r).as_number(), np.sum(q).as_number(), np.mean(q).as_number(),
        np.add(q, r, where=True).as_number(),
    ]
    assert all(isinstance(x, da.Array) for x in lazy)


def test_a_local_cluster_of_two_workers_computes_what_numpy_computes():
    km, ft = lengths(lambda n: da.arange(n, chunks=CHUNK))
    q, r = Tolvat.wrap(km, "km"), Tolvat.wrap(ft, "ft")
    in_metres = q.as_number("m")                 # conversion
    total = (q + r).as_number()                  # a sum of two quantities in different units
    summed = np.sum(q.as_unit("m")).as_number()  # a reduction
    largest = np.max(q + r).as_number()
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            assert len(client.scheduler_info()["workers"]) == 2
            got = client.compute([in_metres, total, summed, largest], sync=True)

    km_np, ft_np = lengths(np.arange)
    q_np, r_np = Tolvat.wrap(km_np, "km"), Tolvat.wrap(ft_np, "ft")
    want = [q_np.as_number("m"), (q_np + r_np).as_number(), np.sum(q_np.as_unit("m")).as_number(),
            np.max(q_np + r_np).as_number()]
    for g, w in zip(got, want):
        assert np.asarray(g).tobytes() == np.asarray(w).tobytes()
    assert str(np.sum(q_np.as_unit("m"))) == "4995000000000 [m]"
