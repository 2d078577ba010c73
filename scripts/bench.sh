#!/usr/bin/env bash
# Runs every benchmark of a cross build inside the current X display, shows
# each table as it is printed, and ends with the rows that missed their
# targets and the set-ups that failed. Fails when any benchmark did (a missed
# row, a failed section or set-up).
set -u
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(cd "$build" && pwd)/wineprefix}
. "$here/wine-env.sh" || exit 1
tollvane_prefix || exit 1
tollvane_wine_up
rc=0
logs=()
for exe in "$build"/out/*_bench.exe; do
  # Through a file, not a pipe: processes a benchmark starts inherit its
  # output and could keep a pipe open after it has ended.
  log="$build/$(basename "$exe" .exe).log"
  : >"$log"
  logs+=("$log")
  bash "$here/wine-run.sh" "$exe" >"$log" 2>&1 &
  pid=$!
  tail -n +1 -f --pid=$pid "$log"
  wait $pid
  code=$?
  if [ $code -ne 0 ]; then
    rc=1
    echo "$(basename "$exe") failed (exit code $code)"
  fi
done
tollvane_wine_down
echo
# A set-up that failed (the machine could not build what a section measures
# on) is no missed target: it is told on its own.
if grep -h '^SET-UP FAILED' "${logs[@]}"; then
  echo "make bench: the set-ups above failed; their rows were not measured"
fi
if grep -h '^MISSED' "${logs[@]}"; then
  echo "make bench: the rows above missed their targets"
elif grep -qh '^SET-UP FAILED' "${logs[@]}"; then
  :
elif [ $rc -ne 0 ]; then
  echo "make bench: a benchmark failed without naming a row"
else
  echo "make bench: every row met its target"
fi
exit $rc
