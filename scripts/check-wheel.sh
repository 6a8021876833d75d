#!/usr/bin/env bash
# Builds an sdist and a wheel with `python -m build` (the wheel from the sdist, so the sdist is
# known to be complete), installs the wheel into a fresh virtual environment and runs the tour
# from there, outside the source tree. The two files are left in dist/.
#
#   scripts/check-wheel.sh [PYTHON]      (default: python3)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
PY=${1:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { printf '\n=== %s\n' "$*"; }

step "python -m build"
"$PY" -m pip install -q --disable-pip-version-check --root-user-action=ignore build
"$PY" -m build --outdir "$work/dist" .
sdist=$(ls "$work"/dist/tolvat-*.tar.gz)
wheel=$(ls "$work"/dist/tolvat-*.whl)

step "contents"
"$PY" - "$sdist" "$wheel" <<'PY'
import sys, tarfile, zipfile
sdist, wheel = sys.argv[1:]
with tarfile.open(sdist) as tar:
    names = {name.split("/", 1)[1] for name in tar.getnames() if "/" in name}
for needed in ("pyproject.toml", "CMakeLists.txt", "src/python/module.cpp", "src/core/catalogue.cpp",
               "stubs/tolvat-stubs/__init__.pyi", "examples/tour.py", "README.md"):
    assert needed in names, f"sdist lacks {needed}"
with zipfile.ZipFile(wheel) as whl:
    names = whl.namelist()
assert any(name.startswith("tolvat.") and name.endswith((".so", ".pyd")) for name in names), names
assert "tolvat-stubs/__init__.pyi" in names, names
print("sdist:", sdist.rsplit("/", 1)[1])
print("wheel:", wheel.rsplit("/", 1)[1], "with", ", ".join(sorted(n for n in names if "dist-info" not in n)))
PY

step "fresh virtual environment"
"$PY" -m venv "$work/venv"
venv_py="$work/venv/bin/python"
"$venv_py" -m pip install -q --disable-pip-version-check --root-user-action=ignore "$wheel"

step "tour, from the installed wheel"
cd "$work"
"$venv_py" -c 'import tolvat, sys; assert not tolvat.__file__.startswith(sys.argv[1]), tolvat.__file__' "$ROOT"
"$venv_py" "$ROOT/examples/tour.py"

mkdir -p "$ROOT/dist"
cp "$sdist" "$wheel" "$ROOT/dist/"
echo
echo "wheel check passed: $(basename "$sdist") and $(basename "$wheel") are in dist/"
