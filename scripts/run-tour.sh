#!/usr/bin/env bash
# Builds and installs tolvat into the current python3, then runs the tour.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
"$PY" -m pip install -q --disable-pip-version-check .
"$PY" examples/tour.py
