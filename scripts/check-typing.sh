#!/usr/bin/env bash
# Checks the type stubs against the installed module and a typed usage example.
#
#   scripts/check-typing.sh [PYTHON]      (default: python3)
#
# Installs mypy into PYTHON, then runs:
#   1. mypy --strict on the stubs themselves;
#   2. stubtest, comparing the installed stubs (tolvat-stubs) with the installed module, with no
#      allow-list;
#   3. mypy --strict on tests/typing/usage.py, which pins the types of typical expressions;
#   4. the same file under PYTHON, which checks that the module returns exactly those types.
# The module must already be installed into PYTHON (pip install .); if it is not, it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
PY=${1:-python3}
pip_install() { "$PY" -m pip install -q --disable-pip-version-check --root-user-action=ignore "$@"; }

pip_install mypy
if ! "$PY" - <<'PY'
import importlib.util, pathlib, sys, sysconfig
roots = {sysconfig.get_paths()["purelib"], sysconfig.get_paths()["platlib"]}
stubs = any((pathlib.Path(root) / "tolvat-stubs" / "__init__.pyi").is_file() for root in roots)
sys.exit(not (stubs and importlib.util.find_spec("tolvat")))
PY
then
  echo "tolvat or its stubs are not installed into $PY: installing" >&2
  pip_install --no-deps .
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Run outside the source tree, so that only the installed module and stubs are seen.
cd "$work"
mypy=("$PY" -m mypy --cache-dir "$work/cache" --no-error-summary)

echo "== mypy --strict on the stubs"
"${mypy[@]}" --strict "$ROOT/stubs/tolvat-stubs/__init__.pyi"
echo "== stubtest"
"$PY" -m mypy.stubtest tolvat
echo "== mypy --strict on tests/typing/usage.py"
"${mypy[@]}" --strict "$ROOT/tests/typing/usage.py"
echo "== tests/typing/usage.py at run time"
"$PY" "$ROOT/tests/typing/usage.py" >/dev/null
echo "typing checks passed"
