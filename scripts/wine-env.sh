#!/usr/bin/env bash
# The one place that knows how Wine runs on this machine: which Windows build
# it can execute (32- or 64-bit), the loader and server that go with it, and
# the private prefix of each build. Every script that starts Wine sources it:
#
#   . scripts/wine-env.sh          # sets TOLLVANE_ARCH, WINEPREFIX, WINELOADER, ...
#   bash scripts/wine-env.sh --resolve [--quiet]   # prints win32 or win64 for make
#
# TOLLVANE_ARCH (win32 or win64) forces a build; empty means the one this
# machine runs: the 32-bit build where the kernel executes 32-bit programs
# and 32-bit Wine is installed, the 64-bit one elsewhere. The `wine` and `wineserver` wrappers pick
# the 32-bit loader whenever wine32 is installed, so the loader and server
# are always named here, never left to them.

tollvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tollvane_no32="this machine does not run 32-bit programs"
tollvane_nowine32="32-bit Wine (wine32) is not installed here"
# Where the probe looks; tests point these at stand-ins.
tollvane_ld32=${TOLLVANE_LD32:-/lib/ld-linux.so.2}
tollvane_winedir=${TOLLVANE_WINE_DIR:-/usr/lib/wine}

# Some kernels refuse i386 programs outright ("Exec format error"): ask the
# 32-bit dynamic loader, which every 32-bit Wine needs, to run at all.
# TOLLVANE_NO_32BIT=1 makes a machine that can behave as one that cannot.
tollvane_runs_32bit() {
  [ "${TOLLVANE_NO_32BIT:-}" = 1 ] && return 1
  [ -x "$tollvane_ld32" ] && "$tollvane_ld32" --version >/dev/null 2>&1
}

# A kernel that runs 32-bit programs is not enough: the 32-bit loader and
# server of Wine must be there too (wine32 may not install on every mirror).
tollvane_has_wine32() {
  [ -x "$tollvane_winedir/wine" ] && [ -x "$tollvane_winedir/wineserver32" ]
}

# Why the 32-bit build cannot run here; empty when it can.
tollvane_why_no_32bit() {
  if ! tollvane_runs_32bit; then
    echo "$tollvane_no32"
  elif ! tollvane_has_wine32; then
    echo "$tollvane_nowine32"
  fi
}

# Prints the architecture to use; says in one plain line (unless --quiet)
# when the machine cannot run the 32-bit build, and fails with that line
# when a forced 32-bit build cannot run here.
tollvane_resolve_arch() {
  local why
  why=$(tollvane_why_no_32bit)
  case "${TOLLVANE_ARCH:-}" in
    "")
      if [ -z "$why" ]; then
        echo win32
      else
        [ "${1:-}" = --quiet ] || echo "$why; testing the 64-bit build" >&2
        echo win64
      fi ;;
    win32)
      if [ -n "$why" ]; then
        echo "$why; ARCH=win32 cannot run here (use ARCH=win64)" >&2
        return 1
      fi
      echo win32 ;;
    win64) echo win64 ;;
    *)
      echo "ARCH must be win32 or win64, not '${TOLLVANE_ARCH}'" >&2
      return 1 ;;
  esac
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    --resolve) tollvane_resolve_arch "${2:-}"; exit $? ;;
    *) echo "usage: bash scripts/wine-env.sh --resolve [--quiet]  (or source it)" >&2; exit 2 ;;
  esac
fi

if [ -z "${TOLLVANE_ARCH:-}" ]; then
  TOLLVANE_ARCH=$(tollvane_resolve_arch --quiet) || return 1
fi
case "$TOLLVANE_ARCH" in
  win32)
    tollvane_build=$tollvane_root/build/win
    WINELOADER=$tollvane_winedir/wine
    WINESERVER=$tollvane_winedir/wineserver32 ;;
  win64)
    tollvane_build=$tollvane_root/build/win64
    WINELOADER=$tollvane_winedir/wine64
    WINESERVER=$tollvane_winedir/wineserver64 ;;
  *) tollvane_resolve_arch >/dev/null; return 1 ;;
esac
export TOLLVANE_ARCH WINELOADER WINESERVER
export WINEARCH=$TOLLVANE_ARCH
export WINEPREFIX=${WINEPREFIX:-$tollvane_build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

tollvane_wine() { "$WINELOADER" "$@"; }
tollvane_wineserver() { "$WINESERVER" "$@"; }

# Creates the prefix once; later calls return at once.
tollvane_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  echo "wine-prefix: creating $WINEPREFIX ($TOLLVANE_ARCH, once)" >&2
  "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER" -w
  [ -f "$WINEPREFIX/system.reg" ]
}

# Starts the server and Wine's own services on /dev/null, so that they do
# not inherit (and keep open) the output pipes of the first test program.
tollvane_wine_up() {
  "$WINESERVER" -p
  WINEDEBUG=-all "$WINELOADER" cmd /c exit >/dev/null 2>&1 </dev/null
}

tollvane_wine_down() { "$WINESERVER" -k >/dev/null 2>&1 || true; }

# A Unix path as the Windows programs of the prefix see it.
tollvane_winepath() { "$WINELOADER" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
