#!/usr/bin/env python3
"""The long stress run: concurrent mixed work on shared quantities, simplification workers over
many searches, and interpreter exits while workers run; with NumPy installed, concurrent work on
shared quantities over arrays as well. Prints its figures; exits non-zero on any
failure.

    PYTHONPATH=<build dir> python3 scripts/stress.py [--threads 8] [--operations 100000]
                                                     [--searches 10000] [--exits 200]

Run it under python3 (the GIL; switch interval 1e-6 s) and under the free-threaded 3.14t.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

import stress_workload  # noqa: E402
import worker_support  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=8)
    parser.add_argument("--operations", type=int, default=100000, help="per thread")
    parser.add_argument("--searches", type=int, default=10000)
    parser.add_argument("--exits", type=int, default=200)
    parser.add_argument("--seed", type=int, default=20240601)
    args = parser.parse_args()

    gil = "free-threaded" if stress_workload.is_free_threaded() else "with the GIL"
    print(f"Python {sys.version.split()[0]} {gil}, {os.cpu_count()} CPUs")
    failed = False

    print("\n== shared quantities under concurrent mixed work")
    outcome = stress_workload.run(args.threads, args.operations, seed=args.seed)
    print(outcome.summary())
    for line in outcome.unexpected[:5] + outcome.bad_states[:5]:
        print("  !", line)
    failed |= bool(outcome.unexpected or outcome.bad_states)

    print("\n== shared quantities over arrays under concurrent work")
    try:
        import array_stress_workload
    except ImportError as error:
        print(f"skipped: {error}")
    else:
        start = time.perf_counter()
        unexpected, drifted = array_stress_workload.run(args.threads, max(1, args.operations // 10), seed=args.seed)
        print(f"operations: {args.threads * max(1, args.operations // 10)} in {time.perf_counter() - start:.2f} s; "
              f"unexpected exceptions: {len(unexpected)}; quantities that drifted: {drifted or 'none'}")
        for line in unexpected[:5]:
            print("  !", line)
        failed |= bool(unexpected or drifted)

    print("\n== simplification workers over many searches")
    worker_support.workers_end()
    baseline = worker_support.quiet_count()
    light = worker_support.abandoning()
    heavy = worker_support.exhaustive()
    peak = baseline
    worker_support.stats(reset=True)
    start = time.perf_counter()
    for i in range(args.searches):
        light.simplify()
        if i % 100 == 0:
            heavy.simplify()
            peak = max(peak, worker_support.thread_count())
    elapsed = time.perf_counter() - start
    counts = worker_support.stats()
    ended = worker_support.workers_end()
    worker_support.settle(baseline)
    after = worker_support.thread_count()
    heavy_runs = (args.searches + 99) // 100
    print(f"searches: {args.searches} abandoning + {heavy_runs} exhaustive in {elapsed:.2f} s")
    print(f"worker slots: {counts['started']} workers started, at most {counts['peak']} held at once "
          f"(cap {counts['cap']}), {'none' if ended else 'some still'} held after")
    print(f"threads: {baseline} before, at most {peak} during, {after} after")
    failed |= after > baseline or not ended or counts["peak"] > counts["cap"]

    print(f"\n== interpreter exits while workers run ({args.exits} runs)")
    start = time.perf_counter()
    clean, failures = worker_support.exit_runs(args.exits)
    print(f"clean exits: {clean} of {args.exits}, crashes or errors: {len(failures)} "
          f"({time.perf_counter() - start:.1f} s)")
    for status, err in failures[:3]:
        print(f"  ! exit status {status}: {err[-500:]}")
    failed |= bool(failures)

    print("\nFAILED" if failed else "\nall passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
