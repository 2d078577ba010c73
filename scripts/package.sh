#!/usr/bin/env bash
# Makes the release zip from dist/: the supervisor, the demo agent, the
# README, the licence and SHA-256 checksums of every file in it.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
version=$(sed -n 's/^project(QuorvelTollvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="QuorvelTollvane-$version-win32"
stage="build/package/$name"
rm -rf "build/package" && mkdir -p "$stage/bin"
cp dist/QuorvelTollvane.exe "$stage/"
cp dist/bin/Tollvane.exe "$stage/bin/"
cp README.md LICENSE "$stage/"
cp docs/agent-contract.md "$stage/AGENT-CONTRACT.md"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sort | sed 's|^\./||' | xargs sha256sum > SHA256SUMS)
rm -f "build/$name.zip"
(cd build/package && zip -qr "../$name.zip" "$name")
echo "package: build/$name.zip"
(cd "$stage" && sha256sum -c --quiet SHA256SUMS)
