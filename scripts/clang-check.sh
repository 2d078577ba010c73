#!/usr/bin/env bash
# Compiles every Win32 source a second time with clang for both MinGW targets
# (32- and 64-bit), warnings as errors, so that neither one compiler's
# tolerance nor one pointer size hides anything. The product itself is built
# with GCC; this pass only checks (-fsyntax-only).
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
files=$(ls app/*.cpp ui/*.cpp agent/*.cpp framework/*.cpp tools/agent/*.cpp tests/win/*.cpp tests/e2e/*.cpp \
        bench/*.cpp docs/examples/*.cpp 2>/dev/null || true)
c_files=$(ls docs/examples/*.c 2>/dev/null || true)
defines=(-DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -DPSAPI_VERSION=1
         -D_WIN32_WINNT=0x0601 -DWINVER=0x0601)
status=0
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
  target=--target=${triple/mingw32/windows-gnu}
  gcc_dir=$(dirname "$($triple-g++-posix -print-libgcc-file-name)")
  flags=("$target" -std=c++17 -fsyntax-only -Wall -Wextra -Werror
         -nostdinc++ -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/$triple"
         -isystem "$gcc_dir/include/c++/backward" -isystem "/usr/$triple/include"
         "${defines[@]}" -I. -Ires -I/usr/src/googletest/googletest/include)
  for f in $files; do
    clang++ "${flags[@]}" "$f" || { echo "clang-check: $f failed for $triple"; status=1; }
  done
  for f in $c_files; do
    clang "$target" -std=c11 -fsyntax-only -Wall -Wextra -Werror \
          -isystem "/usr/$triple/include" -DUNICODE -D_UNICODE "$f" || { echo "clang-check: $f failed for $triple"; status=1; }
  done
done
[ $status -eq 0 ] && echo "clang-check: $(echo $files $c_files | wc -w) files compile cleanly with clang for i686 and x86_64"
exit $status
