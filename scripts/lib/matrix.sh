# Sourced by the test, wheel and release scripts: the interpreters of the test matrix.
#
#   matrix_pythons        prints one interpreter path a line: CPython 3.11, 3.12, 3.13, 3.14 and
#                         3.14t; fails naming any that is missing
#   python_label PYTHON   "3.12.1", "3.14.7t", ...
#   fresh_venv PYTHON DIR a new virtual environment of PYTHON in DIR, with an up-to-date pip
#
# TOLVAT_PYTHONS (paths or commands, separated by spaces) replaces the matrix, e.g. for a quick
# local run. 3.11 to 3.13 are taken from PATH, then from pyenv's versions; 3.14 and 3.14t from
# TOLVAT_PYTHON_PREFIX (default /opt), where scripts/provision-pythons.sh builds them.

TOLVAT_MATRIX_VERSIONS=(3.11 3.12 3.13 3.14 3.14t)

# A command that runs and is the CPython of that version, or nothing.
find_python() {
  local v=$1 candidate root
  local -a candidates=("python$v")
  if command -v pyenv >/dev/null 2>&1 && root=$(pyenv root 2>/dev/null); then
    # Newest patch release first.
    while IFS= read -r candidate; do candidates+=("$candidate"); done < <(
      ls -d "$root/versions/${v%t}".*/bin/"python$v" 2>/dev/null | sort -Vr)
  fi
  candidates+=("${TOLVAT_PYTHON_PREFIX:-/opt}/python$v/bin/python$v")
  for candidate in "${candidates[@]}"; do
    # The interpreter's own path, not a launcher's (pyenv's shims depend on the shell's settings).
    if "$candidate" -c 'import sys, sysconfig
v = "%d.%d%s" % (sys.version_info[:2] + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else "",))
sys.exit(v != sys.argv[1])' "$v" >/dev/null 2>&1; then
      "$candidate" -c 'import sys; print(sys.executable)'
      return 0
    fi
  done
  return 1
}

matrix_pythons() {
  if [ -n "${TOLVAT_PYTHONS:-}" ]; then
    local p
    for p in $TOLVAT_PYTHONS; do command -v "$p" || { echo "no interpreter $p" >&2; return 1; }; done
    return 0
  fi
  local v missing=()
  for v in "${TOLVAT_MATRIX_VERSIONS[@]}"; do
    find_python "$v" || missing+=("$v")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "the test matrix lacks CPython ${missing[*]} (3.14 and 3.14t: scripts/provision-pythons.sh)" >&2
    return 1
  fi
}

python_label() {
  "$1" -c 'import sys, sysconfig
print(sys.version.split()[0] + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))'
}

fresh_venv() {
  rm -rf "$2"
  "$1" -m venv "$2"
  "$2/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
}
