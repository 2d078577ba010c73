#!/usr/bin/env bash
# The Wine probe's decisions, against stand-in loaders: the 32-bit build only
# where both the 32-bit loader runs and the 32-bit Wine is there.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fails=0

# A machine: $1 = loader runs (yes/no/absent), $2 = wine32 present (yes/no).
machine() {
  rm -rf "$tmp/m"; mkdir -p "$tmp/m/wine"
  case $1 in
    yes) printf '#!/bin/sh\nexit 0\n' >"$tmp/m/ld" ;;
    no) printf '#!/bin/sh\necho "Exec format error" >&2; exit 126\n' >"$tmp/m/ld" ;;
  esac
  [ -f "$tmp/m/ld" ] && chmod +x "$tmp/m/ld"
  touch "$tmp/m/wine/wine64" "$tmp/m/wine/wineserver64"
  [ "$2" = yes ] && touch "$tmp/m/wine/wine" "$tmp/m/wine/wineserver32"
  chmod +x "$tmp/m/wine/"*
}

# expect <arch asked> <stdout wanted> <exit wanted> <stderr pattern or ->
expect() {
  local out err rc
  out=$(TOLLVANE_ARCH=$1 TOLLVANE_LD32="$tmp/m/ld" TOLLVANE_WINE_DIR="$tmp/m/wine" \
        bash "$here/scripts/wine-env.sh" --resolve 2>"$tmp/err"); rc=$?
  err=$(cat "$tmp/err")
  if [ "$out" != "$2" ] || [ "$rc" != "$3" ] || { [ "$4" != - ] && ! grep -q "$4" <<<"$err"; }; then
    echo "FAILED: machine=$M asked='$1': got '$out' rc=$rc err='$err'"
    fails=$((fails + 1))
  fi
}

M="32-bit loader and wine32"; machine yes yes
expect "" win32 0 -
expect win64 win64 0 -
M="32-bit loader, no wine32"; machine yes no
expect "" win64 0 "wine32"
expect win32 "" 1 "ARCH=win32 cannot run here"
M="kernel refuses i386"; machine no yes
expect "" win64 0 "does not run 32-bit programs"
M="no 32-bit loader at all"; machine absent no
expect "" win64 0 "does not run 32-bit programs"
expect win65 "" 1 "must be win32 or win64"

[ $fails -eq 0 ] && echo "wine-env probe: all decisions right" || exit 1
