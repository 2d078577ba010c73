#!/usr/bin/env bash
# The installer end to end in a throwaway Wine prefix: a silent install, a
# reinstall over the running supervisor, a silent upgrade while the user's
# own agent runs, the start options, and silent uninstalls. The installers
# are built here from the build's own output (scripts/build-installer.sh);
# the upgrade is the same build under a higher version number.
#   usage: installer.sh <cross build dir>   (TOLLVANE_ARCH picks the build)
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d /tmp/qt-setup-XXXXXX)
export WINEPREFIX=$work/prefix
# No menu entries or file associations for the real home directory.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
. "$here/scripts/wine-env.sh" || exit 1
label=win32
[ "$TOLLVANE_ARCH" = win64 ] && label=x64

cleanup() { "$WINESERVER" -k >/dev/null 2>&1; wait; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
# Polls a command for at most $1 seconds.
within() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge "$end" ] && return 1; sleep 0.5; done
}
# How many processes of this prefix run the Windows executable $1.
running() {
  local d n=0 args
  for d in /proc/[0-9]*; do
    grep -qzxF "WINEPREFIX=$WINEPREFIX" "$d/environ" 2>/dev/null || continue
    args=$(tr '\0' ' ' 2>/dev/null <"$d/cmdline")
    args=${args#\"}
    case "${args,,}" in "${1,,}"*) n=$((n + 1)) ;; esac
  done
  echo $n
}
runs() { [ "$(running "$1")" -eq "$2" ]; }
gone() { local f; for f; do [ ! -e "$f" ] || return 1; done; }
regval() {
  "$WINELOADER" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | grep .
}
setup() { "$WINELOADER" "$@" >/dev/null 2>&1 </dev/null; }

version=$(sed -n 's/^project(QuorvelTollvane VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
next=$(echo "$version" | awk -F. '{ print $1 "." $2 + 1 ".0" }')
for v in "$version" "$next"; do
  bash "$here/scripts/build-installer.sh" $label "$build/out" "$work/setup-$v.exe" "$v" >/dev/null || exit 1
done
tollvane_prefix || exit 1
tollvane_wine_up

local_win=$("$WINELOADER" cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
roaming_win=$("$WINELOADER" cmd /c 'echo %APPDATA%' | tr -d '\r')
temp_win=$("$WINELOADER" cmd /c 'echo %TEMP%' | tr -d '\r')
inst_win="$local_win\\Programs\\Quorvel Tollvane"
inst=$("$WINELOADER" winepath -u "$inst_win" 2>/dev/null)
shortcut=$("$WINELOADER" winepath -u "$roaming_win\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvel Tollvane.lnk" 2>/dev/null)
journal=$("$WINELOADER" winepath -u "$local_win\\QuorvelTollvane" 2>/dev/null)
sup="$inst_win\\QuorvelTollvane.exe"
agent="$inst_win\\bin\\Tollvane.exe"
uninstall_root='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'
shared_key="$uninstall_root\\QuorvelTollvane"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
setup_key='HKCU\Software\QuorvelTollvane'
echo "installer e2e: $label setup $version and $next in $WINEPREFIX"
# Each installation's keys are named by the id its folder keeps.
id_of() { cat "$1/installation.id" 2>/dev/null; }
key_of() { echo "$uninstall_root\\QuorvelTollvane-$1"; }
absent() { ! "$WINELOADER" reg query "$@" >/dev/null 2>&1; }
uninstall() {
  setup "$1/Uninstall.exe" /S "${@:2}"
  # The uninstaller runs on from a copy in the temporary folder: wait for its
  # work and for its end.
  within 60 test ! -e "$1/Uninstall.exe"
  within 30 eval 'runs "$temp_win\\~nsu" 0'
}

# 1. A silent install into the fresh prefix, where an older setup left its
#    one shared key and sign-in value for this folder.
"$WINELOADER" reg add "$shared_key" /v InstallLocation /d "$inst_win" /f >/dev/null 2>&1
"$WINELOADER" reg add "$run_key" /v QuorvelTollvane /d "\"$sup\" starthide" /f >/dev/null 2>&1
check "silent install succeeds" setup "$work/setup-$version.exe" /S
id=$(id_of "$inst")
uninst_key=$(key_of "$id")
check "the folder keeps its id" eval '[[ "$id" =~ ^[0-9a-f]{8}$ ]]'
check "the shared key and sign-in value became the installation's own" \
  eval 'absent "$shared_key" && ! regval "$run_key" QuorvelTollvane >/dev/null'
check "the files are installed" test -f "$inst/QuorvelTollvane.exe" -a -f "$inst/bin/Tollvane.exe" \
  -a -f "$inst/README.md" -a -f "$inst/LICENSE" -a -f "$inst/AGENT-CONTRACT.md" -a -f "$inst/Uninstall.exe"
check "the Start menu shortcut exists" test -f "$shortcut"
check "Apps & features lists the version" test "$(regval "$uninst_key" DisplayVersion)" = "$version"
check "Apps & features knows the quiet uninstall" test "$(regval "$uninst_key" QuietUninstallString)" = "\"$inst_win\\Uninstall.exe\" /S"
check "the folder is recorded" test "$(regval "$uninst_key" InstallLocation)" = "$inst_win"
check "sign-in starts it hidden" test "$(regval "$run_key" "QuorvelTollvane-$id")" = "\"$sup\" starthide"
check "the supervisor and its agent run" within 30 eval 'runs "$sup" 1 && runs "$agent" 1'
check "the id is the hash that names the folder's journal" within 10 test -f "$journal/logs/agent-$id.log"

# 2. A reinstall with /NORUN: the running supervisor is asked to exit and
#    nothing is started again.
check "reinstall with /NORUN succeeds" setup "$work/setup-$version.exe" /S /NORUN
sleep 2
check "after /NORUN neither the supervisor nor the agent runs" eval 'runs "$sup" 0 && runs "$agent" 0'
check "a reinstall keeps sign-in start" test -n "$(regval "$run_key" "QuorvelTollvane-$id")"

# 3. The upgrade, while the old supervisor runs the user's own agent, started
#    through another drive letter for the same folder.
cp "$build/out/examples/minimal_agent_c.exe" "$inst/bin/Tollvane.exe"
echo stale >"$inst/README.md"
touch -d 2001-01-01 "$inst/QuorvelTollvane.exe"
ln -sfn "$(dirname "$inst")" "$WINEPREFIX/dosdevices/q:"
("$WINELOADER" 'Q:\Quorvel Tollvane\QuorvelTollvane.exe' >/dev/null 2>&1 </dev/null; echo $? >"$work/old.rc") &
check "the old supervisor runs the user's agent" \
  within 30 eval 'runs "Q:\\Quorvel Tollvane\\QuorvelTollvane.exe" 1 && runs "Q:\\Quorvel Tollvane\\bin\\Tollvane.exe" 1'
check "silent upgrade succeeds" setup "$work/setup-$next.exe" /S
check "the old supervisor left through its Exit command (exit code 1)" \
  within 10 eval '[ "$(cat "$work/old.rc" 2>/dev/null)" = 1 ]'
rm -f "$WINEPREFIX/dosdevices/q:"
check "the files are replaced" eval 'cmp -s "$here/README.md" "$inst/README.md" &&
  cmp -s "$build/out/QuorvelTollvane.exe" "$inst/QuorvelTollvane.exe" &&
  [ "$(stat -c %Y "$inst/QuorvelTollvane.exe")" -gt "$(date -d 2001-01-02 +%s)" ]'
check "the user's agent is the same file" cmp -s "$build/out/examples/minimal_agent_c.exe" "$inst/bin/Tollvane.exe"
check "Apps & features lists the new version" test "$(regval "$uninst_key" DisplayVersion)" = "$next"
check "one supervisor runs again, with the user's agent" within 30 eval 'runs "$sup" 1 && runs "$agent" 1'

# 4. The silent uninstall asks it to exit and keeps the user's agent.
uninstall "$inst"
check "no supervisor or agent runs after uninstall" eval 'runs "$sup" 0 && runs "$agent" 0'
check "the installed files are gone" gone "$inst/QuorvelTollvane.exe" "$inst/README.md" "$inst/LICENSE" \
  "$inst/AGENT-CONTRACT.md" "$inst/Uninstall.exe" "$inst/installation.id"
check "the user's agent stays" cmp -s "$build/out/examples/minimal_agent_c.exe" "$inst/bin/Tollvane.exe"
check "the shortcut is gone" test ! -e "$shortcut"
check "the Apps & features entry is gone" absent "$uninst_key"
check "the sign-in value is gone" eval '! regval "$run_key" "QuorvelTollvane-$id" >/dev/null'
check "the journal stays" test -f "$journal/logs/agent-$id.log"

# 5. A folder deeper than the output pipe's name allows is refused.
deep_win="$local_win\\$(printf 'd%.0s' $(seq 1 $((196 - ${#local_win}))))"
check "a folder of 198 characters is refused" eval '! setup "$work/setup-$next.exe" /S /NORUN "/D=${deep_win}x" &&
  test ! -e "$("$WINELOADER" winepath -u "${deep_win}x" 2>/dev/null)"'

# 6. Two installations side by side: each has its own entries, and each
#    uninstall takes only its own, with /REMOVELOGS only its own journal.
#    (The journals so far go first: the one of the Q: spelling is another
#    installation's as far as its name tells.)
rm -rf "$inst" "$journal"
check "install with /NOAUTOSTART /NORUN succeeds" setup "$work/setup-$next.exe" /S /NOAUTOSTART /NORUN
check "/NOAUTOSTART writes no sign-in value" eval '! regval "$run_key" "QuorvelTollvane-$id" >/dev/null'
sleep 2
check "/NORUN starts nothing" runs "$sup" 0
second_win="$local_win\\Programs\\Second"
second=$("$WINELOADER" winepath -u "$second_win" 2>/dev/null)
check "a second installation succeeds" setup "$work/setup-$next.exe" /S "/D=$second_win"
id2=$(id_of "$second")
check "the second has its own id, entry and sign-in value" eval '[ -n "$id2" ] && [ "$id2" != "$id" ] &&
  [ "$(regval "$(key_of "$id2")" InstallLocation)" = "$second_win" ] &&
  [ "$(regval "$run_key" "QuorvelTollvane-$id2")" = "\"$second_win\\QuorvelTollvane.exe\" starthide" ]'
check "Apps & features tells the two apart" eval '[ "$(regval "$uninst_key" DisplayName)" != "$(regval "$(key_of "$id2")" DisplayName)" ]'
check "the last folder is the next default" test "$(regval "$setup_key" LastInstallLocation)" = "$second_win"
shortcut2="$(dirname "$shortcut")/Quorvel Tollvane ($id2).lnk"
check "each installation has its own Start menu shortcut" test -f "$shortcut" -a -f "$shortcut2"
check "the second runs and keeps its journal" within 30 test -f "$journal/logs/agent-$id2.log"
mkdir -p "$journal/logs" && echo old >"$journal/logs/agent-$id.1.log"
uninstall "$inst" /REMOVELOGS
check "an uninstall without files of the user's removes the folder" within 10 test ! -e "$inst"
check "/REMOVELOGS removes this installation's journal" gone "$journal/logs/agent-$id.1.log"
check "the other installation's journal, entry and sign-in value stay" eval '[ -f "$journal/logs/agent-$id2.log" ] &&
  [ -n "$(regval "$(key_of "$id2")" InstallLocation)" ] && [ -n "$(regval "$run_key" "QuorvelTollvane-$id2")" ] &&
  runs "$second_win\\QuorvelTollvane.exe" 1'
check "the other installation's shortcut stays, this one's goes" eval 'gone "$shortcut" && [ -f "$shortcut2" ]'
uninstall "$second" /REMOVELOGS
check "the last /REMOVELOGS leaves no journal folder" test ! -e "$journal"
check "the last shortcut goes with its installation" gone "$shortcut2"

[ $failures -eq 0 ] && echo "installer e2e: all passed" || echo "installer e2e: $failures failed"
[ $failures -eq 0 ]
