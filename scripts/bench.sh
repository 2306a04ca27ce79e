#!/usr/bin/env bash
# Builds the benchmarks in Release (build-release/) and runs them.
# Extra arguments go to Google Benchmark, e.g. --benchmark_filter=Recognise
# or --benchmark_repetitions=9 --benchmark_report_aggregates_only=true.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QB_RELEASE_BUILD:-$root/build-release}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQB_WERROR=ON -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF \
  -DQB_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target qbox qbox_bench qbox_bench_images -j "$(nproc)"
"$build/bench/qbox_bench" "$@"
