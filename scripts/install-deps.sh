#!/usr/bin/env bash
# Installs what the project needs to build and test on Debian 12 (as root).
# Safe to run again: it only calls apt-get when a package is missing.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
