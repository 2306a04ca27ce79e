#!/usr/bin/env bash
# Checks the IMD and HFE files qbox writes with tools written by other people:
#   - MAME's floptool (Debian mame-tools) must identify each file as IMD or HFE;
#   - libdsk's dsktrans (Debian libdsk-utils), told the geometry (its own guess is not
#     reliable), copies each file to a raw sector dump that must equal, byte for byte, the
#     dump a small reader of the IMD records in this script makes from the same file.
# The files are disks our formatter makes (TRSDOS 2.3, TRSDOS 1.3, LDOS on two sides) and
# the real archived CP/M disk of the fixtures after a round trip through DMK.
# The peers are unpacked into build/peers (Debian packages, dpkg -x, no root needed, the
# system untouched). Not run by ./test.sh: it downloads.
# usage: scripts/peer-check.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QB_BUILD:-$root/build}
peers=$root/build/peers
fixtures=${QB_FIXTURES_DIR:-$root/../shared/fixtures}

if [[ ! -x $build/qbox ]]; then
  cmake -S "$root" -B "$build" -DQB_BUILD_APP=OFF >/dev/null
  cmake --build "$build" --target qbox -j 2 >/dev/null
fi
qbox=$build/qbox

peer_debs=(mame-tools libsdl2-2.0-0 libflac12 libutf8proc2 libdsk4 libdsk-utils)
if [[ ! -x $peers/root/usr/bin/floptool || ! -x $peers/root/usr/bin/dsktrans ]]; then
  mkdir -p "$peers/debs"
  (cd "$peers/debs" && apt-get download "${peer_debs[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  for deb in "$peers"/debs/*.deb; do dpkg -x "$deb" "$peers/root"; done
fi
libs=$peers/root/usr/lib/x86_64-linux-gnu
export LD_LIBRARY_PATH=$libs:$libs/pulseaudio
floptool=$peers/root/usr/bin/floptool
dsktrans=$peers/root/usr/bin/dsktrans

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# dsktrans reads named geometries from the libdskrc in its home folder.
export HOME=$work
: >"$work/.libdskrc"

# The sectors of an IMD file in the order of a raw dump: cylinder, then head, then sector
# number; a sector the file has no data for is refused.
cat >"$work/imd2raw.py" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
pos = data.index(b"\x1a") + 1
sectors = {}
while pos < len(data):
    mode, cyl, head, count, size = data[pos:pos + 5]
    pos += 5
    numbers = data[pos:pos + count]
    pos += count
    if head & 0x80: pos += count
    if head & 0x40: pos += count
    if size == 0xFF: sys.exit("size tables are not expected here")
    length = 128 << size
    for number in numbers:
        kind = data[pos]
        pos += 1
        if kind == 0: sys.exit("unavailable sector on cylinder %d" % cyl)
        if kind % 2 == 0:
            body = data[pos:pos + 1] * length
            pos += 1
        else:
            body = data[pos:pos + length]
            pos += length
        sectors[(cyl, head & 1, number)] = body
sys.stdout.buffer.write(b"".join(sectors[key] for key in sorted(sectors)))
PY

failures=0
# check NAME CYLINDERS HEADS SECTORS SIZE FIRST FM
check() {
  local name=$1 image=$work/$1
  cat >>"$work/.libdskrc" <<EOF
[qb-$name]
description = $name
sides = alt
cylinders = $2
heads = $3
sectors = $4
secsize = $5
secbase = $6
datarate = DD
fm = $7
EOF
  if "$floptool" identify "$image" 2>&1 | grep -q ' - imd '; then
    echo "peer-check: $name: floptool identifies IMD"
  else
    echo "peer-check: $name: floptool does not identify it as IMD:" >&2
    "$floptool" identify "$image" >&2 || true
    failures=$((failures + 1))
  fi
  python3 "$work/imd2raw.py" "$image" >"$work/$name.expected"
  if "$dsktrans" -itype imd -otype raw -format "qb-$name" "$image" "$work/$name.raw" >/dev/null 2>&1 &&
    cmp -s "$work/$name.raw" "$work/$name.expected"; then
    echo "peer-check: $name: dsktrans reads every sector ($(stat -c %s "$work/$name.raw") bytes) as written"
  else
    echo "peer-check: $name: dsktrans does not read the sectors as written" >&2
    failures=$((failures + 1))
  fi
}

"$qbox" new "$work/trsdos23.imd" --type imd --dos trsdos23 >/dev/null
check trsdos23.imd 35 1 10 256 0 Y
"$qbox" new "$work/trsdos13.imd" --type imd --dos trsdos13 >/dev/null
check trsdos13.imd 40 1 18 256 1 N
"$qbox" new "$work/ldos.imd" --type imd --dos ldos --density double --sides 2 --tracks 40 >/dev/null
check ldos.imd 40 2 18 256 0 N
real=$fixtures/real/imd-mfm80ds-512b-cpm3-genie3s-boot.imd
if [[ -f $real ]]; then
  "$qbox" convert "$real" "$work/genie.dmk" --type dmk >/dev/null
  "$qbox" convert "$work/genie.dmk" "$work/genie.imd" --type imd >/dev/null
  check genie.imd 80 2 10 512 0 N
else
  echo "peer-check: $real missing (QB_FIXTURES_DIR); skipped"
fi

# HFE: floptool names the files; their contents are checked by the test-only decoder of
# tests/diskimage/HFETest.cpp (floptool's own conversion fails on many valid HFE files).
for dos in trsdos23 trsdos13; do
  "$qbox" new "$work/$dos.hfe" --type hfe --dos "$dos" >/dev/null
  if "$floptool" identify "$work/$dos.hfe" 2>&1 | grep -q ' - hfe '; then
    echo "peer-check: $dos.hfe: floptool identifies HFE"
  else
    echo "peer-check: $dos.hfe: floptool does not identify it as HFE:" >&2
    "$floptool" identify "$work/$dos.hfe" >&2 || true
    failures=$((failures + 1))
  fi
done

if ((failures > 0)); then
  echo "peer-check: $failures problem(s)" >&2
  exit 1
fi
echo "peer-check: all agree"
