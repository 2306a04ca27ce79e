#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice:
# a normal build, and a build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh

export QT_QPA_PLATFORM=offscreen

scripts/build.sh build
(cd build && ctest --output-on-failure -j "$(nproc)")

# The qbox users get: a Release build, linked for a quick start (cmake/QuickStart.cmake),
# with every verb's code placed by the start-up order. A short round trip through it.
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF
scripts/release-smoke.sh build-release/qbox

scripts/build.sh build-asan -DQB_SANITIZE=ON -DQB_BUILD_APP=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$(nproc)")

if [[ -x scripts/fuzz-all.sh ]]; then
  scripts/fuzz-all.sh
fi
