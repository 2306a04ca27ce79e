#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quarrybox on IMAGE
# (or on a demo disk it makes itself when no image is given).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh build

image=${1:-}
if [[ -z "$image" ]]; then
  image=build/demo.dmk
  if [[ -x build/qbox && ! -e "$image" ]]; then
    build/qbox demo "$image"
  fi
fi

if [[ -x build/src/app/quarrybox ]]; then
  exec build/src/app/quarrybox "$image"
elif [[ -x build/qbox ]]; then
  echo "The desktop program is not built yet; listing $image with qbox instead."
  exec build/qbox ls "$image"
else
  echo "Built the core library; the programs are not there yet."
fi
