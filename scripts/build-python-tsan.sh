#!/usr/bin/env bash
# Builds a ThreadSanitizer-instrumented free-threaded CPython 3.14 (no GIL) with clang into its own
# prefix (default /opt/python3.14t-tsan), once per machine: when the prefix already holds a working
# interpreter the script only says so. scripts/run-tsan.sh builds tolvat against it.
#
#   scripts/build-python-tsan.sh [PREFIX]
#
# The source is the Debian source package of python3.14, fetched from the machine's own Debian
# mirror (the first non-security URI in its apt sources), from the unstable suite, which carries
# 3.14; versions the mirror no longer holds are skipped. clang comes from Debian (`apt-get install
# clang`); the script installs it when it is missing and it runs as root.
set -euo pipefail
PREFIX="${1:-/opt/python3.14t-tsan}"
exe="$PREFIX/bin/python3.14t"
JOBS="${JOBS:-2}"

if "$exe" -c 'import sys, sysconfig; assert sys.version_info[:2] == (3, 14); assert "-fsanitize=thread" in sysconfig.get_config_var("CONFIG_ARGS") + sysconfig.get_config_var("PY_CFLAGS")' 2>/dev/null; then
  echo "$exe is already there"
  exit 0
fi

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
  [ "$(id -u)" = 0 ] || { echo "clang is missing: apt-get install clang" >&2; exit 1; }
  apt-get update -qq && apt-get install -y -qq clang >/dev/null
fi

mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -m1 -v security || true)
[ -n "$mirror" ] || mirror=$(awk '$1=="deb"{print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
[ -n "$mirror" ] || { echo "no Debian mirror found in the apt sources" >&2; exit 1; }

work=$(mktemp -d /tmp/cpython314-tsan.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Versions the unstable source index names, newest first, then releases the mirror may still keep.
mkdir -p lists/partial
printf 'deb-src %s sid main\n' "$mirror" > src.list
apt_opts=(-o "Dir::Etc::sourcelist=$work/src.list" -o Dir::Etc::sourceparts=/dev/null -o "Dir::State::Lists=$work/lists")
apt-get "${apt_opts[@]}" update -qq >/dev/null 2>&1 || true
versions=$(apt-cache "${apt_opts[@]}" showsrc python3.14 2>/dev/null | sed -n 's/^Version: \([0-9.]*\).*/\1/p' | sort -Vr | uniq)
tarball=""
for v in $versions 3.14.7 3.14.6 3.14.5 3.14.4 3.14.3 3.14.2; do
  if curl -sf -o src.tar.xz "$mirror/pool/main/p/python3.14/python3.14_$v.orig.tar.xz"; then
    tarball=src.tar.xz; echo "building CPython $v with ThreadSanitizer into $PREFIX"; break
  fi
done
[ -n "$tarball" ] || { echo "the mirror holds no CPython 3.14 source" >&2; exit 1; }

tar xf "$tarball"
cd Python-3.14*/
start=$(date +%s)
# The build runs the new interpreter (freezing, compileall, ensurepip); CPython's own known races
# must not fail those steps, so reports are written but do not change the exit status here.
export TSAN_OPTIONS="exitcode=0 suppressions=$PWD/Tools/tsan/suppressions_free_threading.txt"
# No --enable-optimizations / LTO: profile runs under TSan take hours and LTO hides frames.
CC=clang CXX=clang++ ./configure --disable-gil --with-thread-sanitizer --with-pydebug=no \
  --prefix="$PREFIX" --with-ensurepip=install >configure.log 2>&1 || { tail -30 configure.log; exit 1; }
make -j"$JOBS" >make.log 2>&1 || { tail -40 make.log; exit 1; }
make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
# CPython's own list of its known races, kept beside the interpreter for reference.
mkdir -p "$PREFIX/share/tsan" && cp Tools/tsan/*.txt "$PREFIX/share/tsan/" 2>/dev/null || true
"$exe" -c 'import sys; print(sys.version); print("GIL enabled:", sys._is_gil_enabled())'
echo "built in $(( $(date +%s) - start )) s"
