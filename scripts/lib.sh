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
  postgresql-15 iproute2 libc6-dbg debootstrap patchelf)
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

# Makes a program or library of another Debian's root (scripts/debian13-servers) run on this
# machine: its loader and its libraries are the root's (DT_RPATH, so that the libraries it loads
# find theirs there too), and nothing else of it changes: the build tag it carries stays.
# Usage: run_from_root ROOT FILE...
run_from_root() {
  local root=$1 file
  shift
  local libs="$root/usr/lib/x86_64-linux-gnu:$root/usr/lib/x86_64-linux-gnu/firebird/4.0/lib"
  for file in "$@"; do
    if [[ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" != 177ELF ]]; then continue; fi
    if patchelf --print-interpreter "$file" >/dev/null 2>&1; then
      patchelf --set-interpreter "$root/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2" "$file"
    fi
    patchelf --force-rpath --set-rpath "$libs" "$file"
  done
}

# Copies a tool or library of the root into a test's application folder, made to run here.
# Usage: copy_tool ROOT SOURCE TARGET (SOURCE relative to ROOT; TARGET a file path)
# A gbak of the root finds its messages through FIREBIRD_MSG (the root's firebird.msg folder).
copy_tool() {
  local root=$1 source=$2 target=$3
  cp -L "$root/$source" "$target"
  run_from_root "$root" "$target"
}

# "Firebird 3.0.11, 4.0.5; PostgreSQL 15.20, 17.12": the versions of the test servers, read from
# the programs the server scripts run and from their environment (TOLVAN_FB4_VERSION,
# TOLVAN_PG17_VERSION); a server that did not run is left out.
tested_versions() {
  local fb3 pg15 fb=() pg=()
  fb3=$(grep -aoE 'LI-V3\.[0-9]+\.[0-9]+' /usr/sbin/firebird 2>/dev/null | head -n1 | cut -c5-) || true
  pg15=$(/usr/lib/postgresql/15/bin/postgres --version 2>/dev/null | awk '{print $3}') || true
  [[ -n $fb3 ]] && fb+=("$fb3")
  [[ -n ${TOLVAN_FB4_VERSION:-} ]] && fb+=("$(cut -d. -f1-3 <<<"$TOLVAN_FB4_VERSION")")
  [[ -n $pg15 ]] && pg+=("$pg15")
  [[ -n ${TOLVAN_PG17_VERSION:-} ]] && pg+=("$TOLVAN_PG17_VERSION")
  local IFS=,
  echo "Firebird ${fb[*]:-(nenhum)}; PostgreSQL ${pg[*]:-(nenhum)}" | sed 's/,/, /g'
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
