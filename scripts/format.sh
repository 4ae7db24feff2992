#!/usr/bin/env bash
# Lays out every tracked C++ source with clang-format (.clang-format).
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  changes nothing; lists the files that are not laid out
#                              and exits 1 when there is any
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    # clang-format names each file and line it would change.
    clang-format --style=file --dry-run --Werror "${files[@]}"
    exit
fi
clang-format -i --style=file "${files[@]}"
