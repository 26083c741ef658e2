# Helpers sourced by the other scripts: repository root, logging, Debian packages.
# shellcheck shell=bash disable=SC2034

TOLVAN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export TOLVAN_ROOT

log() { printf '[%s] %s\n' "$(basename "$0")" "$*" >&2; }
die() {
  log "error: $*"
  exit 1
}

# Debian 12 packages, by what needs them (used by the scripts that source this file).
TOLVAN_BUILD_PACKAGES=(cmake ninja-build g++ libcli11-dev)
TOLVAN_RUNTIME_PACKAGES=(firebird3.0-server firebird3.0-utils libfbclient2 libib-util firebird-dev
  libpq-dev)
# libc6-dbg: the C library's and the loader's debugging symbols, so that the sanitizers name their
# frames in a report.
TOLVAN_TEST_PACKAGES=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  postgresql-15 iproute2 libc6-dbg)
TOLVAN_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 wine64)

_tolvan_apt_updated=0

package_installed() {
  [[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" == installed ]]
}

# Installs the packages that are not installed yet; does nothing (and asks no one) when all are.
ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    package_installed "$pkg" || missing+=("$pkg")
  done
  ((${#missing[@]} == 0)) && return 0

  local sudo=()
  if ((EUID != 0)); then
    command -v sudo >/dev/null || die "missing packages ${missing[*]}, and not root to install them"
    sudo=(sudo)
  fi
  log "installing ${missing[*]}"
  # Packaged servers must not start system-wide on install (they would listen on every
  # interface); the tests start private ones on loopback.
  local policy=/usr/sbin/policy-rc.d own_policy=0
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
    "${sudo[@]}" chmod 755 "$policy"
    own_policy=1
  fi
  local rc=0
  if ((_tolvan_apt_updated == 0)); then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null >&2 || rc=$?
    _tolvan_apt_updated=1
  fi
  if ((rc == 0)); then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "${missing[@]}" </dev/null >&2 || rc=$?
  fi
  if ((own_policy)); then "${sudo[@]}" rm -f "$policy"; fi
  ((rc == 0)) || die "apt-get failed (status $rc) installing ${missing[*]}"
}

# Seconds since the epoch, for timings in the logs.
now() { date +%s; }

# Runs ctest with the given arguments, keeping its output in LOG as well.
# Usage: run_ctest LOG ctest-arguments...
run_ctest() {
  local log="$1"
  shift
  rm -f "$log"
  ctest "$@" 2>&1 | tee "$log"
}

# Prints "PASSED FAILED" from the summary line of a ctest log ("0 0" when there is none).
ctest_counts() {
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" 2>/dev/null |
    tail -n 1) || true
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    echo "$((BASH_REMATCH[2] - BASH_REMATCH[1])) ${BASH_REMATCH[1]}"
  else
    echo "0 0"
  fi
}

# Says plainly when sanitizer reports in LOG hold frames that carry no name, only a module and an
# offset ("#1 0x7f3a... (/lib64/ld-linux-x86-64.so.2+0x10e4d)"): such a report cannot be read (nor
# matched by a suppression that names a function), and the machine lacks the symbols to name it.
explain_unnamed_frames() {
  local modules
  modules=$(grep -oE '^ +#[0-9]+ 0x[0-9a-f]+ +\([^)+]+\+0x[0-9a-f]+\)' "$1" 2>/dev/null |
    sed -E 's/.*\(([^)+]+)\+.*/\1/' | sort -u | tr '\n' ' ') || true
  [[ -n $modules ]] || return 0
  log "note: sanitizer reports in $1 hold frames without names (only module and offset), in:" \
    "$modules- this machine cannot name them, so those reports cannot be told apart from real" \
    "faults and count as failures. Install the modules' debugging symbols (libc6-dbg for the C" \
    "library and the loader) or llvm-symbolizer, and run again."
}
