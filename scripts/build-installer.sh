#!/usr/bin/env bash
# Builds one per-user installer from an install tree with makensis.
#   usage: build-installer.sh win32 dist | build-installer.sh x64 dist-x64
#          [output exe] [version, default the project's]
set -eu
label=$1 tree=$(cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
version=${4:-$(sed -n 's/^project(QuorvelTollvane VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")}
out=${3:-$here/build/QuorvelTollvane-$version-setup-$label.exe}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
command -v makensis >/dev/null || { echo "build-installer: makensis is missing (apt-get install nsis)" >&2; exit 1; }
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DARCH="$label" -DTREE="$tree" \
  -DROOT="$here" -DOUTFILE="$out" "$here/installer/QuorvelTollvane.nsi"
echo "installer: ${out#$here/}"
