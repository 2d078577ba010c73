#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's private prefix of
# the build in use (TOLLVANE_ARCH; see wine-env.sh). stderr carries
# OutputDebugStringW lines when WINEDEBUG includes warn+seh.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" || exit 1
tollvane_prefix >&2 || exit 1
if [ "${TOLLVANE_CAPTURE_OUTPUT:-}" = 1 ]; then
  # Processes the program starts (the supervisor, its agent, Wine's console
  # hosts) inherit its output; through a file they cannot keep a test
  # runner's pipe open after the program has ended.
  out=$(mktemp)
  tollvane_wine "$@" >"$out" 2>&1
  rc=$?
  cat "$out"
  rm -f "$out"
  exit $rc
fi
exec "$WINELOADER" "$@"
