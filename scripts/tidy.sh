#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: the cognitive-complexity bound) over the product's own
# sources, with the compile commands of the given build folders (default: build/, which
# scripts/test.sh makes; build-win/, which scripts/build-windows.sh makes, adds the
# Windows-only sources). A file compiled by several of them is checked once, with the first.
# Tests, fuzz targets and benchmarks are left out.
# A non-zero exit status (xargs: 123) when any function is over the bound.
set -euo pipefail
cd "$(dirname "$0")/.."
(($#)) || set -- build
status=0
seen="$(mktemp)"
trap 'rm -f "$seen"' EXIT
for build in "$@"; do
  [ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json" >&2; exit 2; }
  args=(--quiet --extra-arg=-Wno-unknown-warning-option)
  # A mingw-w64 build: clang parses for that target, with the cross compiler's C++ library
  # headers (clang does not find them by itself) and its own execution character set (the
  # build's CP1252 is GCC's; it does not change what is checked).
  compiler="$(python3 -c 'import json, sys; print(next(e["command"].split()[0] for e in json.load(open(sys.argv[1])) if e["file"].endswith(".cpp")))' \
    "$build/compile_commands.json")"
  if [[ "$compiler" == *mingw32* ]]; then
    args+=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-fexec-charset=UTF-8 --extra-arg=-nostdinc++)
    while read -r dir; do
      args+=("--extra-arg=-isystem$dir")
    done < <("$compiler" -xc++ -E -v /dev/null 2>&1 | sed -n '/<\.\.\.> search starts/,/End of/p' | grep '^ /.*c++')
  fi
  python3 - "$build/compile_commands.json" "$seen" <<'PY' | xargs -0 -r -P2 -n8 clang-tidy -p "$build" "${args[@]}" || status=$?
import json, os, subprocess, sys
compiled = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
seen = set(open(sys.argv[2]).read().split("\0")) - {""}
tracked = subprocess.run(["git", "ls-files", "*.cpp"], capture_output=True, text=True, check=True).stdout.split()
skip = ("tests/", "fuzz/", "bench/")
files = [f for f in tracked if not f.startswith(skip) and os.path.realpath(f) in compiled and f not in seen]
open(sys.argv[2], "a").write("".join(f + "\0" for f in files))
sys.stdout.write("\0".join(files))
PY
done
exit "$status"
