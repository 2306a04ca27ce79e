#!/usr/bin/env bash
# Makes cmake/qbox-start-order.txt: the functions a short qbox run executes, which the
# Release link places together (see cmake/QuickStart.cmake). Run it again after changes
# that move where short runs spend their time; a stale list only costs speed.
#
# Each run below is executed under callgrind; a function used by more of the runs comes
# earlier, so the code every run needs (start-up, option parsing, opening a disk) sits in
# the first pages and each verb's own code follows.
#   scripts/start-order.sh [BUILD]    (BUILD defaults to build-release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-release}
fixtures=${QB_FIXTURES_DIR:-$root/../shared/fixtures}
command -v valgrind >/dev/null || { echo "start-order.sh needs valgrind" >&2; exit 1; }

touch "$root/cmake/qbox-start-order.txt"  # the link checks for it
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF \
  -DQB_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target qbox qbox_bench_images -j "$(nproc)" >/dev/null
qbox=$build/qbox

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/qbox_bench_images" "$work/images" >/dev/null
cpm_jv3=$fixtures/peer/cpm-row08-montezuma-micro-standard-data.jv3
"$qbox" convert "$cpm_jv3" "$work/cpm.raw" --type raw >/dev/null

runs=(
  "--version"
  "ls /nonexistent/disk.jv3"
  "ls $cpm_jv3"
  "ls $work/cpm.raw"
  "ls -l $work/images/ldos.jv3"
  "ls --json $work/images/trsdos23.jv1"
  "ls $work/images/trsdos13.dmk"
  "ls $work/images/hard.hdv -p 1"
  "ls $fixtures/peer/rsdos-0-full.dmk"
  "info $work/images/ldos.dmk"
  "get $cpm_jv3 STOCK.BAS -d $work/out -f"
  "cat $work/images/trsdos23.jv1 *"
  "check $work/images/ldos.jv3"
)
set -f  # the runs' words are taken as they stand: '*' is a DOS pattern, not the shell's
index=0
for run in "${runs[@]}"; do
  # shellcheck disable=SC2086  # each run is a list of words
  valgrind --tool=callgrind --demangle=no --compress-strings=no \
    --callgrind-out-file="$work/run.$index" "$qbox" $run >/dev/null 2>&1 || true
  index=$((index + 1))
done
set +f

# Names of the functions each run executed, counted over the runs, most used first.
for file in "$work"/run.*; do
  sed -n "s/^fn=//p" "$file" | sed "s/'[0-9]*$//" | grep -v '^0x\|^(below main)' | sort -u
done | sort | uniq -c | sort -k1,1nr -k2,2 | awk '{print $2}' >"$work/executed"

# Completed from the program's own symbols with what callgrind cannot see: the entry point;
# the cold part the compiler split off each function (its error and throwing paths, which
# refusals take); and every variant of a C library string function, since the one chosen
# at start-up depends on the processor and callgrind's emulated one is not the machine's.
nm "$qbox" | awk '{print $NF}' | sort -u >"$work/symbols"
python3 - "$work/executed" "$work/symbols" >"$root/cmake/qbox-start-order.txt" <<'PY'
import re
import sys

executed = open(sys.argv[1]).read().split()
symbols = set(open(sys.argv[2]).read().split())
variant = re.compile(r"^(__\w+?)_(sse2|ssse3|sse4_\d|avx|avx2|evex|avx512|erms)")
order, seen = [], set()

def add(name):
    if name in symbols and name not in seen:
        seen.add(name)
        order.append(name)

add("_start")
for name in executed:
    add(name)
    add(name + ".cold")
    match = variant.match(name)
    if match:
        for sibling in sorted(s for s in symbols if s.startswith(match.group(1) + "_")):
            add(sibling)
print("\n".join(order))
PY
echo "cmake/qbox-start-order.txt: $(wc -l <"$root/cmake/qbox-start-order.txt") functions"
