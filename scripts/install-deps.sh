#!/usr/bin/env bash
# Installs what the project needs to build and test on Debian 12 (as root).
# Safe to run again: it only calls apt-get when a package is missing.
#
# Besides the native toolchain this brings the 32-bit Windows cross compiler
# and Wine (32-bit, through i386 multiarch) that scripts/run-windows-tests.sh
# uses to build the Windows module and run its tests, and Xvfb, the display
# its settings dialog test runs on (python3 shrinks the dialog's picture),
# and gnuplot, which draws the benchmark plots of docs/performance.md.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  googletest
  nlohmann-json3-dev libcli11-dev libopenimageio-dev
  qt6-base-dev
  clang clang-14 libclang-rt-14-dev
  g++-mingw-w64-i686 wine wine32:i386
  xvfb python3
  gnuplot-nox
)

# wine32 is an i386 package: the architecture must be known to dpkg first.
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture"
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  need_update=1
fi

if ((need_update)); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update
fi
if ((${#missing[@]})); then
  apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
fi
