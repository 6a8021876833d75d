#!/usr/bin/env bash
# ThreadSanitizer run: tolvat built with -fsanitize=thread (clang, -DTOLVAT_SANITIZE_THREAD=ON)
# against a ThreadSanitizer free-threaded CPython 3.14 (scripts/build-python-tsan.sh builds one,
# once per machine, when it is missing; that takes far longer than everything below).
#
#   scripts/run-tsan.sh                  everything, with the long runs
#   TSAN_QUICK=1 scripts/run-tsan.sh     short runs only
#   TSAN_PYTHON=/path/python3.14t scripts/run-tsan.sh
#
# Runs:
#   1. the C++ core tests (the access rule's tests, the simplification workers) and the access
#      handshake with random pauses between its steps, ten million operations;
#   2. every pytest file that starts threads;
#   3. scripts/stress.py: 8 threads x 20,000 mixed operations on shared quantities, 1,000
#      simplifications that start workers, interpreter exits while workers run;
#   4. 1,000 simplifications that start workers, from 4 threads at once.
# Passes when no ThreadSanitizer report has a tolvat frame in its stacks and every run passes.
# Reports inside CPython alone are listed, each suppression in scripts/tsan-suppressions.txt
# with its reason. Logs, one file per process, are in build-tsan/logs.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=${TSAN_BUILD_DIR:-$ROOT/build-tsan}
PYTHON=${TSAN_PYTHON:-/opt/python3.14t-tsan/bin/python3.14t}
LOGS="$OUT/logs"
QUICK=${TSAN_QUICK:-0}
failed=0

step() { printf '\n=== %s\n' "$*"; }
now() { date +%s; }
took() { echo "($(( $(now) - $1 )) s)"; }

if ! "$PYTHON" -c 'import sys' 2>/dev/null; then
  step "building the ThreadSanitizer interpreter (once per machine)"
  t=$(now)
  scripts/build-python-tsan.sh "$(dirname "$(dirname "$PYTHON")")" || exit 1
  took "$t"
fi
command -v clang++ >/dev/null || { echo "clang++ is missing: apt-get install clang" >&2; exit 1; }

mkdir -p "$LOGS"
rm -f "$LOGS"/*
# Every process writes its reports to its own file under $LOGS (tsan.<pid>); they are counted at
# the end, so a run never stops at the first report.
tsan_env="suppressions=$ROOT/scripts/tsan-suppressions.txt history_size=4 halt_on_error=0 exitcode=0"
export TSAN_OPTIONS="$tsan_env log_path=$LOGS/tsan"

step "C++ core tests under ThreadSanitizer"
t=$(now)
CXX=clang++ cmake -S . -B "$OUT/core" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAT_BUILD_MODULE=OFF \
  -DTOLVAT_BUILD_TESTS=ON -DTOLVAT_SANITIZE_THREAD=ON >/dev/null || exit 1
cmake --build "$OUT/core" -j2 >/dev/null || exit 1
echo "built $(took "$t")"
t=$(now)
"$OUT/core/tolvat_core_tests" >"$LOGS/core-tests.out" 2>&1 || failed=1
tail -1 "$LOGS/core-tests.out"; took "$t"
t=$(now)
iterations=$([ "$QUICK" = 1 ] && echo 5000 || echo 200000)
TOLVAT_ACCESS_ITERATIONS=$iterations "$OUT/core/tolvat_access_interleavings" >"$LOGS/interleavings.out" 2>&1 || failed=1
grep -E 'operations:' "$LOGS/interleavings.out"; tail -1 "$LOGS/interleavings.out"; took "$t"

step "the module under ThreadSanitizer, for $PYTHON"
t=$(now)
venv="$OUT/venv"
if ! "$venv/bin/python" -c 'import pytest, numpy' 2>/dev/null; then
  # pip under the instrumented interpreter: its reports are CPython's and pip's, not ours. NumPy
  # too, since the module is built against its headers.
  TSAN_OPTIONS="$tsan_env report_bugs=0" "$PYTHON" -m venv "$venv" || exit 1
  TSAN_OPTIONS="$tsan_env report_bugs=0" "$venv/bin/python" -m pip install -q --disable-pip-version-check pytest numpy \
    >"$OUT/pip.log" 2>&1 || { tail -20 "$OUT/pip.log"; exit 1; }
fi
npinc=$(TSAN_OPTIONS="$tsan_env report_bugs=0" "$venv/bin/python" -c 'import numpy; print(numpy.get_include())')
CC=clang CXX=clang++ cmake -S . -B "$OUT/module" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVAT_SANITIZE_THREAD=ON -DPython_EXECUTABLE="$PYTHON" -DTOLVAT_NUMPY_INCLUDE="$npinc" >/dev/null || exit 1
cmake --build "$OUT/module" -j2 --target tolvat >/dev/null || exit 1
echo "built $(took "$t")"
py="$venv/bin/python"
export PYTHONPATH="$OUT/module"

step "threaded pytest files"
t=$(now)
# Every file that starts threads, and the re-entrancy tests (Python code run while a call holds
# an object, which is where the access rule meets the interpreter).
threaded=$(cd tests/python && {
  grep -l -E '^(import|from) threading|thread_support|worker_support|stress_workload|ThreadPool' test_*.py
  echo test_reentrancy.py
} | sort -u | tr '\n' ' ')
echo "$threaded"
# Not the long figures: the timing-free, thread-starting tests as they stand.
(cd tests/python && "$py" -m pytest -q -p no:cacheprovider $threaded) >"$LOGS/pytest.out" 2>&1 || failed=1
tail -1 "$LOGS/pytest.out"; took "$t"

step "long stress run"
t=$(now)
if [ "$QUICK" = 1 ]; then ops=2000; searches=100; exits=4; else ops=20000; searches=1000; exits=20; fi
"$py" scripts/stress.py --threads 8 --operations "$ops" --searches "$searches" --exits "$exits" \
  >"$LOGS/stress.out" 2>&1 || failed=1
grep -E '^(operations|searches|threads|clean exits)|passed|FAILED' "$LOGS/stress.out"; took "$t"

step "simplifications that start workers, from 4 threads at once"
t=$(now)
count=$([ "$QUICK" = 1 ] && echo 100 || echo 1000)
"$py" - "$count" >"$LOGS/workers.out" 2>&1 <<'EOF' || failed=1
import os, sys, threading
sys.path.insert(0, os.path.join("tests", "python"))
import worker_support as ws

count = int(sys.argv[1])
baseline = ws.thread_count()
seen_with_workers = 0
lock = threading.Lock()

def run(n):
    global seen_with_workers
    q = ws.abandoning()  # the root hands later branches to workers, then answers at once
    for _ in range(n):
        assert str(q.simplify()) == "1 [m2]"
        if ws.thread_count() > baseline + 4:  # a worker of some search is still winding down
            with lock:
                seen_with_workers += 1

threads = [threading.Thread(target=run, args=(count // 4,)) for _ in range(4)]
for t in threads: t.start()
for t in threads: t.join()
print(f"simplifications: {count // 4 * 4}, with worker threads seen alive right after: {seen_with_workers}")
assert seen_with_workers > 0
EOF
cat "$LOGS/workers.out" | tail -2; took "$t"

step "ThreadSanitizer reports"
python3 - "$LOGS" <<'EOF' || failed=1
import glob, re, sys
ours, theirs = [], []
for path in sorted(glob.glob(sys.argv[1] + "/tsan.*")):
    text = open(path, errors="replace").read()
    for report in re.findall(r"WARNING: ThreadSanitizer:.*?SUMMARY: ThreadSanitizer:[^\n]*", text, re.S):
        frames = [l for l in report.splitlines() if re.match(r"\s+#\d+ ", l)]
        (ours if any("tolvat" in f for f in frames) else theirs).append((path, report))
print(f"reports with a tolvat frame: {len(ours)}; inside CPython alone (not suppressed): {len(theirs)}")
for path, report in (ours + theirs)[:6]:
    print(f"--- {path}\n" + "\n".join(report.splitlines()[:40]))
sys.exit(1 if ours else 0)
EOF

[ "$failed" -eq 0 ] && echo "tsan: clean" || echo "tsan: FAILED (logs in $LOGS)"
exit "$failed"
