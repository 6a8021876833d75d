#!/usr/bin/env bash
# Builds the CPython 3.14 interpreters that the test matrix needs and that a Debian stable machine
# lacks: the regular build (python3.14, with the GIL) and the free-threaded one (python3.14t).
# Each goes into its own folder under PREFIX (default /opt): PREFIX/python3.14/bin/python3.14 and
# PREFIX/python3.14t/bin/python3.14t, with pip. An interpreter that is already there and works is
# left alone, so a second run costs nothing.
#
#   scripts/provision-pythons.sh [PREFIX] [VARIANT...]     VARIANT: 3.14, 3.14t (default: both)
#
# The source is Debian's own source package python3.14: the mirror is the one the machine's apt
# sources name, the suite is unstable (TOLVAT_CPYTHON_SUITE), which carries 3.14 while stable does
# not. The index is read into a private folder, so the machine's apt state is not touched. A
# version that the index names but the mirror no longer holds is passed over, and the last
# release known to be held is tried after the index's (TOLVAT_CPYTHON_VERSION picks one, e.g.
# 3.14.7-1). The upstream tarball (.orig.tar.xz) is checked against the package's .dsc and built
# as it is, without Debian's patches. About 3 to 5 minutes per interpreter on 2 cores.
#
# Runs of this script for the same prefix wait for each other (a lock beside each interpreter).
set -euo pipefail
PREFIX=${1:-/opt}
shift || true
VARIANTS=("$@")
[ ${#VARIANTS[@]} -gt 0 ] || VARIANTS=(3.14 3.14t)
SUITE=${TOLVAT_CPYTHON_SUITE:-unstable}
KNOWN_HELD=(3.14.7-1)

say() { printf '[provision] %s\n' "$*"; }

# The interpreter of a variant, and whether it is there and complete.
exe_of() { printf '%s/python%s/bin/python%s' "$PREFIX" "$1" "$1"; }
works() {
  local exe free=0
  exe=$(exe_of "$1")
  [ "${1%t}" != "$1" ] && free=1
  "$exe" - "$free" 2>/dev/null <<'PY'
import sys, sysconfig
import ensurepip, ssl, venv, zlib, ctypes, lzma, bz2, sqlite3  # what pip, venv and the tests use
free = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
sys.exit(not (sys.version_info[:2] == (3, 14) and free == (sys.argv[1] == "1")))
PY
}

missing=()
for v in "${VARIANTS[@]}"; do
  case "$v" in 3.14|3.14t) ;; *) echo "unknown variant $v (3.14 or 3.14t)" >&2; exit 2 ;; esac
  if works "$v"; then say "$(exe_of "$v") is already there"; else missing+=("$v"); fi
done
[ ${#missing[@]} -gt 0 ] || exit 0

SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
# The libraries behind the standard modules that pip, venv and the tests need.
build_deps=(build-essential pkg-config curl xz-utils libssl-dev zlib1g-dev libffi-dev libbz2-dev
            liblzma-dev libsqlite3-dev libreadline-dev libncurses-dev uuid-dev)
absent=()
for p in "${build_deps[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || absent+=("$p")
done
if [ ${#absent[@]} -gt 0 ]; then
  say "installing ${absent[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${absent[@]}" >/dev/null
fi

mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null \
         | grep -v -m1 security || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { print $i; exit } }' \
                             /etc/apt/sources.list 2>/dev/null || true)
[ -n "$mirror" ] || { echo "no Debian mirror in the apt sources" >&2; exit 1; }
mirror=${mirror%/}

work=$(mktemp -d "${TMPDIR:-/tmp}/provision-cpython.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

mkdir -p lists/partial
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
printf 'deb-src [signed-by=%s] %s %s main\n' "$keyring" "$mirror" "$SUITE" >sources.list
apt_opts=(-o "Dir::Etc::sourcelist=$work/sources.list" -o Dir::Etc::sourceparts=/dev/null
          -o "Dir::State::Lists=$work/lists" -o Debug::NoLocking=1)
say "reading the $SUITE source index from $mirror"
apt-get "${apt_opts[@]}" update -qq >apt-update.log 2>&1 || { cat apt-update.log >&2; exit 1; }
indexed=$(apt-cache "${apt_opts[@]}" showsrc python3.14 2>/dev/null | sed -n 's/^Version: //p' | sort -Vr | uniq)

pool="$mirror/pool/main/p/python3.14"
found=""
for version in ${TOLVAT_CPYTHON_VERSION:-$indexed ${KNOWN_HELD[*]}}; do
  upstream=${version%-*}
  if curl -sf -o source.dsc "$pool/python3.14_$version.dsc" &&
     curl -sf -o source.tar.xz "$pool/python3.14_$upstream.orig.tar.xz"; then
    found=$version
    break
  fi
  say "the mirror does not hold python3.14 $version"
done
[ -n "$found" ] || { echo "the mirror holds no python3.14 source package" >&2; exit 1; }
expected=$(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 ~ /\.orig\.tar\.xz$/ { print $1 }' source.dsc)
actual=$(sha256sum source.tar.xz | cut -d' ' -f1)
[ -n "$expected" ] && [ "$expected" = "$actual" ] || { echo "python3.14_$found: the tarball does not match its .dsc" >&2; exit 1; }
say "building CPython $upstream (Debian source package python3.14 $found)"
tar xf source.tar.xz
src=$(ls -d "$work"/Python-3.14*/)

for v in "${missing[@]}"; do
  dest="$PREFIX/python$v"
  mkdir -p "$PREFIX"
  exec 9>"$PREFIX/.python$v.lock"
  flock 9
  if works "$v"; then say "$(exe_of "$v") appeared meanwhile"; exec 9>&-; continue; fi
  flags=(--prefix="$dest" --with-ensurepip=install --disable-test-modules)
  [ "$v" = 3.14t ] && flags+=(--disable-gil)
  mkdir -p "$work/build-$v"
  cd "$work/build-$v"
  start=$(date +%s)
  say "configure, make, make install: $dest"
  "$src/configure" "${flags[@]}" >configure.log 2>&1 || { tail -30 configure.log >&2; exit 1; }
  make -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log >&2; exit 1; }
  make install >install.log 2>&1 || { tail -40 install.log >&2; exit 1; }
  works "$v" || { echo "$(exe_of "$v") was installed but does not work" >&2; exit 1; }
  say "$("$(exe_of "$v")" -c 'import sys; print(sys.version.split()[0], sys.abiflags or "")') in $dest, $(( $(date +%s) - start )) s"
  exec 9>&-
done
