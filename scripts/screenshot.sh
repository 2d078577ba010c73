#!/usr/bin/env bash
# Saves a PNG of the whole X display named by $DISPLAY.
set -eu
out=$1
if command -v import >/dev/null 2>&1; then
  import -window root "$out"
else
  xwd -root -silent | convert xwd:- "$out"
fi
