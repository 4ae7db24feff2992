# Sourced (with a name for the temporary folder) by the scripts that run the Windows build's
# programs under wine: a temporary folder $work, a fresh 64-bit wine prefix in it, one Xvfb
# display without a window manager, and a clean-up at exit that ends the wine server and
# every process whose id the script adds to $pids, then removes $work.
#   source scripts/wine-session.sh updater-wine
work="$(mktemp -d "/tmp/$1.XXXXXX")"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
pids=()
wine_session_cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap wine_session_cleanup EXIT

# Waits (at most $2 seconds, in case it never comes) until the command $1 succeeds.
await() {
  local deadline=$((SECONDS + $2))
  until eval "$1" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || { echo "timed out waiting for: $1" >&2; return 1; }
    sleep 0.2
  done
}

display=":$((90 + RANDOM % 800))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY="$display"
await "xdpyinfo" 30 || { cat "$work/xvfb.log"; exit 1; }

timeout 180 wineboot -i >"$work/wineboot.log" 2>&1 || { echo "wineboot failed"; cat "$work/wineboot.log"; exit 1; }
