#!/usr/bin/env bash
# Regenerates the README's pictures: the main window and the log view's
# menu in English and in Chinese, and the tray menu. Runs the real dist/ build under Wine in Xvfb,
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

shoot() {  # shoot <LC_ALL> <picture of the window> [<picture of the tray menu>] [<picture of the log menu>]
  local dir
  dir=$(mktemp -d /tmp/qt-shot-XXXXXX)
  cp -r "$dist/." "$dir/"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
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
    tollvane_wine_down
  ' shoot "$1" "$dir" "$2" "${3:-}" "$tollvane_build/out" "${4:-}"
  rm -rf "$dir"
}

[ "${SHOTS_ONLY:-}" = zh ] || shoot C "$out/main-window-en.png" "$out/tray-menu-en.png" "$out/log-menu-en.png"
shoot zh_CN.UTF-8 "$out/main-window-zh.png" "" "$out/log-menu-zh.png"
for f in "$out"/*.png; do convert "$f" -strip -colors 64 "$f"; done
ls -la "$out"
