#!/usr/bin/env bash
# Makes one release zip from an install tree: the supervisor, the demo agent,
# the README, the licence, the agent guide and SHA-256 checksums of every
# file in it.  usage: package.sh win32 dist | package.sh x64 dist-x64
set -eu
label=$1 tree=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
version=$(sed -n 's/^project(QuorvelTollvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="QuorvelTollvane-$version-$label"
stage="build/package/$name"
rm -rf "$stage" && mkdir -p "$stage/bin"
cp "$tree/QuorvelTollvane.exe" "$stage/"
cp "$tree/bin/Tollvane.exe" "$stage/bin/"
cp README.md LICENSE "$stage/"
cp docs/agent-contract.md "$stage/AGENT-CONTRACT.md"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sort | sed 's|^\./||' | xargs sha256sum > SHA256SUMS)
rm -f "build/$name.zip"
(cd build/package && zip -qr "../$name.zip" "$name")
echo "package: build/$name.zip"
(cd "$stage" && sha256sum -c --quiet SHA256SUMS)
