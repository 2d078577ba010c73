#!/usr/bin/env bash
# Compiles every Win32 source a second time with clang for both MinGW targets
# (32- and 64-bit), warnings as errors, so that neither one compiler's
# tolerance nor one pointer size hides anything. The product itself is built
# with GCC; this pass only checks (-fsyntax-only), two files at a time.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
files=$(ls app/*.cpp ui/*.cpp supervision/*.cpp output/*.cpp journal/*.cpp framework/*.cpp tools/agent/*.cpp tests/win/*.cpp tests/e2e/*.cpp \
        bench/*.cpp docs/examples/*.cpp docs/examples/*.c 2>/dev/null || true)

check_one() {  # check_one <triple> <file>
  local triple=$1 f=$2 gcc_dir
  local target=--target=${triple/mingw32/windows-gnu}
  local defines=(-DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -DPSAPI_VERSION=1
                 -D_WIN32_WINNT=0x0601 -DWINVER=0x0601)
  if [ "${f##*.}" = c ]; then
    clang "$target" -std=c11 -fsyntax-only -Wall -Wextra -Werror -isystem "/usr/$triple/include" \
          -DUNICODE -D_UNICODE "$f" && return 0
  else
    gcc_dir=$(dirname "$("$triple-g++-posix" -print-libgcc-file-name)")
    clang++ "$target" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -nostdinc++ \
            -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/$triple" \
            -isystem "$gcc_dir/include/c++/backward" -isystem "/usr/$triple/include" \
            "${defines[@]}" -I. -Ires -I/usr/src/googletest/googletest/include "$f" && return 0
  fi
  echo "clang-check: $f failed for $triple"
  return 1
}
export -f check_one

status=0
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
  for f in $files; do echo "$triple $f"; done
done | xargs -P 2 -n 2 bash -c 'check_one "$@"' _ || status=1
[ $status -eq 0 ] && echo "clang-check: $(echo $files | wc -w) files compile cleanly with clang for i686 and x86_64"
exit $status
