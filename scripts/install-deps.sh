#!/usr/bin/env bash
# Installs the cross toolchain, Wine and the test tools this project needs.
# Idempotent: every step checks first and skips what is already present.
#
# The 64-bit path never depends on the 32-bit packages: a package index that
# cannot be refreshed (a mirror caught mid-sync) or a wine32 that cannot be
# installed costs one line, and scripts/wine-env.sh then picks the 64-bit
# build. Only a core package that cannot be installed fails the step.
set -uo pipefail

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# Both toolchains, zlib for both targets (and for the native rule tests) and
# the 64-bit Wine: everything the 64-bit build needs to build and run its
# tests.
core=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
      libz-mingw-w64-dev zlib1g-dev wine wine64 xvfb xauth cmake make googletest libgtest-dev
      x11-apps imagemagick clang zip nsis)
# The 32-bit Wine: wanted where the kernel runs 32-bit programs, never needed.
extra=(wine32:i386)

missing() { local p; for p in "$@"; do have_pkg "$p" || echo "$p"; done; }
mapfile -t need_core < <(missing "${core[@]}")
mapfile -t need_extra < <(missing "${extra[@]}")

if [ ${#need_core[@]} -eq 0 ] && [ ${#need_extra[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
  exit 0
fi

refresh_index() {
  # apt-get update exits 0 even when some lists failed; its "E:" and "W:"
  # lines say so.
  local out
  out=$($SUDO apt-get update -qq 2>&1)
  if [ $? -ne 0 ] || grep -q '^E:' <<<"$out"; then
    echo "install-deps: the package index could not be refreshed in full (a mirror out of sync?); going on with what it has"
  fi
}

if [ ${#need_extra[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture for wine32"
  $SUDO dpkg --add-architecture i386
fi
refresh_index

if [ ${#need_core[@]} -gt 0 ]; then
  echo "install-deps: installing ${need_core[*]}"
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${need_core[@]}" >/dev/null; then
    echo "install-deps: could not install ${need_core[*]}" >&2
    exit 1
  fi
fi

if [ ${#need_extra[@]} -gt 0 ]; then
  if $SUDO apt-get install -y -qq --no-install-recommends "${need_extra[@]}" >/dev/null 2>&1; then
    echo "install-deps: installed ${need_extra[*]}"
  else
    echo "install-deps: wine32 (32-bit Wine) cannot be installed here; the 64-bit build is the one that runs"
  fi
fi
exit 0
