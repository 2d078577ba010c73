#!/usr/bin/env bash
# Starts a supervisor (without agent) under the Chinese locale and lets the
# e2e driver check its texts; the driver ends it through its Exit command.
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/wine-env.sh" || exit 1
dir=$(mktemp -d /tmp/qt-zh-XXXXXX)
mkdir -p "$dir/bin"
cp "$build/out/QuorvelTollvane.exe" "$dir/"
LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8 "$here/scripts/wine-run.sh" "$dir/QuorvelTollvane.exe" >/dev/null 2>&1 &
sup=$!
exe=$(tollvane_winepath "$dir/QuorvelTollvane.exe")
TOLLVANE_ZH_EXE="$exe" "$here/scripts/wine-run.sh" "$build/out/e2e_tests.exe" \
  --gtest_filter=ChineseUi.SupervisorStartedInAChineseSessionShowsChineseTexts
rc=$?
kill $sup 2>/dev/null
wait $sup 2>/dev/null
rm -rf "$dir"
exit $rc
