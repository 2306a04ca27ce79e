#!/usr/bin/env bash
# A short round trip through a built qbox: a new LDOS disk, a file put on it, listed, read
# back byte for byte, and the disk described.
#   scripts/release-smoke.sh QBOX
set -euo pipefail
qbox=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$qbox" --version >/dev/null
"$qbox" new disk.jv3 --type jv3 --dos ldos --tracks 40 --sides 1 --density double --name SMOKE
head -c 5000 /dev/urandom >data.bin
"$qbox" put disk.jv3 data.bin
"$qbox" ls disk.jv3 | grep -qx 'DATA/BIN'
"$qbox" get disk.jv3 DATA/BIN -d out
cmp data.bin out/data.bin
"$qbox" info disk.jv3 >/dev/null
echo "release smoke test of $qbox: passed"
