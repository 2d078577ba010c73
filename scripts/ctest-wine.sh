#!/usr/bin/env bash
# Runs the Windows tests of a cross build inside the current X display, one
# at a time (they raise windows and take the foreground), and leaves no Wine
# process behind whatever happens. TOLLVANE_ARCH names the build's
# architecture (see wine-env.sh).
set -u
build=$(cd "$1" && pwd); shift
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" || exit 1
tollvane_prefix || exit 1
trap tollvane_wine_down EXIT
tollvane_wine_up
export TOLLVANE_CAPTURE_OUTPUT=1
ctest --test-dir "$build" --output-on-failure --timeout 180 "$@"
