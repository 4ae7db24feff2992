#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: the cognitive-complexity bound) over the product's own
# sources with the compile commands of build/ (scripts/test.sh makes them). The Windows
# backend and entry point are left out: they compile only with the mingw-w64 toolchain.
# Exit status 1 when any function is over the bound.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json" >&2; exit 2; }
git ls-files '*.cpp' | grep -Ev '^(tests|fuzz|bench)/|^platform/win32/|^app/main_win32' |
  xargs -P2 -n8 clang-tidy -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option
