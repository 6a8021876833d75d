#!/usr/bin/env bash
# Builds the libFuzzer target over the core (parser, name searches, algebra, simplifications,
# renderers) with AddressSanitizer and UndefinedBehaviorSanitizer, and runs it.
#
#   scripts/fuzz.sh [SECONDS]     fuzz for SECONDS (default 60), then replay the corpus
#
# The instrumented build skips the full simplification of collections whose whole-number powers
# add up to more than 64, finite (a bounded walk that takes seconds under the sanitizers). The corpus is
# then replayed, with nothing skipped, by an optimised build without sanitizers that times every
# input: the slowest must stay under TOLVAT_FUZZ_SLOW_LIMIT_MS (default 100).
#
# Needs Debian's clang and its compiler runtime (installed here when missing). The growing corpus
# lives in build-fuzz/corpus (seeded from tests/fuzz/corpus); crashes, timeouts and slow inputs
# are written to build-fuzz/artifacts. Exit status 0 means no finding.
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

mkdir -p "$OUT/corpus" "$OUT/artifacts"
FLAGS=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I"$ROOT/src")
echo "building $OUT/parser_fuzzer"
"$CXX" "${FLAGS[@]}" "$ROOT/tests/fuzz/parser_fuzzer.cpp" "$ROOT"/src/core/*.cpp -pthread -o "$OUT/parser_fuzzer"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

echo "fuzzing for ${SECONDS_TO_RUN}s"
LOG="$OUT/fuzz.log"
set +e
"$OUT/parser_fuzzer" "$OUT/corpus" "$ROOT/tests/fuzz/corpus" \
  -dict="$ROOT/tests/fuzz/units.dict" -max_total_time="$SECONDS_TO_RUN" -max_len=128 \
  -timeout=25 -rss_limit_mb=2048 -report_slow_units=1 -print_final_stats=1 \
  -artifact_prefix="$OUT/artifacts/" >"$LOG" 2>&1
STATUS=$?
set -e
grep -E '^(stat::|slowest input|fuzz invariant|==[0-9]+==ERROR|SUMMARY)|runtime error|Done [0-9]+ runs' "$LOG" || true
if [ "$STATUS" -ne 0 ]; then
  tail -40 "$LOG"
  echo "FUZZING FOUND A PROBLEM (exit $STATUS); see $LOG and $OUT/artifacts" >&2
  exit "$STATUS"
fi

# Time every input of the corpus once more, alone, nothing skipped, in a plain optimised build
# (no coverage instrumentation, no sanitizers), as users run the code.
"${CXX_PLAIN:-g++}" -std=c++20 -O2 -DTOLVAT_FUZZ_EVERYTHING -DTOLVAT_FUZZ_STANDALONE -I"$ROOT/src" \
  "$ROOT/tests/fuzz/parser_fuzzer.cpp" "$ROOT"/src/core/*.cpp -pthread -o "$OUT/parser_replay"
echo "replaying $(ls "$OUT/corpus" | wc -l) corpus inputs and $(ls "$ROOT/tests/fuzz/corpus" | wc -l) seeds"
SLOWEST=$("$OUT/parser_replay" "$OUT/corpus" "$ROOT/tests/fuzz/corpus" 2>&1 | grep 'slowest input' || true)
echo "$SLOWEST"
LIMIT=${TOLVAT_FUZZ_SLOW_LIMIT_MS:-100}
MS=$(printf '%s' "$SLOWEST" | sed -n 's/^slowest input: \([0-9.]*\) ms.*/\1/p')
if [ -n "$MS" ] && awk -v ms="$MS" -v limit="$LIMIT" 'BEGIN { exit !(ms > limit) }'; then
  echo "AN INPUT TOOK ${MS} ms (limit ${LIMIT} ms)" >&2
  exit 3
fi
echo "fuzzing: no finding"
