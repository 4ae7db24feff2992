#!/usr/bin/env bash
# Screenshots of update.exe under wine at 96 and 144 DPI (the LogPixels setting of the
# wine prefix), showing the offer of the local demo server: docs/win32-dpi-96.png and
# docs/win32-dpi-144.png. Needs build-win/ (scripts/build-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
bin="$root/build-win/bin"
[ -x "$bin/update.exe" ] || { echo "no $bin/update.exe: run scripts/build-windows.sh first" >&2; exit 1; }

source scripts/wine-session.sh updater-shots

python3 -u demo/server.py --installer "$bin/fake_setup.exe" --size 0 --notes "Faster downloads and a clearer window." \
  >"$work/demo.out" 2>&1 &
pids+=($!)
await "grep -q '^PORT ' '$work/demo.out'" 30
port="$(sed -n 's/^PORT \([0-9]*\).*/\1/p' "$work/demo.out" | head -1)"

mkdir -p "$work/app/Languages"
cp "$bin/update.exe" "$work/app/"
cp "$bin"/Languages/*.lng "$work/app/Languages/"
printf '[Current]\r\nAppName=My App\r\nVersion=1.0\r\nbuildId=2012\r\nUpdateServer=http://127.0.0.1:%s/update/\r\n' \
  "$port" >"$work/app/update.ini"

for dpi in 96 144; do
  timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  timeout 60 wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  # A new wine server reads the setting.
  timeout 30 wineserver -k || true
  timeout 30 wineserver -w || true
  (cd "$work/app" && exec wine update.exe /langid=1) >"$work/update-$dpi.log" 2>&1 &
  # The offer's box is up once a second window with the application's title is visible;
  # it is moved below the update window, so that both show.
  await "[ \$(xdotool search --onlyvisible --name '^My App Update\$' | wc -l) -ge 2 ]" 120
  windows=($(xdotool search --onlyvisible --name '^My App Update$' | sort -n))
  eval "$(xdotool getwindowgeometry --shell "${windows[0]}")"
  xdotool windowmove "${windows[-1]}" "$X" $((Y + HEIGHT + 8))
  await "[ \"\$(xdotool getwindowgeometry --shell ${windows[-1]} | sed -n 's/^Y=//p')\" = $((Y + HEIGHT + 8)) ]" 30
  # The window behind repaints what the box uncovered; the screen is taken once two
  # captures in a row are the same.
  import -window root "$work/root-$dpi.png"
  await "import -window root '$work/again.png' && compare -metric AE '$work/root-$dpi.png' '$work/again.png' null: \
         || { cp '$work/again.png' '$work/root-$dpi.png'; false; }" 30
  convert "$work/root-$dpi.png" -trim +repage "docs/win32-dpi-$dpi.png"
  echo "docs/win32-dpi-$dpi.png"
  timeout 30 wineserver -k || true
done
