#!/usr/bin/env bash
# Times the desktop program from the start of its process to a listed disk with the
# preview pane showing the first file, window painted, on a virtual X display: RUNS of
# each image, medians in milliseconds (scripts/first-preview-time.py).
# Usage: scripts/start-time.sh [RUNS] [IMAGE...]
# Without images: the real LDOS 5.3.1 and Montezuma CP/M disks beside the project, and a
# disk made by qbox holding a program (the preview then shows a disassembly).
# Builds quarrybox in Release in build-release-app/ (QB_APP_RELEASE_BUILD to change).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QB_APP_RELEASE_BUILD:-$root/build-release-app}
runs=${1:-15}
shift || true

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQB_WERROR=ON -DQB_BUILD_APP=ON -DQB_BUILD_TESTS=OFF \
  -DQB_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target quarrybox qbox -j 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Preferences of their own: no date-patch question on LDOS disks, nothing of the user's touched.
mkdir -p "$work/config/Brisbyn"
printf '[General]\nLDOSDateCheck=1\n' >"$work/config/Brisbyn/Quarrybox.conf"

images=("$@")
if [[ ${#images[@]} -eq 0 ]]; then
  fixtures="$root/../shared/fixtures/real"
  for name in jv3-dd40-ldos531-m3-system.dsk jv3-dd40-cpm22-montezuma-bios230-system.jv3; do
    [[ -e "$fixtures/$name" ]] && images+=("$fixtures/$name")
  done
  "$build/qbox" new "$work/program.dmk" --name TIMING >/dev/null
  printf '\x01\x05\x00\x70\xc3\x2d\x40\x02\x02\x00\x70' >"$work/a.cmd"
  "$build/qbox" put "$work/program.dmk" "$work/a.cmd" >/dev/null
  images+=("$work/program.dmk")
fi

printf 'image\tto first preview ms\tfastest ms\twhole process ms\tCPU ms\n'
for image in "${images[@]}"; do
  copy="$work/$(basename "$image")"
  [[ "$image" -ef "$copy" ]] || cp "$image" "$copy"
  result=$(XDG_CONFIG_HOME="$work/config" xvfb-run -a -s "-screen 0 1280x1024x24" \
    python3 "$root/scripts/first-preview-time.py" "$runs" "$build/src/app/quarrybox" "$copy")
  printf '%s\t%s\n' "$(basename "$image")" "$result"
done
