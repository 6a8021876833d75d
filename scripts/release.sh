#!/usr/bin/env bash
# The release build on this machine: CPython 3.14 and 3.14t are built if missing, then the sdist
# and one repaired, checked and tested manylinux wheel per interpreter of the test matrix
# (CPython 3.11 to 3.14 and 3.14t), all left in dist/. The hosted workflow
# (.github/workflows/wheels.yml) builds the same set for aarch64 Linux and macOS.
#
#   scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/provision-pythons.sh "${TOLVAT_PYTHON_PREFIX:-/opt}"
rm -f dist/tolvat-*
exec scripts/build-wheels.sh
