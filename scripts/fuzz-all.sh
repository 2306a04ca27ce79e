#!/usr/bin/env bash
# Builds the fuzz targets when clang is installed and runs each one briefly
# (about a minute in all). Any crash, leak, hang or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang++ >/dev/null; then
  echo "fuzz-all: clang++ not found, fuzz targets skipped"
  exit 0
fi

build=${QB_FUZZ_BUILD:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -DQB_BUILD_FUZZ=ON -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${QB_FUZZ_JOBS:-2}" >/dev/null
rm -rf "$build/start"

seconds=${QB_FUZZ_SECONDS:-8}
for binary in "$build"/fuzz/fuzz_*; do
  name=$(basename "$binary")
  [[ $name == fuzz_make_corpus ]] && continue
  target=${name#fuzz_}
  echo "fuzz-all: $target for ${seconds}s"
  log=$build/fuzz-$target.log
  # Inputs that once crashed a target run first, every time.
  if [[ -d fuzz/regressions/$target ]]; then
    if ! "$binary" -runs=0 "fuzz/regressions/$target" >"$log" 2>&1; then
      tail -n 40 "$log" >&2
      echo "fuzz-all: $target fails on a kept regression input; see $log" >&2
      exit 1
    fi
  fi
  if ! QB_FUZZ_NO_BUILD=1 scripts/fuzz.sh "$target" "$seconds" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz-all: $target found a problem; see $log and $build/findings/$target" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|Done)' "$log" || true
done
