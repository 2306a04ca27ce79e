#!/usr/bin/env bash
# Makes 1,000 floppy images with qbox new and qbox put in a folder tree (once; kept in
# build/catalog-images), then times `qbox catalog` over the tree and prints the median
# and the images catalogued per second.
# usage: scripts/catalog-speed.sh [RUNS]   (default 9 runs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-9}
build=${QB_RELEASE_BUILD:-$root/build-release}
tree=$root/build/catalog-images
count=1000

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQB_WERROR=ON -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF \
  >/dev/null
cmake --build "$build" --target qbox -j "$(nproc)" >/dev/null
qbox=$build/qbox

if [[ $(find "$tree" -type f 2>/dev/null | wc -l) -lt $count ]]; then
  echo "making $count images in $tree ..."
  rm -rf "$tree"
  mkdir -p "$tree/files"
  for i in 1 2 3 4 5; do head -c $((i * 1500)) /dev/urandom >"$tree/files/prog$i.cmd"; done
  printf '10 PRINT "HELLO"\r\n20 GOTO 10\r\n' >"$tree/files/hello.bas"
  # Ten folders of a hundred, in all three formats and all three DOSes our formatter makes.
  kinds=("--type dmk --dos ldos" "--type jv3 --dos ldos" "--type jv1 --dos trsdos23" "--type jv3 --dos trsdos23"
    "--type dmk --dos trsdos13")
  for ((i = 0; i < count; i++)); do
    folder=$tree/shelf$((i / 100))/box$((i % 10))
    mkdir -p "$folder"
    image=$folder/disk$i.img
    # shellcheck disable=SC2086
    "$qbox" new "$image" ${kinds[i % ${#kinds[@]}]} --name "DISK$i" -f
    "$qbox" put "$image" "$tree/files/hello.bas" "$tree/files/prog$((i % 5 + 1)).cmd"
  done
  rm -rf "$tree/files"
fi

images=$(find "$tree" -type f | wc -l)
rows=$("$qbox" catalog "$tree" | wc -l)
read -r wall cpu <<<"$(python3 "$root/scripts/median-time.py" "$runs" "$qbox" catalog "$tree")"
echo "qbox catalog: $images images, $rows files listed"
echo "median wall ${wall} ms, CPU ${cpu} ms (both threads): $(echo "$images * 1000 / $wall" | bc) images per second"
