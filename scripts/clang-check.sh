#!/usr/bin/env bash
# Compiles every Win32 source a second time with clang for the MinGW target,
# warnings as errors, so that one compiler's tolerance hides nothing. The
# product itself is built with GCC; this pass only checks (-fsyntax-only).
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
gcc_dir=$(dirname "$(i686-w64-mingw32-g++-posix -print-libgcc-file-name)")
flags=(--target=i686-w64-windows-gnu -std=c++17 -fsyntax-only -Wall -Wextra -Werror
       -nostdinc++ -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/i686-w64-mingw32"
       -isystem "$gcc_dir/include/c++/backward" -isystem /usr/i686-w64-mingw32/include
       -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -DPSAPI_VERSION=1
       -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -I. -Ires -I/usr/src/googletest/googletest/include)
files=$(ls app/*.cpp ui/*.cpp agent/*.cpp framework/*.cpp tools/agent/*.cpp tests/win/*.cpp tests/e2e/*.cpp \
        bench/*.cpp docs/examples/*.cpp 2>/dev/null || true)
status=0
for f in $files; do
  clang++ "${flags[@]}" "$f" || { echo "clang-check: $f failed"; status=1; }
done
c_files=$(ls docs/examples/*.c 2>/dev/null || true)
for f in $c_files; do
  clang --target=i686-w64-windows-gnu -std=c11 -fsyntax-only -Wall -Wextra -Werror \
        -isystem /usr/i686-w64-mingw32/include -DUNICODE -D_UNICODE "$f" || { echo "clang-check: $f failed"; status=1; }
done
[ $status -eq 0 ] && echo "clang-check: $(echo $files $c_files | wc -w) files compile cleanly with clang"
exit $status
