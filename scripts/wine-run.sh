#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's private prefix.
# WINEPREFIX defaults to the prefix beside the cross build; stderr carries
# OutputDebugStringW lines when WINEDEBUG includes warn+seh.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win32
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$here/scripts/wine-prefix.sh" >&2 || exit 1
fi
if [ "${TOLLVANE_CAPTURE_OUTPUT:-}" = 1 ]; then
  # Processes the program starts (the supervisor, its agent, Wine's console
  # hosts) inherit its output; through a file they cannot keep a test
  # runner's pipe open after the program has ended.
  out=$(mktemp)
  wine "$@" >"$out" 2>&1
  rc=$?
  cat "$out"
  rm -f "$out"
  exit $rc
fi
exec wine "$@"
