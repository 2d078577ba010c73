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
out=$(mktemp)
# Exit code 77 tells ctest that nothing was checked (SKIP_RETURN_CODE).
if exe=$(tollvane_winepath "$dir/QuorvelTollvane.exe") && [ -n "$exe" ]; then
  TOLLVANE_ZH_EXE="$exe" "$here/scripts/wine-run.sh" "$build/out/e2e_tests.exe" \
    --gtest_filter=ChineseUi.SupervisorStartedInAChineseSessionShowsChineseTexts >"$out" 2>&1
  rc=$?
  cat "$out"
  if [ $rc -eq 0 ] && ! grep -q '^\[       OK \]' "$out"; then
    echo "skipped: the check did not run"
    rc=77
  fi
else
  echo "skipped: winepath could not name the supervisor's Windows path"
  rc=77
fi
rm -f "$out"
kill $sup 2>/dev/null
wait $sup 2>/dev/null
rm -rf "$dir"
exit $rc
