#!/usr/bin/env bash
# Builds and installs tolvat into the current python3, then runs the tour and the command-line
# converter on an example.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
"$PY" -m pip install -q --disable-pip-version-check .
"$PY" examples/tour.py
# The command-line converter, installed with the package.
echo
echo '$ tolvat "90 km/hr" "m/s"'
"$PY" -m _tolvat "90 km/hr" "m/s"
