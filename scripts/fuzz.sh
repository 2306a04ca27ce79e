#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds: scripts/fuzz.sh TARGET SECONDS
# Targets: floppy_image hard_image file_system load_module basic_lister renderings view_mode
# Builds the targets with clang in build-fuzz (QB_FUZZ_BUILD overrides), writes the
# starting corpus there, adds the shared fixture images when present, and keeps
# the growing corpus in build-fuzz/corpus/TARGET. Findings land in build-fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -lt 2 ]]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

build=${QB_FUZZ_BUILD:-build-fuzz}
fixtures=${QB_FIXTURES_DIR:-../shared/fixtures}

if [[ ! -x $build/fuzz/fuzz_$target || -z ${QB_FUZZ_NO_BUILD:-} ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DQB_BUILD_FUZZ=ON -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target "fuzz_$target" fuzz_make_corpus -j "${QB_FUZZ_JOBS:-2}" >/dev/null
fi

start=$build/start
if [[ ! -d $start/$target ]]; then
  "$build/fuzz/fuzz_make_corpus" "$start"
fi

corpus=$build/corpus/$target
findings=$build/findings/$target
mkdir -p "$corpus" "$findings"

inputs=("$corpus" "$start/$target")
[[ -d fuzz/regressions/$target ]] && inputs+=("fuzz/regressions/$target")
case $target in
  floppy_image|file_system|hard_image)
    for folder in "$fixtures/real" "$fixtures/peer"; do
      [[ -d $folder ]] && inputs+=("$folder")
    done
    ;;
esac

exec "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -max_len=1100000 -print_final_stats=1 -artifact_prefix="$findings/" "$@" "${inputs[@]}"
