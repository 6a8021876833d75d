#!/usr/bin/env bash
# Builds the libFuzzer targets over the core with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs them, sharing the time: the unit-expression target (parser, name searches, algebra,
# simplifications, renderers) for half of it, the strict quantity-text grammar (Tolvat.parse) for
# the other half.
#
#   scripts/fuzz.sh [SECONDS]     fuzz for SECONDS in all (default 60), then replay the corpora
#
# The instrumented build skips the full simplification of collections whose whole-number powers
# add up to more than 64, finite (a bounded walk that takes seconds under the sanitizers). The corpus is
# then replayed, with nothing skipped, by an optimised build without sanitizers that times every
# input and prints the slowest, a figure to watch; TOLVAT_FUZZ_SLOW_LIMIT_MS=N makes a slower one
# fail the run (not set in the test command: a machine's load must not decide a test).
#
# Needs Debian's clang and its compiler runtime (installed here when missing). The growing corpora
# live in build-fuzz/corpus and build-fuzz/corpus-text (seeded from tests/fuzz/corpus and
# tests/fuzz/corpus-text); crashes, timeouts and slow inputs are written to build-fuzz/artifacts.
# Exit status 0 means no finding.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_TO_RUN=${1:-60}
OUT=${TOLVAT_FUZZ_DIR:-$ROOT/build-fuzz}
CXX=${CLANGXX:-clang++}

if ! command -v "$CXX" >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-dev >/dev/null
fi

mkdir -p "$OUT/corpus" "$OUT/corpus-text" "$OUT/artifacts"
FLAGS=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I"$ROOT/src")
for target in parser_fuzzer quantity_text_fuzzer; do
  echo "building $OUT/$target"
  "$CXX" "${FLAGS[@]}" "$ROOT/tests/fuzz/$target.cpp" "$ROOT"/src/core/*.cpp -pthread -o "$OUT/$target"
done
cat "$ROOT/tests/fuzz/units.dict" "$ROOT/tests/fuzz/quantity_text.dict" >"$OUT/quantity_text.dict"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# fuzz TARGET SECONDS CORPUS SEEDS DICT MAX_LEN
fuzz() {
  echo "fuzzing $1 for ${2}s"
  local log="$OUT/$1.log"
  set +e
  "$OUT/$1" "$3" "$4" -dict="$5" -max_total_time="$2" -max_len="$6" \
    -timeout=25 -rss_limit_mb=2048 -report_slow_units=1 -print_final_stats=1 \
    -artifact_prefix="$OUT/artifacts/" >"$log" 2>&1
  local status=$?
  set -e
  grep -E '^(stat::|slowest input|fuzz invariant|==[0-9]+==ERROR|SUMMARY)|runtime error|Done [0-9]+ runs' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -40 "$log"
    echo "FUZZING FOUND A PROBLEM (exit $status); see $log and $OUT/artifacts" >&2
    exit "$status"
  fi
}
FIRST=$(( (SECONDS_TO_RUN + 1) / 2 ))
fuzz parser_fuzzer "$FIRST" "$OUT/corpus" "$ROOT/tests/fuzz/corpus" "$ROOT/tests/fuzz/units.dict" 128
# Long texts too: reading any text takes time linear in its length, which the replay below times.
fuzz quantity_text_fuzzer "$(( SECONDS_TO_RUN - FIRST > 0 ? SECONDS_TO_RUN - FIRST : 1 ))" \
  "$OUT/corpus-text" "$ROOT/tests/fuzz/corpus-text" "$OUT/quantity_text.dict" 4096

# Time every input of the corpora once more, alone, nothing skipped, in a plain optimised build
# (no coverage instrumentation, no sanitizers), as users run the code.
LIMIT=${TOLVAT_FUZZ_SLOW_LIMIT_MS:-}
replay() {
  "${CXX_PLAIN:-g++}" -std=c++20 -O2 -DTOLVAT_FUZZ_EVERYTHING -DTOLVAT_FUZZ_STANDALONE -I"$ROOT/src" \
    "$ROOT/tests/fuzz/$1.cpp" "$ROOT"/src/core/*.cpp -pthread -o "$OUT/${1%_fuzzer}_replay"
  echo "replaying $(ls "$2" | wc -l) corpus inputs and $(ls "$3" | wc -l) seeds of $1"
  local slowest ms
  slowest=$("$OUT/${1%_fuzzer}_replay" "$2" "$3" 2>&1 | grep 'slowest input' || true)
  echo "$slowest"
  ms=$(printf '%s' "$slowest" | sed -n 's/^slowest input: \([0-9.]*\) ms.*/\1/p')
  if [ -n "$ms" ] && [ -n "$LIMIT" ] && awk -v ms="$ms" -v limit="$LIMIT" 'BEGIN { exit !(ms > limit) }'; then
    echo "AN INPUT TOOK ${ms} ms (limit ${LIMIT} ms)" >&2
    exit 3
  fi
}
replay parser_fuzzer "$OUT/corpus" "$ROOT/tests/fuzz/corpus"
replay quantity_text_fuzzer "$OUT/corpus-text" "$ROOT/tests/fuzz/corpus-text"
echo "fuzzing: no finding"
