#!/usr/bin/env bash
# Times whole processes of qbox against the peer tools, on the same images, in one run:
#   - cpmtools (cpmls, cpmcp) on the raw sector dump of a Montezuma Micro CP/M disk,
#     qbox on the JV3 image holding the same sectors;
#   - MAME's imgtool (dir, get) on a Color Computer RSDOS DMK image;
#   - the npm package trs80-base (a few lines of Node) on TRSDOS 2.3 and LDOS floppies.
# Prints the median wall-clock and CPU time of each and the ratio peer / qbox (above 1:
# qbox is faster), then the peak memory of `qbox ls` on a 100 MB hard disk.
# The peers are installed into build/peers (Debian packages unpacked with dpkg -x, no root
# needed, the system untouched; trs80-base with npm). Nothing is installed system-wide.
# usage: scripts/compare-peers.sh [RUNS]   (default 41 runs of each command)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-41}
build=${QB_RELEASE_BUILD:-$root/build-release}
peers=$root/build/peers
fixtures=${QB_FIXTURES_DIR:-$root/../shared/fixtures}
median="$root/scripts/median-time.py"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQB_WERROR=ON -DQB_BUILD_APP=OFF -DQB_BUILD_TESTS=OFF \
  -DQB_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target qbox qbox_bench_images -j "$(nproc)" >/dev/null
qbox=$build/qbox

# --- The peers -------------------------------------------------------------------------
peer_debs=(cpmtools libdsk4 mame-tools libsdl2-2.0-0 libflac12 libutf8proc2 libpulse0 libsamplerate0
  libdecor-0-0 libogg0 libsndfile1 libasyncns0 libvorbis0a libvorbisenc2 libopus0 libmpg123-0 libmp3lame0)
if [[ ! -x $peers/root/usr/bin/imgtool || ! -x $peers/root/usr/bin/cpmls ]]; then
  mkdir -p "$peers/debs"
  (cd "$peers/debs" && apt-get download "${peer_debs[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  for deb in "$peers"/debs/*.deb; do dpkg -x "$deb" "$peers/root"; done
fi
if [[ ! -d $peers/node/node_modules/trs80-base ]]; then
  npm install --silent --prefix "$peers/node" trs80-base >/dev/null
fi
libs=$peers/root/usr/lib/x86_64-linux-gnu
# Set by the timer itself: running env(1) first would add a second program start to the peer.
peer_env=("LD_LIBRARY_PATH=$libs:$libs/pulseaudio")
cpmls=$peers/root/usr/bin/cpmls
cpmcp=$peers/root/usr/bin/cpmcp
imgtool=$peers/root/usr/bin/imgtool

cat >"$peers/node/ls-trsdos.mjs" <<'JS'
// Lists a TRSDOS or LDOS floppy with trs80-base: name, size and date of each file.
import { readFileSync } from "node:fs";
import { decodeTrs80File, decodeTrsdos } from "trs80-base";
const disk = decodeTrs80File(readFileSync(process.argv[2]), process.argv[2]);
const dos = decodeTrsdos(disk);
if (!dos) { console.error("not a TRSDOS disk"); process.exit(1); }
for (const entry of dos.dirEntries)
    console.log(entry.getFilename("/"), entry.getSize(), entry.getDateString());
JS

# --- The images ------------------------------------------------------------------------
images=$peers/images
if [[ ! -f $images/hard.hdv ]]; then "$build/bench/qbox_bench_images" "$images"; fi
cpm_jv3=$fixtures/peer/cpm-row08-montezuma-micro-standard-data.jv3
rsdos_dmk=$fixtures/peer/rsdos-0-full.dmk
for image in "$cpm_jv3" "$rsdos_dmk"; do
  [[ -f $image ]] || { echo "missing $image (QB_FIXTURES_DIR)"; exit 1; }
done

# The CP/M disk as cpmtools reads it: every sector in track order, ids 1-10 ascending.
mkdir -p "$peers/cpm" "$peers/out"
python3 - "$cpm_jv3" "$peers/cpm/row08.raw" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
sizes = {0: 256, 1: 128, 2: 1024, 3: 512}
offset, sectors = 8704, {}
for i in range(2901):
    track, sector, flags = data[3 * i:3 * i + 3]
    free = track == 0xFF and sector == 0xFF
    size = sizes[(flags & 3) ^ (3 if free else 0)]
    if not free:
        sectors[(track, sector)] = data[offset:offset + size]
    offset += size
with open(sys.argv[2], "wb") as raw:
    for track in range(40):
        for sector in range(1, 11):
            raw.write(sectors[(track, sector)])
PY
cat >"$peers/cpm/diskdefs" <<'DEFS'
diskdef trs80-row08
  seclen 512
  tracks 40
  sectrk 10
  blocksize 2048
  maxdir 128
  boottrk 0
  skewtab 0,2,4,6,8,1,3,5,7,9
  os 2.2
end
DEFS

# --- The comparison --------------------------------------------------------------------
printf '%-34s %10s %10s %10s %10s %8s %8s\n' "job" "qbox ms" "peer ms" "qbox cpu" "peer cpu" "ratio" "cpu ratio"
compare() {  # compare LABEL -- QBOX COMMAND -- PEER COMMAND
  local label=$1; shift 2
  local qbox_command=() peer_command=()
  while [[ $1 != -- ]]; do qbox_command+=("$1"); shift; done
  shift
  peer_command=("$@")
  local times
  times=$("$median" "$runs" "${qbox_command[@]}" -- "${peer_command[@]}")
  read -r q_wall q_cpu p_wall p_cpu <<<"$(echo $times)"
  printf '%-34s %10.2f %10.2f %10.2f %10.2f %8.2f %8.2f\n' "$label" "$q_wall" "$p_wall" "$q_cpu" "$p_cpu" \
    "$(echo "$p_wall / $q_wall" | bc -l)" "$(echo "$p_cpu / ($q_cpu + 0.001)" | bc -l)"
}

cd "$peers/cpm"
compare "CP/M ls (cpmls)" -- "$qbox" ls "$cpm_jv3" -- "${peer_env[@]}" "$cpmls" -f trs80-row08 row08.raw
compare "CP/M ls, raw dump (cpmls)" -- "$qbox" ls row08.raw -- "${peer_env[@]}" "$cpmls" -f trs80-row08 row08.raw
compare "CP/M get 64 KB (cpmcp)" -- "$qbox" get "$cpm_jv3" STOCK.BAS -d "$peers/out" -f \
  -- "${peer_env[@]}" "$cpmcp" -f trs80-row08 row08.raw 0:stock.bas "$peers/out/"
compare "RSDOS ls (imgtool dir)" -- "$qbox" ls "$rsdos_dmk" -- "${peer_env[@]}" "$imgtool" dir coco_dmk_rsdos "$rsdos_dmk"
# qbox's RSDOS looks names up by pattern only, hence ALPHA.*
compare "RSDOS get (imgtool get)" -- "$qbox" get "$rsdos_dmk" 'ALPHA.*' -d "$peers/out" -f \
  -- "${peer_env[@]}" "$imgtool" get coco_dmk_rsdos "$rsdos_dmk" ALPHA.BIN "$peers/out/alpha.bin"
compare "TRSDOS 2.3 JV1 ls (trs80-base)" -- "$qbox" ls "$images/trsdos23.jv1" \
  -- node "$peers/node/ls-trsdos.mjs" "$images/trsdos23.jv1"
compare "LDOS JV3 ls (trs80-base)" -- "$qbox" ls "$images/ldos.jv3" -- node "$peers/node/ls-trsdos.mjs" "$images/ldos.jv3"

# Where a short run's time goes: page faults (each first touch of a page traps to the kernel,
# on a virtual machine often to the host as well) and instructions, for the same listing by
# qbox (raw dump and JV3) and by cpmls. QB_BEFORE_QBOX=path adds the rows of another qbox build.
startup_row() {  # startup_row LABEL [NAME=VALUE...] COMMAND...
  local label=$1; shift
  local environment=()
  while [[ $1 == *=* ]]; do environment+=("$1"); shift; done
  local faults="-" instructions="-"
  # The environment is given to the counting tool, so that no second program is counted.
  if command -v perf >/dev/null; then
    faults=$(env "${environment[@]}" perf stat -x, -r "$runs" -e page-faults "$@" 2>&1 >/dev/null |
      awk -F, '/page-faults/ {print $1}' || true)
  fi
  if command -v valgrind >/dev/null; then
    instructions=$(env "${environment[@]}" valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 \
      >/dev/null | awk '/Collected/ {print $4}' || true)
  fi
  printf '%-40s %12s %14s\n' "$label" "$faults" "$instructions"
}
printf '\n%-40s %12s %14s\n' "start-up and listing" "page faults" "instructions"
for build_label in "qbox:$qbox" ${QB_BEFORE_QBOX:+"before:$QB_BEFORE_QBOX"}; do
  name=${build_label%%:*} program=${build_label#*:}
  startup_row "$name ls CP/M raw dump" "$program" ls row08.raw
  startup_row "$name ls CP/M JV3" "$program" ls "$cpm_jv3"
  startup_row "$name ls (missing file: start-up only)" "$program" ls /nonexistent/disk.jv3
done
startup_row "cpmls raw dump" "${peer_env[@]}" "$cpmls" -f trs80-row08 row08.raw

peak=$(/usr/bin/time -f '%M' "$qbox" ls "$images/hard.hdv" -p 3 2>&1 >/dev/null | tail -1)
echo "peak resident size of qbox ls on the 100 MB HDV (4 partitions): ${peak} KB (limit 20480 KB)"
[[ $peak -lt 20480 ]]
