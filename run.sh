#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quarrybox on IMAGE
# (or on a demo disk it makes itself when no image is given).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh build

# A demo disk: a fresh LDOS floppy holding a BASIC program in text form, a
# small load module and a text file, all stored with qbox.
make_demo_disk() {
  local disk=$1 files=build/demo-files
  mkdir -p "$files"
  printf '10 CLS\r\n20 PRINT "HELLO FROM QUARRYBOX"\r\n30 FOR I=1 TO 10: PRINT I;: NEXT I\r\n40 END\r\n' \
    >"$files/hello.bas"
  printf 'Quarrybox demo disk.\r\nTry: qbox ls -l build/demo.dmk\r\n' >"$files/readme.txt"
  # A load module: a load block putting "JP 402DH" at 7000H, then the transfer address 7000H.
  printf '\x01\x05\x00\x70\xc3\x2d\x40\x02\x02\x00\x70' >"$files/demo.cmd"
  # Chained: a caller's || switches off set -e inside the function.
  build/qbox new "$disk" --name DEMO &&
    build/qbox put "$disk" "$files/hello.bas" "$files/readme.txt" -t cr &&
    build/qbox put "$disk" "$files/demo.cmd"
}

image=${1:-}
if [[ -z "$image" ]]; then
  image=build/demo.dmk
  if [[ -x build/qbox && ! -e "$image" ]]; then
    make_demo_disk "$image" || { rm -f "$image"; echo "Could not make the demo disk."; exit 1; }
  fi
fi

if [[ -x build/src/app/quarrybox ]]; then
  exec build/src/app/quarrybox "$image"
elif [[ -x build/qbox ]]; then
  echo "The desktop program is not built yet; listing $image with qbox instead."
  build/qbox info "$image"
  exec build/qbox ls -l "$image"
else
  echo "Built the core library; the programs are not there yet."
fi
