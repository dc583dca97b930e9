#!/usr/bin/env bash
# Installs what the project needs to build and test on Debian 12 (as root).
# Safe to run again: it only calls apt-get when a package is missing.
#
#   install-deps.sh demo   only what the Linux demo needs (scripts/run-demo.sh)
#   install-deps.sh        everything the tests need
#
# The render farm test starts a private Slurm cluster (Slurm and munge);
# help2man writes the manual page.
#
# Besides the native toolchain this brings the 32-bit and 64-bit Windows
# cross compilers and Wine (32-bit through i386 multiarch, and 64-bit) that
# scripts/run-windows-tests.sh uses to build the Windows modules and run
# their tests, and Xvfb, the display its settings dialog test runs on
# (python3 shrinks the dialog's picture). libxcb1-dev: the Qt dialog checks
# that the X server can be reached before Qt starts.
#
# gnuplot draws the benchmark plots of docs/performance.md; clang-tidy and
# clang-format check and format the code (scripts/check-style.sh).
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config
  nlohmann-json3-dev libcli11-dev libopenimageio-dev
)
if [[ ${1:-all} != demo ]]; then
  PACKAGES+=(
    libgtest-dev libgmock-dev libbenchmark-dev
    googletest
    qt6-base-dev libxcb1-dev
    clang clang-14 libclang-rt-14-dev clang-tidy clang-format
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
    xvfb python3
    help2man man-db
    slurmctld slurmd slurm-client munge
    gnuplot-nox
  )
fi

# wine32 is an i386 package: the architecture must be known to dpkg first.
need_update=0
if [[ ${1:-all} != demo ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
