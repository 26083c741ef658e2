# Helpers sourced by every script here: the repository root, --help, the log, Debian packages,
# ports and listeners, the servers' owner, passwords, Debian roots.
# shellcheck shell=bash disable=SC2034

TOLVAN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export TOLVAN_ROOT

# Text read on a terminal is broken at blanks to its width, never inside a word; anywhere else
# it passes as written. The first argument is the descriptor the text goes to.
fit_terminal() {
  local columns
  if terminal_columns "$1"; then
    fold -s -w "$columns"
  else
    cat
  fi
}

# Sets `columns` to the width of the terminal that descriptor $1 is on (at least 20 columns);
# fails when it is not on one. The terminal is asked itself, through a copy of the descriptor:
# inside $(...) the output is a pipe.
terminal_columns() {
  exec 3>&"$1"
  [[ -t 3 ]] && columns=$(stty size <&3 2>/dev/null) && columns=${columns#* } &&
    ((columns >= 20))
}

# The calling script's usage: its opening comment, without the comment marks. On a terminal, its
# prose is set anew to the terminal's width (a paragraph's lines joined, then broken at blanks);
# indented lines, "Usage:" lines and blank ones stay as they are.
script_usage() {
  local columns text
  text=$(awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "$0")
  if terminal_columns "${1:-1}"; then
    awk 'function flush() { if (prose != "") print prose; prose = "" }
         /^$|^[ \t]|^Usage:/ { flush(); print; next }
         { prose = prose == "" ? $0 : prose " " $0 }
         END { flush() }' <<<"$text" | fold -s -w "$columns"
  else
    printf '%s\n' "$text"
  fi
}

# Every script that sources this file answers --help (or -h) as its first argument with its
# usage on stdout, and does nothing else.
if [[ ${1:-} == --help || ${1:-} == -h ]]; then
  script_usage
  exit 0
fi

# Wrong arguments: the usage on stderr, status 2.
usage_error() {
  script_usage 2 >&2
  exit 2
}

# Every script logs the same way: "[script] message" on stderr.
log() { printf '[%s] %s\n' "$(basename "$0")" "$*" | fit_terminal 2 >&2; }
die() {
  log "error: $*"
  exit 1
}

# Debian 12 packages, by what needs them (used by the scripts that source this file).
TOLVAN_BUILD_PACKAGES=(cmake ninja-build g++ libcli11-dev unixodbc-dev)
# postgresql-client: the Debian release's pg_dump and pg_restore, laid out in the application
# folder's PostgreSQL/ (scripts/layout-appdir).
TOLVAN_RUNTIME_PACKAGES=(firebird3.0-server firebird3.0-utils libfbclient2 libib-util firebird-dev
  libpq-dev postgresql-client)
# libc6-dbg: the C library's and the loader's debugging symbols, so that the sanitizers name their
# frames in a report.
TOLVAN_TEST_PACKAGES=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  postgresql-15 iproute2 libc6-dbg debootstrap patchelf odbc-postgresql libsqliteodbc)
TOLVAN_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 wine64)
# What the cross-build of PostgreSQL's Windows client from Debian's source needs
# (scripts/windows-postgres-tools).
TOLVAN_WINDOWS_POSTGRESQL_PACKAGES=(libz-mingw-w64-dev dpkg-dev make)

# A policy-rc.d that keeps packaged servers from starting when they are installed.
TOLVAN_NO_START_POLICY=$'#!/bin/sh\nexit 101\n'

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
    printf '%s' "$TOLVAN_NO_START_POLICY" | "${sudo[@]}" tee "$policy" >/dev/null
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

# --- ports, listeners, owners, passwords ----------------------------------------------------------

port_taken() {
  [[ -n "$(ss -Hltn "sport = :$1" 2>/dev/null)" ]]
}

# The pid listening on PORT, or nothing.
listener_pid() {
  ss -Hltnp "sport = :$1" 2>/dev/null | grep -o 'pid=[0-9]*' | head -n1 | cut -d= -f2 || true
}

# A port for a test server: the one in the variable named VARIABLE when that is set (a fixed
# port, for examples that expect one; it fails when the port is taken), else a free random one.
# Usage: pick_port [VARIABLE]
pick_port() {
  local variable=${1:-} port
  if [[ -n $variable && -n ${!variable:-} ]]; then
    port=${!variable}
    if ! [[ $port =~ ^[0-9]+$ ]] || ((port < 1024 || port > 65535)); then
      log "$variable=$port is no port number from 1024 to 65535"
      return 1
    fi
    if port_taken "$port"; then
      log "$variable=$port: that port is already in use"
      return 1
    fi
    echo "$port"
    return 0
  fi
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 20000))
    if ! port_taken "$port"; then
      echo "$port"
      return 0
    fi
  done
  log "no free port found"
  return 1
}

# Waits up to 10 s for PID to listen on PORT; false when another process took the port or PID
# ended first.
wait_for_listener() {
  local pid=$1 port=$2 listener=""
  for _ in $(seq 1 100); do
    listener=$(listener_pid "$port")
    [[ -n $listener ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ $listener == "$pid" ]]
}

# Runs a command as OWNER when this is root (from /, which every user may enter: PostgreSQL's
# programs refuse to run as root), else as this user.
# Usage: run_as_owner OWNER COMMAND...
run_as_owner() {
  local owner=$1
  shift
  if ((EUID == 0)); then
    (cd / && /usr/sbin/runuser -u "$owner" -- "$@")
  else
    "$@"
  fi
}

# A random password of 20 letters and digits.
random_password() {
  head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 20
}

# The Firebird build a program or library carries ("3.0.11.33637"), empty when none.
firebird_build_of() {
  grep -aoE 'LI-V[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+' "$1" 2>/dev/null | head -n1 | cut -c5- || true
}

# --- Debian roots ---------------------------------------------------------------------------------

# The Debian mirror: $TOLVAN_DEBIAN_MIRROR, else the one this machine's apt uses, else
# deb.debian.org.
debian_mirror() {
  local uri=${TOLVAN_DEBIAN_MIRROR:-}
  if [[ -z $uri ]]; then
    uri=$(grep -hE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/* 2>/dev/null |
      grep -v security | head -n1 | sed -E 's/^URIs: *//; s/^deb +(\[[^]]*\] +)?//; s/ .*//') || true
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

# Makes a minimal Debian root of SUITE (bookworm, trixie) in FOLDER, which must not exist or be
# empty; debootstrap's output goes to LOG.
# Usage: make_debian_root SUITE FOLDER LOG
make_debian_root() {
  local suite=$1 folder=$2 log_file=$3
  ensure_packages debootstrap
  mkdir -p "$folder"
  debootstrap --variant=minbase "$suite" "$folder" "$(debian_mirror)" >"$log_file" 2>&1 || {
    log "debootstrap of $suite failed; see $log_file"
    return 1
  }
}

# Runs COMMAND inside ROOT with a clean environment: a PATH and the NAME=VALUE pairs given.
# Usage: run_in_root ROOT [NAME=VALUE...] COMMAND...
run_in_root() {
  local root=$1
  shift
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    "$@"
}

# The mount points at or under FOLDER, deepest first.
mounts_under() {
  awk -v root="$(realpath -m "$1")" '$2 == root || index($2, root "/") == 1 { print $2 }' \
    /proc/self/mounts | sort -r
}

# Unmounts everything mounted at or under FOLDER, deepest first (lazily when busy).
unmount_under() {
  local mount_point
  for mount_point in $(mounts_under "$1"); do
    umount "$mount_point" 2>/dev/null || umount -l "$mount_point" ||
      log "could not unmount $mount_point"
  done
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

# "Firebird 3.0.11, 4.0.5; PostgreSQL 15.20, 17.12": the versions of the test servers that ran,
# from their environment files (TOLVAN_FB_VERSION, TOLVAN_FB4_VERSION, TOLVAN_PG_VERSION,
# TOLVAN_PG17_VERSION).
tested_versions() {
  local fb=() pg=() version
  for version in "${TOLVAN_FB_VERSION:-}" "${TOLVAN_FB4_VERSION:-}"; do
    [[ -n $version ]] && fb+=("$(cut -d. -f1-3 <<<"$version")")
  done
  for version in "${TOLVAN_PG_VERSION:-}" "${TOLVAN_PG17_VERSION:-}"; do
    [[ -n $version ]] && pg+=("$version")
  done
  local IFS=,
  echo "Firebird ${fb[*]:-(nenhum)}; PostgreSQL ${pg[*]:-(nenhum)}" | sed 's/,/, /g'
}

# Seconds since the epoch, for timings in the logs.
now() { date +%s; }

# Starts a command in the background in a session of its own (so that its whole process group can
# be ended with `kill -- -PID`) at the given niceness. The kernel groups processes by session and
# shares the processors between the groups first, so a new session at nice 19 would still get as
# much as the caller's: the group's own niceness is set too. Its id is then in $!.
# Usage: start_in_background NICENESS LOG command...
start_in_background() {
  local niceness="$1" log="$2"
  shift 2
  setsid bash -c 'echo "$0" >/proc/self/autogroup 2>/dev/null || true; exec nice -n "$0" "$@"' \
    "$niceness" "$@" >"$log" 2>&1 &
}

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

# Prints "CASES FAILED" summed over the GoogleTest XML reports in FOLDER (a test program of the
# Windows build writes one: there each program is one ctest test); "0 0" when there is none.
gtest_case_counts() {
  local cases=0 failed=0 file line
  for file in "$1"/*.xml; do
    [[ -f $file ]] || continue
    line=$(grep -m 1 '<testsuites ' "$file") || continue
    if [[ $line =~ \ tests=\"([0-9]+)\"\ failures=\"([0-9]+)\" ]]; then
      cases=$((cases + BASH_REMATCH[1]))
      failed=$((failed + BASH_REMATCH[2]))
    fi
  done
  echo "$cases $failed"
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

# Prepares Wine for the Windows lane and the package's checks: a private 64-bit prefix (made on
# first use, about 20 s), no display, neither Mono's nor Gecko's installer, the loader's errors
# shown (plain -all would hide a missing DLL behind exit code 53), the locale UTF-8 (Wine reads
# Unix names and the environment in it, so accented folders arrive whole), and a persistent,
# warmed wineserver: without it every piped Wine run waits seconds and the first may hang. Sets
# TOLVAN_WINE (the wine64 program) and TOLVAN_WINESERVER; stop the server with
# "$TOLVAN_WINESERVER" -k.
# Usage: start_wine PREFIX
start_wine() {
  export WINEPREFIX="$1" WINEARCH=win64 WINEDEBUG=-all,err+module WINEDLLOVERRIDES="mscoree,mshtml="
  export LC_ALL=C.UTF-8
  unset DISPLAY WAYLAND_DISPLAY
  TOLVAN_WINE=/usr/lib/wine/wine64
  [[ -x $TOLVAN_WINE ]] || die "$TOLVAN_WINE is missing"
  TOLVAN_WINESERVER=$(command -v wineserver || true)
  if [[ -z $TOLVAN_WINESERVER ]]; then
    TOLVAN_WINESERVER=/usr/lib/wine/wineserver64
    [[ -x $TOLVAN_WINESERVER ]] || TOLVAN_WINESERVER=/usr/lib/wine/wineserver
  fi
  export TOLVAN_WINE TOLVAN_WINESERVER
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    log "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    if ! timeout 300 "$TOLVAN_WINE" wineboot --init </dev/null >/dev/null 2>&1; then
      rm -rf "$WINEPREFIX"
      die "could not create the Wine prefix $WINEPREFIX"
    fi
    timeout 120 "$TOLVAN_WINESERVER" -w || true
  fi
  # Fails when one runs already, which serves as well.
  "$TOLVAN_WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  timeout 120 "$TOLVAN_WINE" wineboot </dev/null >/dev/null 2>&1 || die "Wine does not start in $WINEPREFIX"
}
