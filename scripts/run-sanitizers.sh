#!/usr/bin/env bash
# Builds tolvat with AddressSanitizer and UndefinedBehaviorSanitizer (-DTOLVAT_SANITIZE=ON) and
# runs the C++ core tests and the whole pytest suite under them. Prints the number of sanitizer
# reports; exits non-zero when there is any, or when a suite fails.
#
#   scripts/run-sanitizers.sh             core tests, then pytest under python3
#   SANITIZE_PYTHONS="python3 /opt/python3.14t/bin/python3.14t" scripts/run-sanitizers.sh
#
# The interpreter itself is not instrumented, so the ASan runtime is preloaded into it. Leak
# detection stays off for the interpreter (it keeps its own allocations until exit) but on for the
# core tests. PYTHONMALLOC=malloc sends Python's object allocations through malloc, so that ASan
# also watches the memory of Tolvat objects (a free-threaded interpreter only runs on its own
# allocator, so there it is left as it is).
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=${SANITIZE_BUILD_DIR:-$ROOT/build-sanitize}
PYTHONS=${SANITIZE_PYTHONS:-python3}
LOGS="$OUT/logs"
mkdir -p "$LOGS"
rm -f "$LOGS"/*.log

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=0

step() { printf '\n=== %s\n' "$*"; }

step "C++ core tests with ASan+UBSan"
cmake -S . -B "$OUT/core" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAT_BUILD_MODULE=OFF \
  -DTOLVAT_BUILD_TESTS=ON -DTOLVAT_SANITIZE=ON >/dev/null || exit 1
cmake --build "$OUT/core" -j2 >/dev/null || exit 1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest --test-dir "$OUT/core" -j2 --output-on-failure \
  >"$LOGS/core.log" 2>&1 || failed=1
grep -E 'tests passed|tests failed' "$LOGS/core.log"

for python in $PYTHONS; do
  tag=$(basename "$python")
  step "pytest under $tag with ASan+UBSan"
  # NumPy first: the module is built against its headers.
  "$python" -m pip install -q --disable-pip-version-check -r tests/requirements.txt >/dev/null 2>&1 || true
  cmake -S . -B "$OUT/$tag" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAT_SANITIZE=ON \
    -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null || exit 1
  cmake --build "$OUT/$tag" -j2 --target tolvat >/dev/null || exit 1
  libasan=$(${CXX:-g++} -print-file-name=libasan.so)
  allocator=malloc
  "$python" -c 'import sys, sysconfig; sys.exit(not sysconfig.get_config_var("Py_GIL_DISABLED"))' && allocator=""
  (cd tests/python && \
    LD_PRELOAD="$libasan" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 PYTHONMALLOC=$allocator \
    PYTHONPATH="$OUT/$tag" "$python" -m pytest -q -p no:cacheprovider . ) >"$LOGS/pytest-$tag.log" 2>&1 || failed=1
  tail -1 "$LOGS/pytest-$tag.log"
done

reports=$(cat "$LOGS"/*.log | grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' || true)
step "sanitizer reports: $reports"
if [ "$reports" -ne 0 ]; then
  grep -hE -A12 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$LOGS"/*.log | head -80
  failed=1
fi
[ "$failed" -eq 0 ] && echo "sanitizers: clean" || echo "sanitizers: FAILED (logs in $LOGS)"
exit "$failed"
