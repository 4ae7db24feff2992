#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: the cognitive-complexity bound) over the product's own
# sources that build/ compiles, with its compile commands (scripts/test.sh makes them).
# Tests, fuzz targets and benchmarks are left out, and so are the Windows-only sources:
# they compile only with the mingw-w64 toolchain.
# A non-zero exit status (xargs: 123) when any function is over the bound.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json" >&2; exit 2; }
python3 - "$build/compile_commands.json" <<'PY' | xargs -0 -P2 -n8 clang-tidy -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option
import json, os, subprocess, sys
compiled = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
tracked = subprocess.run(["git", "ls-files", "*.cpp"], capture_output=True, text=True, check=True).stdout.split()
skip = ("tests/", "fuzz/", "bench/")
files = [f for f in tracked if not f.startswith(skip) and os.path.realpath(f) in compiled]
sys.stdout.write("\0".join(files))
PY
