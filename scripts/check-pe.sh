#!/usr/bin/env bash
# Checks a built supervisor and its demo agent without running them, so the
# 32-bit product is checked even on a machine that cannot execute it:
#   - PE32 for the 32-bit build, PE32+ for the 64-bit one;
#   - the supervisor a GUI program, the agent a console one, both marked for
#     the oldest Windows of their kind (5.01 32-bit, 5.02 64-bit);
#   - nothing imported but DLLs every Windows has (no MinGW runtime DLLs);
#   - the supervisor's manifest names its own processor (Windows refuses a
#     64-bit program whose manifest says x86; Wine does not notice);
#   - the version resource carries the version the About box shows;
#   - every imported function is on the program's list in pe-imports/ beside
#     this script (one per program and build): a function newer than the
#     oldest Windows the program is marked for keeps the loader from starting
#     it there, and Wine, which has them all, never shows that.
# usage: check-pe.sh SUPERVISOR.exe AGENT.exe
set -eu
objdump=x86_64-w64-mingw32-objdump   # reads both PE32 and PE32+
windres=x86_64-w64-mingw32-windres
sup=$1 agent=$2
failures=0
fail() { echo "check-pe: $*" >&2; failures=$((failures + 1)); }

system_dlls='^(KERNEL32|USER32|GDI32|SHELL32|COMCTL32|COMDLG32|OLE32|OLEAUT32|ADVAPI32|PSAPI|VERSION|SHLWAPI|UXTHEME|MSVCRT)\.DLL$'

check_headers() {  # check_headers <exe> <Windows GUI|Windows CUI>
  local exe=$1 want_subsystem=$2 headers magic want_magic want_minor
  headers=$($objdump -p "$exe")
  case "$headers" in
    *"file format pei-i386"*) want_magic=PE32 want_minor=1 manifest_arch=x86 ;;
    *"file format pei-x86-64"*) want_magic=PE32+ want_minor=2 manifest_arch=amd64 ;;
    *) fail "$exe is not a Windows x86 or x86-64 program"; return ;;
  esac
  magic=$(sed -n 's/^Magic[[:space:]]*[0-9a-f]*[[:space:]]*(\(.*\))$/\1/p' <<<"$headers")
  [ "$magic" = "$want_magic" ] || fail "$exe: optional header magic $magic, expected $want_magic"
  grep -q "^Subsystem.*($want_subsystem)" <<<"$headers" ||
    fail "$exe: subsystem is not $want_subsystem"
  grep -qx $'MajorSubsystemVersion\t5' <<<"$headers" &&
    grep -qx $'MinorSubsystemVersion\t'"$want_minor" <<<"$headers" ||
    fail "$exe: subsystem version is not 5.0$want_minor"
  local dll
  for dll in $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers"); do
    tr '[:lower:]' '[:upper:]' <<<"$dll" | grep -Eq "$system_dlls" ||
      fail "$exe imports $dll, which Windows does not ship"
  done
  echo "check-pe: $(basename "$exe"): $want_magic, $want_subsystem 5.0$want_minor, system DLLs only"
}

# The manifest, the About box's version line and the version resource.
check_resources() {
  local exe=$1 rc about product archs
  rc=$($windres -i "$exe" -O rc 2>/dev/null) || { fail "$exe: resources unreadable"; return; }
  archs=$(grep -o 'processorArchitecture=""[^"]*""' <<<"$rc" | sort -u | tr -d '"' | sed 's/.*=//')
  [ "$archs" = "$manifest_arch" ] || fail "$exe: manifest names processor '$archs', expected $manifest_arch"
  about=$(sed -n 's/^ *CTEXT "Quorvel Tollvane  \([^"]*\)".*/\1/p' <<<"$rc" | head -n 1)
  product=$(sed -n 's/^ *VALUE "ProductVersion", "\([^"]*\)".*/\1/p' <<<"$rc" | head -n 1)
  if [ -z "$about" ] || [ "$about" != "$product" ]; then
    fail "$exe: About box shows '$about', version resource says '$product'"
  else
    echo "check-pe: $(basename "$exe"): version resource and About box both say $product"
  fi
}

# "DLL function" for each import of $1, as objdump names them.
list_imports() {
  $objdump -p "$1" | awk '
    /^The Import Tables/ { in_imports = 1; next }
    in_imports && /^The / { in_imports = 0 }
    in_imports && /DLL Name: / { dll = toupper($3) }
    in_imports && dll != "" && /^\t[0-9a-f]+\t/ { print dll, $NF }' | sort -u
}

# Imports beyond the list: a new call that needs a newer Windows goes
# through GetProcAddress; one every Windows of the kind has goes on the list.
check_imports() {
  local exe=$1 arch list extra
  case "$($objdump -f "$exe")" in
    *pei-i386*) arch=win32 ;;
    *) arch=win64 ;;
  esac
  list="$(dirname "${BASH_SOURCE[0]}")/pe-imports/$(basename "$exe").$arch"
  [ -f "$list" ] || { fail "$exe: no import list $list"; return; }
  extra=$(LC_ALL=C comm -23 <(list_imports "$exe" | LC_ALL=C sort -u) <(LC_ALL=C sort -u "$list"))
  if [ -n "$extra" ]; then
    fail "$exe imports what $list does not allow: $(tr '\n' ' ' <<<"$extra")"
  else
    echo "check-pe: $(basename "$exe"): every import is on $(basename "$list")"
  fi
}

check_headers "$sup" "Windows GUI"
check_resources "$sup"
check_headers "$agent" "Windows CUI"
check_imports "$sup"
check_imports "$agent"
exit $((failures > 0))
