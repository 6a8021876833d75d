#!/usr/bin/env python3
"""Runs a million mixed operations (every method and operator of both classes, about a third of
them failing calls that raise) after a warm-up, and reports the growth of resident memory, of the
interpreter's allocated blocks and of what tracemalloc sees. Exits non-zero when resident memory
grows by 1 MB or more (over the mixed operations, or over as many operations on quantities over
arrays when NumPy is installed), or tracemalloc keeps more than 64 KiB (the interpreter's caches and free
lists account for a few KiB that do not grow with the count; a leaked object per call would be
megabytes).

    PYTHONPATH=<build dir> python3 scripts/leak_check.py [--operations 1000000]
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

import leak_workload  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--operations", type=int, default=1_000_000)
    parser.add_argument("--warmup", type=int, default=100_000)
    parser.add_argument("--traced", type=int, default=200_000, help="operations under tracemalloc")
    args = parser.parse_args()
    print(f"Python {sys.version.split()[0]}; {len(leak_workload.make_operations())} distinct operations")

    start = time.perf_counter()
    before, after = leak_workload.measure_rss(args.operations, args.warmup)
    print(f"resident memory: {before / 2**20:.2f} MiB after {args.warmup:,} warm-up operations, "
          f"{after / 2**20:.2f} MiB after {args.operations:,} more: growth {(after - before) / 1024:+.0f} KiB "
          f"({time.perf_counter() - start:.1f} s)")

    start = time.perf_counter()
    growth, top = leak_workload.measure_tracemalloc(args.traced, args.warmup // 10)
    print(f"tracemalloc: {growth:+,} bytes kept after {args.traced:,} traced operations "
          f"({time.perf_counter() - start:.1f} s)")
    for stat in top:
        print(f"  {stat}")

    before_blocks, after_blocks = leak_workload.measure_blocks(args.operations, args.warmup)
    blocks = after_blocks - before_blocks
    print(f"allocated blocks: {blocks:+,} after {args.operations:,} operations")

    failed = after - before >= 2**20 or growth > 64 * 1024 or blocks > 1000

    try:
        import numpy  # noqa: F401
    except ImportError:
        print("arrays: NumPy is not installed, skipped")
    else:
        start = time.perf_counter()
        before, after = leak_workload.measure_rss(args.operations, args.warmup, arrays=True)
        print(f"arrays: resident memory {before / 2**20:.2f} MiB after {args.warmup:,} warm-up array operations, "
              f"{after / 2**20:.2f} MiB after {args.operations:,} more: growth {(after - before) / 1024:+.0f} KiB "
              f"({time.perf_counter() - start:.1f} s)")
        failed |= after - before >= 2**20
    print("FAILED" if failed else "no growth")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
