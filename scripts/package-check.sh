#!/usr/bin/env bash
# Builds the Debian package from a build folder (default: build), runs lintian on it
# (errors fail the check), unpacks it into a scratch root and runs the installed qbox there.
#   scripts/package-check.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ "$build" = /* ]] || build="$root/$build"

"$root/scripts/build.sh" "$(realpath --relative-to="$root" "$build")"
rm -f "$build"/quarrybox_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/quarrybox_*.deb)
echo "package: $package ($(du -h "$package" | cut -f1))"

if command -v lintian >/dev/null; then
  report=$(lintian "$package" 2>&1 || true)
  echo "$report" | grep -E '^[EW]:' || true
  if echo "$report" | grep -q '^E:'; then
    echo "package-check: lintian reports errors" >&2
    exit 1
  fi
else
  echo "package-check: lintian is not installed; skipped"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg -x "$package" "$scratch"
"$scratch/usr/bin/qbox" --version
fixture="$root/../shared/fixtures/real"
image=$(ls "$fixture"/*.dsk "$fixture"/*.dmk 2>/dev/null | head -1 || true)
if [[ -n "$image" ]]; then
  echo "qbox ls $(basename "$image"):"
  "$scratch/usr/bin/qbox" ls -a "$image" | head -5
else
  "$scratch/usr/bin/qbox" new "$scratch/check.dsk" --type jv3 --dos trsdos23 --name CHECK >/dev/null
  "$scratch/usr/bin/qbox" ls -a "$scratch/check.dsk"
fi
echo "package-check: ok"
