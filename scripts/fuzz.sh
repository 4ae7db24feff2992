#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs each for a fixed
# time on a copy of its seed corpus (fuzz/corpus/<name>), with its dictionary
# (fuzz/<name>.dict) and extra flags (fuzz/<name>.flags) when it has them. The copies, logs
# and crash inputs go to a scratch folder outside the repository, kept when a target fails.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (default 30 seconds, every target)
# Exit status 1 when any target found a crash, a leak, a time-out or a failed check.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
if [[ $# -gt 0 ]]; then shift; fi
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [[ "$seconds" -eq 0 ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
  exit 2
fi

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DUPDATER_FUZZ=ON -DUPDATER_WITH_QT=OFF \
  -DUPDATER_TESTS=OFF -DUPDATER_WARNINGS_AS_ERRORS="${UPDATER_WARNINGS_AS_ERRORS:-OFF}" >/dev/null
ninja -C "$build" -j2 fuzz_targets

if [[ $# -gt 0 ]]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name="$(basename "$source" _fuzz.cpp)"
    targets+=("$name")
  done
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/updater-fuzz.XXXXXX")"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
for name in "${targets[@]}"; do
  binary="$build/bin/${name}_fuzz"
  if [[ ! -x "$binary" ]]; then
    echo "== $name: no such fuzz target ($binary)" >&2
    failed+=("$name")
    continue
  fi
  dir="$work/$name"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  if [[ -d "fuzz/corpus/$name" ]]; then
    cp -R "fuzz/corpus/$name/." "$dir/corpus/"
  fi
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$dir/artifacts/")
  if [[ -f "fuzz/$name.dict" ]]; then
    options+=(-dict="fuzz/$name.dict")
  fi
  if [[ -f "fuzz/$name.flags" ]]; then
    read -r -a extra < "fuzz/$name.flags"
    options+=("${extra[@]}")
  fi
  echo "== $name: ${seconds}s"
  if "$binary" "${options[@]}" "$dir/corpus" >"$dir/log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' "$dir/log" || true
  else
    failed+=("$name")
    tail -n 80 "$dir/log"
    echo "== $name FAILED; inputs that show it:" >&2
    ls -l "$dir/artifacts" >&2
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzzing found problems in: ${failed[*]} (logs and inputs in $work)" >&2
  exit 1
fi
rm -rf "$work"
echo "fuzzing: ${#targets[@]} targets, ${seconds}s each, nothing found"
