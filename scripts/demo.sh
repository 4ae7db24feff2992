#!/usr/bin/env bash
# The updater's main job, end to end, against a local update server:
#   installs what is missing, builds, starts demo/server.py on 127.0.0.1, prepares an
#   install folder (the updater, update.ini pointing at that server, Languages/), and runs
#   the updater. With a desktop it is interactive; without one (or with --headless) it
#   runs under Xvfb, answers the boxes itself, saves a screenshot of each phase into
#   demo-out/shots/ and prints what happened. The offer is signed with a throw-away
#   publisher key that the demo's update.ini trusts; --tamper makes the server change one
#   byte of the installer after signing, and the updater refuses it.
# Options: --headless  --langid=N  --tamper  --https (the server speaks TLS with a certificate
#   from a throw-away CA made for the run; "CAFile" in the demo's update.ini trusts that CA)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

headless=0
https=0
langid=""
tamper=0
for a in "$@"; do
  case "$a" in
    --headless) headless=1 ;;
    --langid=*) langid="/langid=${a#--langid=}" ;;
    --tamper) tamper=1 ;;
    --https) https=1 ;;
    *) echo "usage: scripts/demo.sh [--headless] [--langid=N] [--tamper] [--https]" >&2; exit 2 ;;
  esac
done
[ -n "${DISPLAY:-}" ] || headless=1

bash scripts/install-deps.sh
if ((headless)); then
  need=()
  for p in openbox wmctrl xdotool; do command -v "$p" >/dev/null || need+=("$p"); done
  if ((${#need[@]})); then
    SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
fi

echo "== building"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target update_app languages signoffer

out="$root/demo-out"
rm -rf "$out"
mkdir -p "$out/app/Languages" "$out/home" "$out/shots"
cp build/bin/update "$out/app/"
cp build/bin/Languages/*.lng "$out/app/Languages/"
export UPDATER_DEMO_RECORD="$out/installer-record.txt"

echo "== making the publisher's key"
publickey=$(build/bin/signoffer keygen "$out/publisher.pem")
echo "   $publickey"

scheme=http
server_args=(--signoffer "$root/build/bin/signoffer" --key "$out/publisher.pem" --app "Demo App")
((tamper)) && server_args+=(--setup-flip)
if ((https)); then
  echo "== making a throw-away CA and the server's certificate"
  bash tests/http/make_tls_certs.sh "$out/certs" >/dev/null
  cp "$out/certs/ca.pem" "$out/app/demo-ca.pem"
  scheme=https
  server_args+=(--tls-cert "$out/certs/good.pem" --tls-key "$out/certs/good.key")
fi

echo "== starting the update server (signed offer$( ((tamper)) && echo ', installer changed after signing'))"
python3 demo/server.py --port 0 "${server_args[@]}" > "$out/server.log" 2>&1 &
server=$!
xvfb=""; wm=""
cleanup() {
  kill "$server" 2>/dev/null || true
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do grep -q '^PORT ' "$out/server.log" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/^PORT /{print $2; exit}' "$out/server.log")
[ -n "$port" ] || { echo "the update server did not start" >&2; cat "$out/server.log" >&2; exit 1; }
echo "   $scheme://127.0.0.1:$port/update/"

cat > "$out/app/update.ini" <<INI
[Current]
AppName=Demo App
Version=1.0
buildId=2012
UpdateServer=$scheme://127.0.0.1:$port/update/
HomePage=$scheme://127.0.0.1:$port
PublicKey=$publickey
INI
if ((https)); then echo "CAFile=demo-ca.pem" >> "$out/app/update.ini"; fi

run_updater() { (cd "$out/app" && HOME="$out/home" XDG_CONFIG_HOME="$out/home/.config" ./update $langid); }

if ((!headless)); then
  echo "== running the updater (answer its boxes)"
  set +e; run_updater; status=$?; set -e
else
  echo "== running the updater under Xvfb"
  disp=:$((90 + RANDOM % 100))
  Xvfb "$disp" -screen 0 640x400x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
  export DISPLAY=$disp
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  openbox >/dev/null 2>&1 & wm=$!
  sleep 0.5
  shot() { import -window root "$out/shots/$1.png"; echo "   screenshot: demo-out/shots/$1.png ($2)"; }
  # Waits until a window with exactly this title count exists.
  wait_windows() { # title count seconds
    for _ in $(seq $(( $3 * 10 ))); do
      [ "$(wmctrl -l | awk -v t="$1" '{ $1=$2=$3=""; sub(/^ +/, ""); if ($0 == t) n++ } END { print n+0 }')" -ge "$2" ] && return 0
      sleep 0.1
    done
    return 1
  }
  run_updater & updater=$!
  if [ -n "$langid" ] && [ "$langid" = "/langid=1" ]; then title="Demo App Update"; else title="Mise à jour Demo App"; fi
  wait_windows "$title" 1 10 || { echo "no update window" >&2; exit 1; }
  sleep 0.3; shot 1-status "the window at start"
  wait_windows "$title" 2 15 || { echo "no offer box" >&2; exit 1; }
  sleep 0.5; shot 2-offer "the offer with the release notes"
  xdotool key --clearmodifiers Return   # Yes is the default button
  sleep 1.5; shot 3-download "the installer downloading"
  if ((tamper)); then
    wait_windows "Error" 1 30 || { echo "no refusal of the changed installer" >&2; exit 1; }
    sleep 0.3; shot 4-refused "the changed installer refused"
    xdotool key --clearmodifiers Return
    sleep 1; xdotool key --clearmodifiers Return
    # The last box said that the updater closes, and it does (killed only if it did not).
    ( sleep 5; kill "$updater" 2>/dev/null && echo "the updater did not end after its last box" >&2 ) & guard=$!
    wait "$updater" 2>/dev/null || true
    kill "$guard" 2>/dev/null || true
    status=0
    [ -e "$out/home/Demo App/Update/setup.exe" ] && status=1
    [ -e "$UPDATER_DEMO_RECORD" ] && status=1
  else
    wait_windows "Demo App" 1 30 || { echo "no box before the installer" >&2; exit 1; }
    sleep 0.3; shot 4-end "saved; asks to close the application before the installer starts"
    xdotool key --clearmodifiers Return
    set +e; wait "$updater"; status=$?; set -e
  fi
fi

echo
echo "== what happened"
folder="$out/home/Demo App/Update"
echo "-- requests the server saw:"; grep '^REQUEST' "$out/server.log" | sed 's/^/   /'
echo "-- $folder/webinfo.ini:"; sed 's/^/   /' "$folder/webinfo.ini" 2>/dev/null || echo "   (none)"
if [ -f "$folder/setup.exe" ]; then
  echo "-- setup.exe: $(stat -c %s "$folder/setup.exe") bytes downloaded"
else
  echo "-- setup.exe: not downloaded"
fi
echo "-- the installer:"; sed 's/^/   /' "$UPDATER_DEMO_RECORD" 2>/dev/null || echo "   (not started)"
echo "-- $folder/update.log:"; sed 's/^/   /' "$folder/update.log" 2>/dev/null || echo "   (none)"
echo "-- the updater's exit status: $status"
exit "$status"
