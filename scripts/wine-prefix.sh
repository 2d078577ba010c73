#!/usr/bin/env bash
# Creates the private Wine prefix once; later calls return at once.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/win/wineprefix}
export WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$WINEPREFIX/system.reg" ]; then exit 0; fi
mkdir -p "$(dirname "$WINEPREFIX")"
echo "wine-prefix: creating $WINEPREFIX (once)"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
test -f "$WINEPREFIX/system.reg"
