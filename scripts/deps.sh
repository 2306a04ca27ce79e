#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# A second run finds everything present and installs nothing.
set -euo pipefail

QB_PACKAGES=(
  build-essential cmake pkg-config
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev lld
  qt6-base-dev
  libcli11-dev
  libfuse3-dev fuse3 attr
  xvfb xauth
)

missing=()
for pkg in "${QB_PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
