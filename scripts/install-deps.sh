#!/usr/bin/env bash
# Installs what the project needs to build and test on Debian 12 (as root).
# Safe to run again: it only calls apt-get when a package is missing.
#
#   install-deps.sh demo      only what the Linux demo needs (scripts/run-demo.sh)
#   install-deps.sh           everything the Linux tests need (scripts/run-tests.sh)
#   install-deps.sh windows   the Windows cross compilers and Wine
#                             (scripts/run-windows-tests.sh)
#
# The Linux tests need no package of another architecture. The render farm
# test starts a private Slurm cluster (Slurm and munge); help2man writes the
# manual page; Xvfb is the display the dialog tests run on; libxcb1-dev: the
# Qt dialog checks that the X server can be reached before Qt starts;
# gnuplot draws the benchmark plots of docs/performance.md; clang-tidy and
# clang-format check and format the code (scripts/check-style.sh); clang and
# its runtime build the fuzz targets; blender renders real multilayer frames
# headless for the render and Python tests; pybind11, numpy and pytest build
# and test the Python package; openimageio-tools (oiiotool) is what the
# sequence benchmark is measured against.
#
# "windows" brings the 32-bit and 64-bit mingw-w64 cross compilers, 64-bit
# Wine, and 32-bit Wine through i386 multiarch. 32-bit Wine is optional:
# where the i386 package index cannot be had (a mirror in the middle of a
# sync) or wine32:i386 cannot be installed, this says so loudly and goes on,
# and scripts/run-windows-tests.sh then runs the 64-bit build's tests only.
#
# `apt-get update` is tried up to three times. When an index still fails,
# the install goes ahead with the indexes that were read: if they hold the
# packages, a broken index of another architecture or suite costs nothing.
set -euo pipefail

what="${1:-tests}"
case "$what" in
  demo | tests | windows) ;;
  *)
    echo "usage: $0 [demo|tests|windows]" >&2
    exit 2
    ;;
esac

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config
  nlohmann-json3-dev libcli11-dev libopenimageio-dev
)
case "$what" in
  tests)
    PACKAGES+=(
      libgtest-dev libgmock-dev libbenchmark-dev googletest
      qt6-base-dev libxcb1-dev
      clang clang-14 libclang-rt-14-dev clang-tidy clang-format
      xvfb python3
      help2man man-db
      slurmctld slurmd slurm-client munge
      gnuplot-nox
      blender openimageio-tools
      pybind11-dev python3-pybind11 python3-dev python3-numpy python3-pytest
      python3-venv python3-setuptools python3-pip
    )
    ;;
  windows)
    # fonts-wine holds Marlett, which draws the caption buttons of the
    # dialog's window frame, and the Tahoma its controls are written in.
    PACKAGES+=(googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 fonts-wine xvfb python3)
    ;;
esac

export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

updated=0
update_indexes() {
  ((updated)) && return 0
  updated=1
  local attempt
  for attempt in 1 2 3; do
    if apt_get update; then
      return 0
    fi
    if ((attempt < 3)); then
      echo "install-deps: apt-get update failed (try $attempt of 3); trying again in $((attempt * 10)) s" >&2
      sleep $((attempt * 10))
    fi
  done
  echo "install-deps: apt-get update failed three times; installing from the indexes that were read" >&2
}

install_missing() {
  local missing=() pkg
  for pkg in "$@"; do
    installed "$pkg" || missing+=("$pkg")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  update_indexes
  apt_get install -y --no-install-recommends "${missing[@]}"
}

install_missing "${PACKAGES[@]}"

if [[ "$what" == windows ]] && ! installed wine32:i386; then
  # 32-bit Wine: best effort, since the Windows tests can run without it.
  wine32_ok=1
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture"
    dpkg --add-architecture i386
  fi
  updated=0
  update_indexes
  if ! apt_get install -y --no-install-recommends wine32:i386; then
    wine32_ok=0
  fi
  if ((!wine32_ok)); then
    cat >&2 <<'EOF'
################################################################################
install-deps: WARNING: wine32:i386 could not be installed (the i386 package
index may be unavailable for a while). The 32-bit Windows plug-in is still
built and its file checked, but its tests cannot run under 32-bit Wine here:
only the 64-bit build's tests will run.
################################################################################
EOF
  fi
fi
exit 0
