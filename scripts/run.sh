#!/usr/bin/env bash
# Starts the supervisor under Wine. With a display it runs there until you
# choose Exit from its tray menu; without one it runs inside Xvfb, saves a
# screenshot and ends.
set -eu
exe=$1
shot=${2:-build/screenshot.png}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"
tollvane_prefix

if [ -n "${DISPLAY:-}" ]; then
  echo "run: starting $exe on $DISPLAY"
  exec "$here/wine-run.sh" "$exe"
fi

seconds=${RUN_SECONDS:-8}
mkdir -p "$(dirname "$shot")"
echo "run: no display; starting $exe inside Xvfb for ${seconds}s"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1/wine-run.sh" "$2" & pid=$!
  sleep "$3"
  # The X window Wine makes for the dialog carries its title.
  import -window "Quorvel Tollvane" "$4" 2>/dev/null || "$1/screenshot.sh" "$4"
  kill $pid 2>/dev/null || true
  "$WINESERVER" -k 2>/dev/null || true
' run "$here" "$exe" "$seconds" "$shot"
echo "run: screenshot of the window saved to $shot"
