#!/usr/bin/env bash
# Regenerates the README's pictures: the main window and the log view's
# menu in English and in Chinese, the tray menu, and the main window at 150 %
# (144 DPI), the history window (SHOTS_ONLY=history: that one alone). Runs
# the real dist/ build under Wine in Xvfb,
# in a prefix of its own where Wine draws the window frames itself.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
out=docs/images
bash scripts/install-deps.sh
# Pictures only: a CJK font for the Chinese window and xdotool to find windows.
for p in fonts-wqy-microhei xdotool; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null
done
mkdir -p "$out" build/shots
export WINEPREFIX=$here/build/shots/prefix-${TOLLVANE_ARCH:-auto} WINEDEBUG=-all
. scripts/wine-env.sh
tollvane_wine_down
tollvane_prefix
dist=dist; [ "$TOLLVANE_ARCH" = win64 ] && dist=dist-x64
# Without a window manager Wine draws captions only for unmanaged windows.
tollvane_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$WINESERVER" -w

shoot() {  # shoot <LC_ALL> <picture of the window> [<picture of the tray menu>] [<picture of the log menu>] [<picture of the history window>]
  local dir
  dir=$(mktemp -d /tmp/qt-shot-XXXXXX)
  cp -r "$dist/." "$dir/"
  xvfb-run -a -s "-screen 0 ${SHOT_SCREEN:-1024x768}x24" bash -c '
    set -u
    . scripts/wine-env.sh; tollvane_wine_up
    LC_ALL=$1 LANG=$1 tollvane_wine "$2/QuorvelTollvane.exe" >/dev/null 2>&1 &
    sleep 8
    id=$(xdotool search --name "^Quorvel Tollvane\$" | head -n 1)
    import -window "$id" "$3"
    if [ -n "$4" ]; then
      xdotool mousemove 420 300
      tollvane_wine "$5/screenshot_helper.exe" tray "$(tollvane_winepath "$2/QuorvelTollvane.exe")" >/dev/null 2>&1 &
      driver=$!
      sleep 4
      import -window root -crop 200x150+415+295 +repage "$4"
      wait $driver
    fi
    if [ -n "$6" ]; then
      tollvane_wine "$5/screenshot_helper.exe" log "$(tollvane_winepath "$2/QuorvelTollvane.exe")" >/dev/null 2>&1 &
      driver=$!
      sleep 4
      import -window root -crop 160x125+295+295 +repage "$6"
      wait $driver
    fi
    if [ -n "$7" ]; then
      tollvane_wine "$5/screenshot_helper.exe" history "$(tollvane_winepath "$2/QuorvelTollvane.exe")" >/dev/null 2>&1 &
      driver=$!
      sleep 7
      hid=$(xdotool search --name "History\$" | head -n 1)
      import -window "$hid" "$7"
      wait $driver
    fi
    tollvane_wine_down
  ' shoot "$1" "$dir" "$2" "${3:-}" "$tollvane_build/out" "${4:-}" "${5:-}"
  rm -rf "$dir"
}

# The system DPI, which Wine reads as each process starts; this prefix is the
# pictures' own, and the value is taken out again after the shot.
shoot_at_dpi() {  # shoot_at_dpi <dpi> <picture of the window>
  tollvane_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$WINESERVER" -w
  SHOT_SCREEN=1600x1200 shoot C "$2"
  tollvane_wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
  "$WINESERVER" -w
}

if [ "${SHOTS_ONLY:-}" = history ]; then
  shoot C "$here/build/shots/main-window-scratch.png" "" "" "$out/history-en.png"
  for f in "$out"/history-en.png; do convert "$f" -strip -colors 64 "$f"; done
  exit 0
fi
[ "${SHOTS_ONLY:-}" = zh ] || shoot C "$out/main-window-en.png" "$out/tray-menu-en.png" "$out/log-menu-en.png" "$out/history-en.png"
shoot zh_CN.UTF-8 "$out/main-window-zh.png" "" "$out/log-menu-zh.png"
[ "${SHOTS_ONLY:-}" = zh ] || shoot_at_dpi 144 "$out/main-window-en-150.png"
for f in "$out"/*.png; do convert "$f" -strip -colors 64 "$f"; done
ls -la "$out"
