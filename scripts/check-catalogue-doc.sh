#!/usr/bin/env bash
# Regenerates the catalogue reference from the compiled-in tables and compares it with
# docs/catalogue.md; fails when the checked-in file is out of date.
#
#   scripts/check-catalogue-doc.sh            check
#   scripts/check-catalogue-doc.sh --update   rewrite docs/catalogue.md
#
# Builds the generator in BUILD_DIR (default build/core-tests, the C++ test build of
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
cmake --build "$BUILD_DIR" --target tolvat_catalogue_reference -j2 >/dev/null

fresh=$(mktemp)
trap 'rm -f "$fresh"' EXIT
"$BUILD_DIR/tolvat_catalogue_reference" >"$fresh"

if $update; then
  cp "$fresh" docs/catalogue.md
  echo "docs/catalogue.md updated"
elif diff -u docs/catalogue.md "$fresh"; then
  echo "docs/catalogue.md is up to date"
else
  echo "docs/catalogue.md is out of date: run scripts/check-catalogue-doc.sh --update" >&2
  exit 1
fi
