#!/usr/bin/env bash
# Runs the desktop program's windows on a virtual X display and writes PNG
# pictures of the main window, the disk maps, the viewer in each rendering and the dialogs
# into docs/screenshots. Usage: scripts/screenshots.sh [IMAGE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/build.sh build >/dev/null

image=${1:-build/demo.dmk}
if [[ ! -e "$image" ]]; then
  if [[ -x build/qbox ]]; then
    build/qbox new "$image" --name DEMO >/dev/null
    printf 'Quarrybox demo disk.\r\nFiles from the host, shown as text.\r\n' >build/readme.txt
    printf '\x01\x05\x00\x70\xc3\x2d\x40\x02\x02\x00\x70' >build/demo.cmd
    build/qbox put "$image" build/readme.txt build/demo.cmd >/dev/null
  fi
  # Without qbox the screenshot tool makes a fresh LDOS disk of its own.
fi

out=docs/screenshots
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" build/src/app/quarrybox_screenshots "$image" "$out"
