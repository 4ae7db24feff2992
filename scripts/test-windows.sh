#!/usr/bin/env bash
# Runs the Windows build's tests (build-win/bin/*_test.exe) under wine, inside one Xvfb
# display and a fresh wine prefix under /tmp, with the HTTP servers they need running on the
# Linux side. Every wine call has a time limit. Prints "N passed, N failed" at the end.
set -uo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
bin="$root/build-win/bin"
limit="${WINE_TEST_TIMEOUT:-180}"

export UPDATER_SOURCE_DIR="$root"

# One display for every test; no window manager, so closing a window never waits on one.
echo "== wine prefix"
source scripts/wine-session.sh updater-wine
# The wine server stays up between the tests, so each start takes a fraction of a second.
wineserver -p &
pids+=($!)
# The window manager that wine's own desktop integration would use stays out of the way.
timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true

# Links planted on the Linux side of the prefix for win32_system_test: the files the updater
# writes must replace them, never write through them.
links="$WINEPREFIX/drive_c/planted-links"
mkdir -p "$links/folder.part"
printf 'precious\n' >"$links/victim.txt"
ln -s victim.txt "$links/create.part"
ln -s victim.txt "$links/written.ini.part"
ln -s victim.txt "$links/written.ini"
export UPDATER_WINE_LINKS='C:\planted-links\'

# The HTTP server of the client's integration tests, on the Linux side, port 0 read back.
python3 -u tests/http/real_http_server.py >"$work/server.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q ' port ' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
export UPDATER_REAL_SERVER_PORT="$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$work/server.out" | head -1)"
[ -n "$UPDATER_REAL_SERVER_PORT" ] || { echo "test server did not start"; cat "$work/server.out"; exit 1; }

# The TLS servers of win32_https_test, one per certificate (and two that ask for a client
# certificate), with throw-away certificates made for this run.
bash tests/http/make_tls_certs.sh "$work/certs" >/dev/null || { echo "test certificates not made"; exit 1; }
export UPDATER_TLS_CERTS="$work/certs"
tls_ports=()
start_tls() { # name certificate [server options]
  local out="$work/tls-$1.out"
  python3 -u tests/http/tls_http_server.py "$work/certs/$2.pem" "$work/certs/$2.key" "${@:3}" >"$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q ' port ' "$out" 2>/dev/null && break; sleep 0.1; done
  local port
  port="$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$out" | head -1)"
  [ -n "$port" ] || { echo "TLS server $1 did not start"; cat "$out"; exit 1; }
  tls_ports+=("$1=$port")
}
start_tls good good
start_tls good12 good --max-tls 1.2
start_tls wrongname wrongname
start_tls expired expired
start_tls self self
start_tls other other
start_tls cc12 good --max-tls 1.2 --require-client-cert "$work/certs/ca.pem"
start_tls cc13 good --require-client-cert "$work/certs/ca.pem"
UPDATER_TLS_PORTS="$(IFS=,; echo "${tls_ports[*]}")"
export UPDATER_TLS_PORTS

# The demo update server for the end-to-end tests, serving the stand-in installer.
python3 -u demo/server.py --installer "$bin/fake_setup.exe" --size 0 --rate 100000000 >"$work/demo.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^PORT ' "$work/demo.out" 2>/dev/null && break; sleep 0.1; done
export UPDATER_DEMO_PORT="$(sed -n 's/^PORT \([0-9]*\).*/\1/p' "$work/demo.out" | head -1)"
[ -n "$UPDATER_DEMO_PORT" ] || { echo "demo server did not start"; cat "$work/demo.out"; exit 1; }
# The same over https, with the test CA's certificate for 127.0.0.1.
python3 -u demo/server.py --installer "$bin/fake_setup.exe" --size 0 --rate 100000000 \
  --tls-cert "$work/certs/good.pem" --tls-key "$work/certs/good.key" >"$work/demo-https.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^PORT ' "$work/demo-https.out" 2>/dev/null && break; sleep 0.1; done
export UPDATER_DEMO_HTTPS_PORT="$(sed -n 's/^PORT \([0-9]*\).*/\1/p' "$work/demo-https.out" | head -1)"
[ -n "$UPDATER_DEMO_HTTPS_PORT" ] || { echo "https demo server did not start"; cat "$work/demo-https.out"; exit 1; }

# The demo server signing its offers with a publisher key made for the run, for the silent
# runs of update.exe; the signing tool comes from the Linux build (build/), when there is one.
if [ -x build/bin/signoffer ]; then
  build/bin/signoffer keygen "$work/publisher.pem" >"$work/publisher.pub"
  export UPDATER_PUBLISHER_KEY="$(cat "$work/publisher.pub")"
  python3 -u demo/server.py --installer "$bin/fake_setup.exe" --size 0 --rate 100000000 \
    --signoffer build/bin/signoffer --key "$work/publisher.pem" >"$work/demo-signed.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^PORT ' "$work/demo-signed.out" 2>/dev/null && break; sleep 0.1; done
  export UPDATER_SIGNED_DEMO_PORT="$(sed -n 's/^PORT \([0-9]*\).*/\1/p' "$work/demo-signed.out" | head -1)"
  [ -n "$UPDATER_SIGNED_DEMO_PORT" ] || { echo "signing demo server did not start"; cat "$work/demo-signed.out"; exit 1; }
else
  echo "(no build/bin/signoffer: the silent update.exe runs are skipped)"
fi

# Two squid instances for win32_proxy_test (one open to this machine, one with Basic
# authentication) and a PAC script that sends every address to the first, except those on
# the host "localhost", served over http.
start_squid() { # variable output-file [squid_proxy.py options]
  python3 -u tests/support/squid_proxy.py "${@:3}" >"$2" 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do grep -q ' port ' "$2" 2>/dev/null && break; sleep 0.1; done
  export "$1=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$2" | head -1)"
}
if [ -x /usr/sbin/squid ]; then
  export UPDATER_AUTH_SQUID_PASSWORD="w1ne-pass"
  start_squid UPDATER_SQUID_PORT "$work/squid.out"
  start_squid UPDATER_AUTH_SQUID_PORT "$work/squid-auth.out" --user alice --password "$UPDATER_AUTH_SQUID_PASSWORD"
  mkdir -p "$work/pac"
  printf 'function FindProxyForURL(url, host) {\n  if (host == "localhost") return "DIRECT";\n  return "PROXY 127.0.0.1:%s";\n}\n' \
    "$UPDATER_SQUID_PORT" >"$work/pac/proxy.pac"
  (cd "$work/pac" && exec python3 -u -m http.server --bind 127.0.0.1 0) >"$work/pac.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q ' port ' "$work/pac.out" 2>/dev/null && break; sleep 0.1; done
  export UPDATER_PAC_URL="http://127.0.0.1:$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$work/pac.out" | head -1)/proxy.pac"
fi

# Cases whose expected texts are UTF-8 bytes, the narrow code page on Linux: on Windows the
# same texts are Windows-1252, which win32_codepage_test checks instead.
filter_of() {
  case "$1" in
    value_text_test) echo "-Utf8Decoding.ConvertsToTheNarrowCodePage" ;;
    message_catalogue_test) echo "-MessageCatalogue.DefaultsOfTheShownEntriesAreExact" ;;
    form_translation_test) echo "-TranslateForm.CaptionRules:TranslateForm.ComponentValues" ;;
    loc_engine_test) echo "-LocEngineStrings.TableEndsAtTheFirstGap" ;;
    *) echo "*" ;;
  esac
}

passed=0
failed=0
failures=()
for exe in "$bin"/*_test.exe; do
  name="$(basename "$exe" .exe)"
  log="$work/$name.log"
  if (cd "$bin" && timeout "$limit" wine "$exe" --gtest_brief=1 "--gtest_filter=$(filter_of "$name")" >"$log" 2>&1); then
    passed=$((passed + 1))
    echo "PASS $name ($(grep -o '[0-9]* tests\?' "$log" | head -1 || true))"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "FAIL $name"
    tail -40 "$log"
  fi
done

if ((${#failures[@]})); then echo "failed: ${failures[*]}"; fi
echo "$passed passed, $failed failed"
((failed == 0))
