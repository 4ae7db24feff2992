#!/usr/bin/env bash
# Download benchmark: httpget against curl on 127.0.0.1, alternating runs.
#
#   bench/run.sh [ROUNDS]        (default 3 rounds per case)
#
# Environment: HTTPGET (default build/bin/httpget), BENCH_DIR (scratch folder for the
# downloaded files, default a fresh folder under /tmp), BENCH_CASES (space-separated subset
# of: sized chunked close sized64 https stall flush), UPDATER_RUN (default build/bin/bench_update_run: the
# updater's own run, offscreen, against curl), UPDATER_CASES (subset of: sized chunked close).
# The https case fetches from tls_bench_server.py with a throw-away CA made for the run (needs
# the openssl command line).
# Needs g++, curl and GNU time (/usr/bin/time); the benchmark is never run by the tests.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
httpget="${HTTPGET:-$root/build/bin/httpget}"
rounds="${1:-3}"

for tool in g++ curl /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install g++ curl time)" >&2; exit 2; }
done
[ -x "$httpget" ] || { echo "missing: $httpget (build the httpget target first)" >&2; exit 2; }

work="$(mktemp -d "${BENCH_DIR:-/tmp}/httpget-bench.XXXXXX")"
server_pid=""
tls_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -n "$tls_pid" ]; then kill "$tls_pid" 2>/dev/null || true; wait "$tls_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

g++ -O2 -std=c++20 -pthread "$here/bench_server.cpp" -o "$work/bench_server"
"$work/bench_server" > "$work/server.out" &
server_pid=$!
for _ in $(seq 50); do grep -q PORT "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port="$(awk '/PORT/ {print $2}' "$work/server.out")"
[ -n "$port" ] || { echo "bench server did not start" >&2; exit 1; }

bash "$root/tests/http/make_tls_certs.sh" "$work/certs" >/dev/null
python3 -u "$here/tls_bench_server.py" "$work/certs/good.pem" "$work/certs/good.key" > "$work/tls.out" &
tls_pid=$!
for _ in $(seq 100); do grep -q PORT "$work/tls.out" 2>/dev/null && break; sleep 0.1; done
tls_port="$(awk '/PORT/ {print $2}' "$work/tls.out")"
[ -n "$tls_port" ] || { echo "TLS bench server did not start" >&2; exit 1; }

updater="${UPDATER_RUN:-$root/build/bin/bench_update_run}"
[ -x "$updater" ] || { echo "note: $updater missing (ninja -C build bench_update_run): the updater's run is left out" >&2; updater=""; }

python3 "$here/bench.py" --httpget "$httpget" --server "$work/bench_server" --port "$port" \
  --tls-port "$tls_port" --cafile "$work/certs/ca.pem" \
  --rounds "$rounds" --work "$work" \
  ${BENCH_CASES:+--cases $BENCH_CASES} ${updater:+--updater "$updater"} \
  ${UPDATER_CASES:+--updater-cases $UPDATER_CASES}
