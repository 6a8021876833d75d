#!/usr/bin/env bash
# Installs what the tests need and runs every suite, from a clone in any folder:
#   - Debian packages (GoogleTest, CMake, Ninja, clang, Chromium), and CPython 3.14 and 3.14t,
#     built once per machine by scripts/provision-pythons.sh into TOLVAT_PYTHON_PREFIX (default /opt);
#   - once: the C++ core tests built with GCC, the check of docs/catalogue.md, the documentation
#     site under python3 (scripts/build-docs.sh --check: built with warnings as errors, its internal
#     links checked, and read in headless Chromium), the benchmark charts drawn from the stored run
#     bench/data/sample.json (tests/charts, with tests/requirements-charts.txt), the C++ core
#     tests built with clang and without instruction-set specific code (-DTOLVAT_PORTABLE=ON), the
#     C++ and Python suites under ASan+UBSan, a 60-second libFuzzer run, and the wheel of one interpreter
#     (scripts/build-wheels.sh: sdist, wheel, auditwheel, twine, tour, quick tests);
#   - per interpreter of the matrix (CPython 3.11, 3.12, 3.13, 3.14, 3.14t; see scripts/lib/matrix.sh),
#     in a virtual environment under build/venvs with tests/requirements.txt: install, the type
#     stub checks and the whole pytest suite.
# Ends with a table of the pytest counts per interpreter and their total.
#
#   scripts/run-tests.sh
#   TOLVAT_PYTHONS="python3" scripts/run-tests.sh       a smaller matrix, for a quick local run
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
. scripts/lib/matrix.sh
PREFIX=${TOLVAT_PYTHON_PREFIX:-/opt}
started=$(date +%s)

step() { printf '\n=== [%s] %s\n' "$(date -u +%H:%M:%S)" "$*"; }

step "Debian packages"
wanted=(cmake ninja-build libgtest-dev clang libclang-rt-dev libc++-dev libc++abi-dev chromium)
absent=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || absent+=("$p")
done
if [ ${#absent[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  echo "installing ${absent[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${absent[@]}" >/dev/null
fi

step "CPython 3.14 and 3.14t"
if [ -z "${TOLVAT_PYTHONS:-}" ]; then scripts/provision-pythons.sh "$PREFIX"; fi
mapfile -t PYTHONS < <(matrix_pythons)
[ ${#PYTHONS[@]} -gt 0 ] || exit 1

step "virtual environments with tests/requirements.txt"
declare -A VENV LABEL
for python in "${PYTHONS[@]}"; do
  label=$(python_label "$python")
  LABEL[$python]=$label
  VENV[$python]="$ROOT/build/venvs/$label"
  venv_py="${VENV[$python]}/bin/python"
  "$venv_py" -c '' 2>/dev/null || fresh_venv "$python" "${VENV[$python]}"
  "$venv_py" -m pip install -q --disable-pip-version-check -r tests/requirements.txt
  echo "$label: ${VENV[$python]}"
done
FIRST=${PYTHONS[0]}

step "hosted CI: the workflow against GitHub's schema, and the builds cibuildwheel selects"
tools="$ROOT/build/venvs/ci-tools"
"$tools/bin/python" -c '' 2>/dev/null || fresh_venv "$FIRST" "$tools"
cibw=$(sed -n 's|.*pypa/cibuildwheel@v\([0-9.]*\).*|\1|p' .github/workflows/wheels.yml)  # the workflow's version
"$tools/bin/python" -m pip install -q --disable-pip-version-check check-jsonschema "cibuildwheel==$cibw"
"$tools/bin/check-jsonschema" --builtin-schema vendor.github-workflows .github/workflows/*.yml
for platform in linux macos; do
  builds=$(cd build && "$tools/bin/cibuildwheel" --print-build-identifiers --platform "$platform" "$ROOT" | tr '\n' ' ')
  echo "$platform: $builds"
  for id in cp311 cp312 cp313 cp314 cp314t; do
    [ "$(grep -o "$id-[a-z]*_[a-z0-9_]*" <<<"$builds" | wc -l)" -eq 2 ] || { echo "cibuildwheel: not two $id builds on $platform" >&2; exit 1; }
  done
done

step "C++ core tests (GCC)"
cmake -S . -B build/core-tests -G Ninja -DTOLVAT_BUILD_MODULE=OFF -DTOLVAT_BUILD_TESTS=ON >/dev/null
cmake --build build/core-tests -j2
ctest --test-dir build/core-tests --output-on-failure -j2

step "catalogue reference is up to date"
BUILD_DIR=build/core-tests scripts/check-catalogue-doc.sh

step "documentation site: sphinx-build -W, internal link check, read in headless Chromium"
scripts/build-docs.sh --check python3

step "benchmark charts drawn from the stored run bench/data/sample.json (${LABEL[$FIRST]}, matplotlib)"
"${VENV[$FIRST]}/bin/python" -m pip install -q --disable-pip-version-check -r tests/requirements-charts.txt
(cd tests/charts && "${VENV[$FIRST]}/bin/python" -m pytest -p no:cacheprovider -q .)

step "C++ core tests and the module, built with clang, portable code only"
portable="build/clang-portable-${LABEL[$FIRST]}"
cmake -S . -B "$portable" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTOLVAT_PORTABLE=ON \
  -DTOLVAT_BUILD_TESTS=ON -DPython_EXECUTABLE="${VENV[$FIRST]}/bin/python" >/dev/null
cmake --build "$portable" -j2
ctest --test-dir "$portable" --output-on-failure -j2
PYTHONPATH="$portable" "${VENV[$FIRST]}/bin/python" examples/tour.py >/dev/null
echo "the tour ran on the clang build"
# macOS builds use LLVM's C++ library, which lacks some of what GCC's has (the wheel workflow
# builds there): every source must at least compile against it.
pyinc=$("${VENV[$FIRST]}/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
npinc=$("${VENV[$FIRST]}/bin/python" -c 'import numpy; print(numpy.get_include())')
for f in src/core/*.cpp src/python/*.cpp; do
  clang++ -std=c++20 -stdlib=libc++ -fsyntax-only -Isrc -I"$pyinc" -I"$npinc" "$f"
done
echo "every source compiles against libc++"

step "sanitizers (ASan+UBSan): the C++ tests and the pytest suite under ${LABEL[$FIRST]}"
SANITIZE_PYTHONS="${VENV[$FIRST]}/bin/python" scripts/run-sanitizers.sh

step "fuzzing the core for 60 seconds (libFuzzer, ASan+UBSan)"
scripts/fuzz.sh 60

WHEEL_PY=${PYTHONS[$(( ${#PYTHONS[@]} > 3 ? 3 : 0 ))]}  # 3.14 with the GIL, in the full matrix
step "sdist and manylinux wheel for ${LABEL[$WHEEL_PY]}: build, repair, check, tour, quick tests"
scripts/build-wheels.sh "$WHEEL_PY"

declare -A RESULT
for python in "${PYTHONS[@]}"; do
  label=${LABEL[$python]}
  venv_py="${VENV[$python]}/bin/python"
  step "$label: install, type stubs (stubtest, mypy --strict)"
  "$venv_py" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps .
  scripts/check-typing.sh "$venv_py"
  step "$label: Python suite"
  log="build/pytest-$label.log"
  set +e
  (cd tests/python && "$venv_py" -m pytest -p no:cacheprovider -q .) 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  RESULT[$label]=$(tail -n 1 "$log")
  [ "$status" -eq 0 ] || { echo "pytest failed under $label" >&2; exit "$status"; }
done

step "matrix"
passed=0 skipped=0
printf '%-10s %8s %8s\n' interpreter passed skipped
for python in "${PYTHONS[@]}"; do
  label=${LABEL[$python]}
  line=${RESULT[$label]}
  p=$(sed -n 's/.*[^0-9]\([0-9][0-9]*\) passed.*/\1/p' <<<" $line"); p=${p:-0}
  s=$(sed -n 's/.*[^0-9]\([0-9][0-9]*\) skipped.*/\1/p' <<<" $line"); s=${s:-0}
  printf '%-10s %8d %8d\n' "$label" "$p" "$s"
  passed=$((passed + p)); skipped=$((skipped + s))
done
echo "every suite passed in $(( ($(date +%s) - started) / 60 )) min $(( ($(date +%s) - started) % 60 )) s"
echo "pytest: $passed passed, 0 failed, $skipped skipped"
