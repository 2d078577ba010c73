#!/usr/bin/env bash
# Installs the cross toolchain, Wine and the test tools this project needs.
# Idempotent: every step checks first and skips what is already present.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture for wine32"
  $SUDO dpkg --add-architecture i386
  NEED_UPDATE=1
fi

# Both toolchains and both Wine loaders: the 32-bit build runs where the kernel
# executes 32-bit programs, the 64-bit one everywhere (scripts/wine-env.sh).
for p in g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev \
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev \
         wine wine32:i386 wine64 xvfb xauth cmake make googletest libgtest-dev \
         x11-apps imagemagick clang zip; do
  have_pkg "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
else
  echo "install-deps: everything is present"
fi
