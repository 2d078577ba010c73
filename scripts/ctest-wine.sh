#!/usr/bin/env bash
# Runs the Windows tests of a cross build inside the current X display, one
# at a time (they raise windows and take the foreground), and leaves no Wine
# process behind whatever happens.
set -u
build=$1; shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(cd "$build" && pwd)/wineprefix}
bash "$here/wine-prefix.sh"
cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
# Wine's own services and desktop process start with the first program and
# inherit its output pipes; started here on /dev/null, they cannot keep a
# test's pipes open after the test has ended.
wineserver -p
WINEDEBUG=-all wine cmd /c exit >/dev/null 2>&1 </dev/null
export TOLLVANE_CAPTURE_OUTPUT=1
ctest --test-dir "$build" --output-on-failure --timeout 180 "$@"
