#!/usr/bin/env bash
# Builds the documentation site into build/docs/html and checks it:
#   1. a virtual environment build/venvs/docs of PYTHON (default python3) with docs/requirements.txt;
#   2. sphinx-build -W --keep-going: HTML into build/docs/html, every warning an error; the API
#      reference is generated from the type stubs (stubs/tolvat-stubs/__init__.pyi);
#   3. sphinx-build -b linkcheck on the site's own links (into build/docs/linkcheck; links to
#      other sites are not followed);
#   4. with --check, the reader's test (tests/docs/test_site.py): headless Chromium opens the
#      built pages, searches, and saves screenshots into build/docs/screenshots. It needs Debian's
#      chromium package (or CHROMIUM naming a Chromium or Chrome binary).
#
#   scripts/build-docs.sh [--check] [PYTHON]
#
# The examples on the pages are run by the Python suite (tests/python/test_guide.py), against
# the installed module.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
. scripts/lib/matrix.sh
check=false
if [ "${1:-}" = "--check" ]; then check=true; shift; fi
PY=${1:-python3}

venv="$ROOT/build/venvs/docs"
"$venv/bin/python" -c '' 2>/dev/null || fresh_venv "$PY" "$venv"
"$venv/bin/python" -m pip install -q --disable-pip-version-check -r docs/requirements.txt

out="$ROOT/build/docs"
rm -rf "$out/html" "$out/linkcheck" "$out/doctrees"
"$venv/bin/sphinx-build" -W --keep-going -q -b html -d "$out/doctrees" docs "$out/html"
echo "site: $out/html/index.html"
"$venv/bin/sphinx-build" -W --keep-going -q -b linkcheck -d "$out/doctrees" docs "$out/linkcheck"
"$venv/bin/python" - "$out/linkcheck/output.json" <<'PY'
import collections, json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    statuses = collections.Counter(json.loads(line)["status"] for line in f if line.strip())
print("linkcheck:", ", ".join(f"{n} {status}" for status, n in sorted(statuses.items())) or "no links", "(none broken)")
PY

if $check; then
  (cd tests/docs && "$venv/bin/python" -m pytest -p no:cacheprovider -q .)
fi
