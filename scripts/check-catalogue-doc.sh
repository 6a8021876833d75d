#!/usr/bin/env bash
# Regenerates the files made from the compiled-in tables, the catalogue reference
# docs/catalogue.md and the parser fuzzer's dictionary tests/fuzz/units.dict, and compares them
# with the checked-in ones; fails when either is out of date.
#
#   scripts/check-catalogue-doc.sh            check
#   scripts/check-catalogue-doc.sh --update   rewrite both files
#
# Builds the generators in BUILD_DIR (default build/core-tests, the C++ test build of
# scripts/run-tests.sh, so nothing is compiled twice; an existing build tree keeps its other
# options). Needs CMake, Ninja and GoogleTest.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build/core-tests}
update=false
case "${1:-}" in
  "") ;;
  --update) update=true ;;
  *) echo "usage: $0 [--update]" >&2; exit 2 ;;
esac

if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -DTOLVAT_BUILD_TESTS=ON >/dev/null  # keeps the tree's other choices
else
  cmake -S . -B "$BUILD_DIR" -G Ninja -DTOLVAT_BUILD_MODULE=OFF -DTOLVAT_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$BUILD_DIR" --target tolvat_catalogue_reference tolvat_fuzz_dictionary -j2 >/dev/null

fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
stale=0
# check FILE GENERATOR
check() {
  "$BUILD_DIR/$2" >"$fresh/out"
  if $update; then
    cp "$fresh/out" "$1"
    echo "$1 updated"
  elif diff -u "$1" "$fresh/out"; then
    echo "$1 is up to date"
  else
    echo "$1 is out of date: run scripts/check-catalogue-doc.sh --update" >&2
    stale=1
  fi
}
check docs/catalogue.md tolvat_catalogue_reference
check tests/fuzz/units.dict tolvat_fuzz_dictionary
exit $stale
