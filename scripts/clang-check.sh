#!/usr/bin/env bash
# Compiles every Win32 source a second time with clang for both MinGW targets
# (32- and 64-bit), warnings as errors, so that neither one compiler's
# tolerance nor one pointer size hides anything. The product itself is built
# with GCC; this pass only checks (-fsyntax-only), two files at a time.
#
# The files, their definitions and include folders are the ones CMake gives
# the 32-bit build (its compile_commands.json): configure it first.
# Usage: clang-check.sh [build-dir]   (default build/win)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
db=${1:-build/win}/compile_commands.json
if [ ! -f "$db" ]; then
  echo "clang-check: $db is missing; configure the 32-bit build first (make configure-win32)" >&2
  exit 1
fi

# One line per source of ours: file, a tab, then its -D and -I flags.
sources=$(python3 - "$db" "$here" <<'PY'
import json, os, shlex, sys
db, root = sys.argv[1], sys.argv[2]

def expand(args, directory):
    # A cross build hands the include folders over in a response file.
    out = []
    for a in args:
        if a.startswith("@"):
            with open(os.path.join(directory, a[1:])) as rsp:
                out += expand(shlex.split(rsp.read()), directory)
        else:
            out.append(a)
    return out

seen = set()
for entry in json.load(open(db)):
    f = entry["file"]
    if not f.startswith(root + "/") or f.startswith(root + "/build") or not f.endswith((".c", ".cpp")):
        continue
    if f in seen:
        continue
    seen.add(f)
    args = expand(entry.get("arguments") or shlex.split(entry["command"]), entry["directory"])
    flags, i = [], 0
    while i < len(args):
        a = args[i]
        if a.startswith(("-D", "-I")):
            flags.append(a)
        elif a == "-isystem" and i + 1 < len(args):
            flags += [a, args[i + 1]]
            i += 1
        i += 1
    print(f + "\t" + " ".join(shlex.quote(x) for x in flags))
PY
)

check_one() {  # check_one "<triple>\t<file>\t<flags>"
  local triple file flags gcc_dir
  IFS=$'\t' read -r triple file flags <<<"$1"
  eval "local -a defs=($flags)"
  local target=--target=${triple/mingw32/windows-gnu}
  if [ "${file##*.}" = c ]; then
    clang "$target" -std=c11 -fsyntax-only -Wall -Wextra -Werror -isystem "/usr/$triple/include" \
          "${defs[@]}" "$file" && return 0
  else
    gcc_dir=$(dirname "$("$triple-g++-posix" -print-libgcc-file-name)")
    clang++ "$target" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -nostdinc++ \
            -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/$triple" \
            -isystem "$gcc_dir/include/c++/backward" -isystem "/usr/$triple/include" \
            "${defs[@]}" "$file" && return 0
  fi
  echo "clang-check: $file failed for $triple"
  return 1
}
export -f check_one

status=0
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
  while IFS= read -r line; do printf '%s\t%s\n' "$triple" "$line"; done <<<"$sources"
done | tr '\n' '\0' | xargs -0 -P 2 -n 1 bash -c 'check_one "$1"' _ || status=1
count=$(printf '%s\n' "$sources" | wc -l)
[ $status -eq 0 ] && echo "clang-check: $count files compile cleanly with clang for i686 and x86_64"
exit $status
