#!/usr/bin/env bash
# Installs what the tests need and runs every suite: the C++ core tests (GoogleTest via CTest),
# then the Python suite under python3 and under a free-threaded CPython 3.14t.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
PY=${PYTHON:-python3}
PYT=/opt/python3.14t/bin/python3.14t

step() { printf '\n=== %s\n' "$*"; }

step "system packages (GoogleTest)"
if [ ! -f /usr/include/gtest/gtest.h ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq libgtest-dev cmake ninja-build >/dev/null
fi

step "free-threaded CPython 3.14t"
BUILD_314T="$ROOT/../shared/tools/build-python314t.sh"
[ -x "$BUILD_314T" ] || BUILD_314T=/work/shared/tools/build-python314t.sh  # a clone elsewhere
"$BUILD_314T"

step "C++ core tests"
cmake -S . -B build/core-tests -G Ninja -DTOLVAT_BUILD_MODULE=OFF -DTOLVAT_BUILD_TESTS=ON >/dev/null
cmake --build build/core-tests -j2
ctest --test-dir build/core-tests --output-on-failure -j2

step "catalogue reference is up to date"
BUILD_DIR=build/core-tests scripts/check-catalogue-doc.sh

step "sanitizers (ASan+UBSan): the C++ tests and the pytest suite under python3"
scripts/run-sanitizers.sh

step "fuzzing the core for 60 seconds (libFuzzer, ASan+UBSan)"
scripts/fuzz.sh 60

step "sdist and wheel, tour from a fresh virtual environment"
scripts/check-wheel.sh "$PY"

for python in "$PY" "$PYT"; do
  step "install into $python, type stubs (stubtest, mypy --strict)"
  "$python" -m pip install -q --disable-pip-version-check -r tests/requirements.txt
  "$python" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps .
  scripts/check-typing.sh "$python"
  step "Python suite under $("$python" -c 'import sys; print(sys.version.split()[0], "free-threaded" if not getattr(sys, "_is_gil_enabled", lambda: True)() else "")')"
  (cd tests/python && "$python" -m pytest -q -p no:cacheprovider .)
done
